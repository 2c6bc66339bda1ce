"""The korvex command: pipelines, scripts with kept results, batches, exit codes."""
import os
import re
import subprocess

import pytest

CLI = os.environ.get("KORVEX_CLI", "korvex")
SAMPLES = os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "samples")


def korvex(*args, **kw):
    return subprocess.run([CLI, *args], capture_output=True, text=True, **kw)


def test_a_pipeline_prints_values_and_by_reference_results(tmp_path):
    out = tmp_path / "p2.jpg"
    r = korvex("-LoadFromFile", os.path.join(SAMPLES, "scan.tif"), "-TiffGetPageCount",
               "-TiffSelectPage", "2", "-GetWidth", "-SaveAsJpeg", str(out), "80",
               "-SaveAsByteArray", "_", "_", "gif")
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[:2] == ["2", "850"]
    assert lines[2].startswith("arBytes=Byte(") and lines[3].startswith("nBitsRead=")
    assert out.read_bytes()[:3] == b"\xff\xd8\xff"


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
    assert (tmp_path / "photo copy.png").exists()
    bad = tmp_path / "bad.kx"
    bad.write_text("CreateImage 4 4\nFlyToTheMoon\n")
    r = korvex("--script", str(bad))
    assert r.returncode == 2 and "bad.kx:2" in r.stderr


def test_batches_run_each_input_in_workers_and_sum_up_failures(tmp_path):
    inputs = [os.path.join(SAMPLES, n) for n in ("photo.jpg", "logo.png", "gradient.bmp")]
    inputs.append(str(tmp_path / "missing.gif"))
    r = korvex("--batch", "-j", "2", *inputs, "--", "-LoadFromFile", "{}", "-GetWidth",
               "-SaveAsPng", str(tmp_path / "{stem}.png"))
    assert r.returncode == 1
    assert "3 of 4 inputs done, 1 failed" in r.stderr
    assert "missing.gif: LoadFromFile: status 10 FileNotFound" in r.stderr
    for stem in ("photo", "logo", "gradient"):
        assert (tmp_path / f"{stem}.png").exists()
    # One block per input that ran, each opened by the input's path.
    assert sorted(line.split(": ")[0] for line in r.stdout.splitlines() if not line.startswith(" ")) == \
        sorted(inputs[:3])


def test_members_help_and_version():
    r = korvex("--members")
    assert r.returncode == 0
    assert "CreateNewImage(nWidth As Long, nHeight As Long, [nPixelFormat As Integer = 32]" in r.stdout
    assert "SaveAsByteArray(ByRef arBytes As Byte(), ByRef nBitsRead As Long" in r.stdout
    assert korvex("--members", "NoClass").returncode == 2
    assert "usage:" in korvex("--help").stdout
    # The command and the module report the version written in project().
    with open(os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "CMakeLists.txt")) as f:
        version = re.search(r"project\(Korvex VERSION ([0-9.]+)", f.read()).group(1)
    assert korvex("--version").stdout.startswith(f"korvex {version} (")
    assert pytest.importorskip("korvex").__version__ == version
