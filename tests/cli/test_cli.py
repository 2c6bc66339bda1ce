"""The korvex command: pipelines, scripts with kept results, batches, exit codes."""
import importlib
import math
import os
import re
import subprocess

from PIL import Image

CLI = os.environ.get("KORVEX_CLI", "korvex")
TOP = os.environ.get("KORVEX_SOURCE_DIR", ".")
SAMPLES = os.path.join(TOP, "samples")


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kw)


def korvex(*args, **kw):
    return run(CLI, *args, **kw)


def test_a_pipeline_prints_values_and_by_reference_results(tmp_path):
    out = tmp_path / "p2.jpg"
    r = korvex("-LoadFromFile", os.path.join(SAMPLES, "scan.tif"), "-TiffGetPageCount",
               "-TiffSelectPage", "2", "-GetWidth", "-SaveAsJpeg", str(out), "80",
               "-SaveAsByteArray", "_", "_", "gif")
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[:2] == ["2", "850"]
    size = int(lines[3].removeprefix("nBitsRead="))
    assert lines[2:] == [f"arBytes=Byte({size} bytes)", f"nBitsRead={size}"] and size > 6
    assert out.read_bytes()[:3] == b"\xff\xd8\xff"
    with Image.open(os.path.join(SAMPLES, "scan.tif")) as tif, Image.open(out) as jpeg:
        tif.seek(1)
        assert (jpeg.format, jpeg.size) == ("JPEG", tif.size)


def test_a_failing_status_stops_the_pipeline_with_its_name(tmp_path):
    never = tmp_path / "never.png"
    r = korvex("-LoadFromFile", str(tmp_path / "missing.png"), "-SaveAsPng", str(never))
    assert r.returncode == 1
    assert r.stderr.strip() == "LoadFromFile: status 10 FileNotFound"
    assert not never.exists()
    r = korvex("-CreateImage", "4", "4", "-SaveAsJpeg", "x.jpg", "fine")
    assert r.returncode == 2 and "nQuality" in r.stderr
    r = korvex("LoadFromFile", "a.png")
    assert r.returncode == 2 and "not a member" in r.stderr


def test_negative_numbers_are_arguments_not_members():
    # A red line from x = 25 to -5 along row 5, a black one from y = -12.5 (-12) down column 10.
    r = korvex("-CreateImage", "20", "20", "24", "-DrawLine", "25", "5", "-5", "5", "1",
               "0xFFFF0000", "0", "-DrawLine", "10", "-12.5", "10", "30", "1", "-16777216", "0",
               "-PixelGetColor", "3", "5", "-PixelGetColor", "10", "15", "-PixelGetColor", "3", "6")
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == [str(0xFFFF0000 - (1 << 32)), str(-16777216), "-1"]


def test_scripts_keep_results_for_later_lines(tmp_path):
    script = tmp_path / "job.kx"
    script.write_text(
        "# two images in one engine\n"
        f"$photo = CreateImageFromFile {os.path.join(SAMPLES, 'photo.jpg')}\n"
        "$blank = CreateNewImage 32 16 24 -1\n"
        "SetNativeImage $photo\n"
        "GetWidth\n"
        f'SaveAsPng "{tmp_path / "photo copy.png"}"\n'
        "SetNativeImage $blank\n"
        "GetWidth\n"
        "CloseImage $photo\n")
    r = korvex("--script", str(script))
    assert r.returncode == 0, r.stderr
    photo, blank, width1, width2 = r.stdout.split()
    assert int(photo) > 0 and int(blank) > 0 and photo != blank  # the kept identifiers
    assert (width1, width2) == ("320", "32")
    with Image.open(tmp_path / "photo copy.png") as copy, \
            Image.open(os.path.join(SAMPLES, "photo.jpg")) as original:
        assert copy.size == original.size
    bad = tmp_path / "bad.kx"
    bad.write_text("CreateImage 4 4\nFlyToTheMoon\n")
    r = korvex("--script", str(bad))
    assert r.returncode == 2 and "bad.kx:2" in r.stderr


def test_members_help_and_version():
    r = korvex("--members")
    assert r.returncode == 0
    assert "CreateNewImage(nWidth As Long, nHeight As Long, [nPixelFormat As Integer = 32]" in r.stdout
    assert "SaveAsByteArray(ByRef arBytes As Byte(), ByRef nBitsRead As Long" in r.stdout
    assert korvex("--members", "NoClass").returncode == 2
    assert "usage:" in korvex("--help").stdout
    r = korvex("--help", "Rezise")
    assert (r.returncode, r.stderr) == (2, "korvex: Rezise is not a member of cKorvex (closest: Resize)\n")
    # The command and the module report the version written in project().
    with open(os.path.join(TOP, "CMakeLists.txt")) as f:
        version = re.search(r"project\(Korvex VERSION ([0-9.]+)", f.read()).group(1)
    assert korvex("--version").stdout.startswith(f"korvex {version} (")
    assert importlib.import_module("korvex").__version__ == version


def cardinal_spline(points, tension=0.5, steps=200):
    """Points along the curve through `points`: Bezier segments with control points tension / 3
    of the neighbours' difference away, the end points serving as their own outer neighbours."""
    out = []
    for i in range(len(points) - 1):
        p0, p1 = points[max(i - 1, 0)], points[i]
        p2, p3 = points[i + 1], points[min(i + 2, len(points) - 1)]
        c1 = [a + tension / 3 * (b - c) for a, b, c in zip(p1, p2, p0)]
        c2 = [a - tension / 3 * (b - c) for a, b, c in zip(p2, p3, p1)]
        for k in range(steps + 1):
            t, u = k / steps, 1 - k / steps
            out.append([u ** 3 * a + 3 * u * u * t * b + 3 * u * t * t * c + t ** 3 * d
                        for a, b, c, d in zip(p1, c1, c2, p2)])
    return out


def test_point_arrays_from_the_shell_draw_curves(tmp_path):
    out = tmp_path / "x.png"
    r = korvex("-CreateImage", "100", "100", "24", "-DrawCurves", "10,10;90,10;50,90", "3",
               "0xFFFF0000", "0", "-SaveAsPng", str(out))
    assert r.returncode == 0, r.stderr
    # The by-reference array comes back: x's in column 1, y's in column 2.
    assert r.stdout == "arPoints=10,90,50,10,10,90\n"
    samples = cardinal_spline([(10, 10), (90, 10), (50, 90)])
    with Image.open(out) as png:
        pixels = png.convert("RGB").load()
    red = 0
    for y in range(1, 101):
        for x in range(1, 101):
            # Pixel (x, y) is centred on the point (x, y); the pen is 3 wide, not antialiased.
            d = min(math.hypot(x - sx, y - sy) for sx, sy in samples)
            if d < 1.0:
                assert pixels[x - 1, y - 1] == (255, 0, 0), (x, y)
                red += 1
            elif d > 2.0:
                assert pixels[x - 1, y - 1] == (255, 255, 255), (x, y)
    assert red > 250


def test_white_bands_crop_a_scan_as_the_readme_shows(tmp_path):
    # The band rules are checked pixel for pixel in tests/engine (cleanup_test).
    scan, out = os.path.join(SAMPLES, "scan.tif"), tmp_path / "out.tif"
    r = korvex("-LoadFromFile", scan, "-CropWhiteBands", "99", "2", "-ConvertTo1Bpp",
               "-SaveAsTiff", str(out), "4")
    assert r.returncode == 0, r.stderr
    with Image.open(scan) as page, Image.open(out) as crop:
        assert crop.mode == "1" and crop.width < page.width and crop.height < page.height


def test_a_long_array_from_the_shell_becomes_a_palette():
    # A Long array from the shell becomes the 4-bit palette (printed back: arrays are by reference).
    r = korvex("-CreateImage", "2", "1", "24", "-ConvertTo4BppPal", "-16777216,-1",
               "-ColorPaletteGetColorsCount")
    assert (r.returncode, r.stdout.split()) == (0, ["nARGBColorsArray=-16777216,-1", "2"])


def test_pdf_examples_of_the_readme(tmp_path):
    # Page sizes and text of the PDF writer are checked against poppler's tools in tests/pdf.
    with open(os.path.join(TOP, "README.md")) as f:
        readme = f.read()
    assert "korvex --script samples/report.kx" in readme
    line = re.search(r"^  (korvex -LoadFromFile samples/scan\.tif -PdfSaveNativeMultiTIFFtoPDF .*?)"
                     r"\s+# prints 0$", readme, re.M).group(1)
    os.symlink(os.path.join(TOP, "samples"), tmp_path / "samples")
    (tmp_path / "out").mkdir()
    r = korvex("--script", "samples/report.kx", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    r = korvex(*line.split()[1:], cwd=tmp_path)
    assert (r.returncode, r.stdout) == (0, "0\n"), r.stderr
    for pdf in ("report.pdf", "scan.pdf"):
        check = run("qpdf", "--check", tmp_path / "out" / pdf)
        assert check.returncode == 0, check.stdout
    assert "Korvex report" in run("pdftotext", tmp_path / "out" / "report.pdf", "-").stdout


def _scan(path, kind, seed):
    """A 1-bit scan of a form (header band, boxed fields) or a letter (lines of words)."""
    import random
    from PIL import ImageDraw
    rnd = random.Random(seed)
    img = Image.new("1", (300, 424), 1)
    draw, dx, dy = ImageDraw.Draw(img), rnd.randrange(9), rnd.randrange(9)
    if kind == "form":
        draw.rectangle([10 + dx, 8 + dy, 279 + dx, 67 + dy], fill=0)
        for top in range(110 + dy, 110 + dy + 6 * 47, 47):
            draw.rectangle([20 + dx, top, 269 + dx, top + 29], outline=0, width=2)
    for y in range(60 + dy, 60 + dy + 22 * 14, 14) if kind == "letter" else ():
        x = 24 + dx
        while x < 260:
            w = 12 + rnd.randrange(30)
            draw.rectangle([x, y, x + w - 1, y + 2], fill=0)
            x += w + 6
    for _ in range(150):  # specks of dust
        img.putpixel((rnd.randrange(300), rnd.randrange(424)), 0)
    img.save(path)


def test_the_readme_document_families_are_learned_and_an_inbox_classified_in_batches(tmp_path):
    for folder in ("scans/forms", "scans/letters", "inbox", "out"):
        (tmp_path / folder).mkdir(parents=True)
    for seed in range(3):
        _scan(tmp_path / f"scans/forms/f{seed}.png", "form", seed)
        _scan(tmp_path / f"scans/letters/l{seed}.png", "letter", seed)
    for seed, kind in enumerate(("form", "letter", "letter", "form")):
        _scan(tmp_path / f"inbox/{seed}-{kind}.png", kind, 100 + seed)
    r = korvex("--batch", "-j", "2", "scans/forms", "scans/letters", "--",
               "-RADLearnDocuments", "{}", "out/{stem}.rad", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    assert sorted(r.stdout.splitlines()) == ["scans/forms: 3", "scans/letters: 3"]
    inbox = sorted(f"inbox/{p.name}" for p in (tmp_path / "inbox").iterdir())
    r = korvex("--batch", "-j", "2", *inbox, "--", "-RADLoadCompilationFile", "out/forms.rad",
               "-RADLoadCompilationFile", "out/letters.rad", "-LoadFromFile", "{}",
               "-RADGetFamilyDocID", "-RADGetLastRelevance", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    found = re.findall(r"^inbox/\d-(\w+)\.png: (\d+)\n  (\d+)$", r.stdout, re.M)
    assert len(found) == 4
    for kind, family, relevance in found:  # families in the order loaded
        assert (int(family), 90 <= int(relevance) <= 100) == (1 if kind == "form" else 2, True)


def test_printing_example_of_the_readme(tmp_path):
    with open(os.path.join(TOP, "README.md")) as f:
        line = re.search(r"^  (korvex -LoadFromFile samples/scan\.tif -PrintSetActivePrinter .*)$",
                         f.read(), re.M).group(1)
    os.symlink(os.path.join(TOP, "samples"), tmp_path / "samples")
    # No documents folder in HOME: the built-in printer writes to the current folder;
    # no print server reachable: only the built-in printer is listed.
    env = dict(os.environ, HOME=str(tmp_path), CUPS_SERVER=str(tmp_path / "no-cups.sock"))
    args = re.findall(r'"[^"]*"|\S+', line)[1:]
    r = korvex(*[a.strip('"') for a in args], "-PrintGetPrintersCount", cwd=tmp_path, env=env)
    assert (r.returncode, r.stdout) == (0, "True\n1\n"), r.stderr
    info = run("pdfinfo", tmp_path / "Print Process.pdf").stdout
    # scan.tif has two pages: the range 2..3 is lowered to page 2 alone, on A4.
    assert re.search(r"^Pages: +1$", info, re.M) and "(A4)" in info, info
