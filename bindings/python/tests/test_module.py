"""The Python module: members looked up at call time, conversions, by-reference
results as tuples, dispatch errors as exceptions."""
import os
import re

import pytest

import korvex

SAMPLES = os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "samples")


def test_objects_by_class_name_progid_and_clsid():
    assert repr(korvex.cKorvex()) == "<Korvex.cKorvex object>"
    e = korvex.CreateObject("Korvex.cKorvex")
    assert e.GetVersion() == 3.8
    assert korvex.CreateObject("{6F1C2A40-8B3E-4D27-9A51-3C0E7D2B9F01}").GetStat() == 0
    with pytest.raises(korvex.DispatchError):
        korvex.CreateObject("Korvex.Nothing")
    assert "LoadFromFile" in dir(e)


def test_members_run_with_defaults_and_statuses_are_returned():
    e = korvex.cKorvex()
    assert e.LoadFromFile(os.path.join(SAMPLES, "scan.tif")) == 0
    assert (e.GetImageFormat(), e.TiffGetPageCount(), e.GetWidth()) == ("TIFF", 2, 850)
    assert e.TiffSelectPage(2) == 0
    assert e.loadfromfile("/no/such/file.png") == 10  # case-insensitive; FileNotFound
    assert e.GetNativeImage() == 0
    # Optional arguments: omitted, or None in the middle.
    image = e.CreateNewImage(5, 4, None, 0xFFFF0000)  # unsigned colours are accepted
    assert image > 0 and e.GetWidth() == 5
    assert e.CreateNewImage(5, 4, 12) == 0 and e.GetStat() == 2


def test_by_reference_results_come_back_as_a_tuple():
    e = korvex.cKorvex()
    assert e.CreateImage(8, 6, 24) == 0
    status, data, size = e.SaveAsByteArray(None, None, "PNG")
    assert status == 0 and isinstance(data, bytes) and size == len(data)
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    # Bytes go back in, and an image comes out.
    other = korvex.cKorvex()
    assert other.LoadFromByteArray(data)[0] == 0
    assert (other.GetWidth(), other.GetHeight()) == (8, 6)
    # A Long array out: the 16 colours of a new 4-bit image, 1-based as hosts see it.
    assert e.CreateImage(2, 2, 4) == 0
    status, colours, count = e.ColorPaletteGet(None, None)
    assert (status, count, len(colours)) == (0, 16, 16)
    assert colours[12] & 0xFFFFFFFF == 0xFFFF0000
    # A Long array in, from a list or a numpy array.
    np = pytest.importorskip("numpy")
    assert e.ColorPaletteSet(np.array([-1, 0xFF00FF00 - (1 << 32)]))[0] == 0
    assert e.ColorPaletteGetColorsCount() == 2
    assert e.ColorPaletteSet([1, 2, 3])[0] == 0
    assert e.ColorPaletteGet(None, None)[1] == [1, 2, 3]


def test_dispatch_errors_raise_and_name_the_parameter():
    e = korvex.cKorvex()
    with pytest.raises(AttributeError):
        e.NoSuchMember
    with pytest.raises(korvex.DispatchError, match="nQuality"):
        e.SaveAsJpeg("x.jpg", "best")
    with pytest.raises(korvex.DispatchError, match="at most 1"):
        e.CloseImage(1, 2)
    with pytest.raises(korvex.DispatchError, match="nImageID"):
        e.CloseImage()
    with pytest.raises(korvex.DispatchError, match="overflows"):
        e.CreateImage(10, 10, 70000)


def test_every_member_declared_in_the_header_is_listed():
    header = open(os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "include/korvex/engine.h")).read()
    body = header[header.index("class cKorvex {"):]
    declared = set(re.findall(r"\n  [A-Za-z][\w:<>]*\s+(\w+)\(", body))
    listed = {m[0] for m in korvex.members("cKorvex")}
    assert listed == declared
    # Defaults as the header writes them.
    new_image = next(m for m in korvex.members("cKorvex") if m[0] == "CreateNewImage")
    assert [(p[0], p[3]) for p in new_image[2]] == [
        ("nWidth", None), ("nHeight", None), ("nPixelFormat", 32), ("nBackColor", -16777216)]


def test_drawing_with_point_arrays_and_text():
    e = korvex.cKorvex()
    assert e.CreateImage(60, 40, 24) == 0
    assert e.DrawFillRectangle(1, 1, 60, 40, -1) == 0
    # Point arrays: the inner lists run over the first index (x's, then y's).
    status, _ = e.DrawCurves([[5, 30, 55], [35, 5, 35]], 2, 0xFF0000FF, True)
    assert status == 0
    assert e.PixelGetColor(30, 5) & 0xFF > 0 and e.PixelGetColor(30, 5) != -1
    assert e.DrawText("Hi", 1, 1, 12, 0, 0xFF000000, "No Such Family 4711") == 14
    assert e.FontGetName(1) != "" and e.FontGetCount() >= 1
