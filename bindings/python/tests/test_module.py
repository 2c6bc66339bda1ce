"""The Python module: members looked up at call time, conversions, by-reference
results as tuples, dispatch errors as exceptions."""
import inspect
import io
import os
import subprocess

import numpy as np
import pytest
from PIL import Image

import korvex

TOP = os.environ.get("KORVEX_SOURCE_DIR", ".")
SAMPLES = os.path.join(TOP, "samples")


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
    assert e.loadfromfile("/no/such/file.png") == 10  # case-insensitive; FileNotFound
    assert e.GetNativeImage() == 0
    # Optional arguments: omitted, or None in the middle.
    image = e.CreateNewImage(5, 4, None, 0xFFFF0000)  # unsigned colours are accepted
    assert image > 0 and e.GetNativeImage() == image and e.GetWidth() == 5
    assert e.PixelGetColor(5, 4) == 0xFFFF0000 - (1 << 32)
    assert e.CreateNewImage(5, 4, 12) == 0 and e.GetStat() == 2


def test_by_reference_results_come_back_as_a_tuple():
    e = korvex.cKorvex()
    assert e.CreateImage(8, 6, 24) == 0
    status, data, size = e.SaveAsByteArray(None, None, "PNG")
    assert status == 0 and isinstance(data, bytes) and size == len(data)
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    with Image.open(io.BytesIO(data)) as png:
        assert (png.format, png.size) == ("PNG", (8, 6))
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
    assert e.ColorPaletteSet(np.array([-1, 0xFF00FF00 - (1 << 32)]))[0] == 0
    assert e.ColorPaletteGetColorsCount() == 2
    assert e.ColorPaletteGet(None, None)[1:] == ([-1, 0xFF00FF00 - (1 << 32)], 2)
    assert e.ColorPaletteSet([1, 2, 3])[0] == 0


def test_dispatch_errors_raise_and_name_the_parameter():
    e = korvex.cKorvex()
    # Every kind of dispatch error is checked in tests/automation; here, how each reaches Python.
    cases = [(lambda: e.SaveAsJPG, AttributeError,
              r"^SaveAsJPG is not a member of cKorvex \(closest: SaveAsJpeg\)$"),
             (lambda: e.SaveAsJpeg("x.jpg", "best"), korvex.DispatchError, "nQuality"),
             (lambda: e.CreateImage(10, 10, 70000), korvex.DispatchError, "overflows")]
    for call, error, message in cases:
        with pytest.raises(error, match=message):
            call()


def test_members_list_parameters_with_their_defaults():
    # The member table itself is checked against engine.h in tests/automation.
    new_image = next(m for m in korvex.members("cKorvex") if m[0] == "CreateNewImage")
    assert [(p[0], p[3]) for p in new_image[2]] == [
        ("nWidth", None), ("nHeight", None), ("nPixelFormat", 32), ("nBackColor", -16777216)]


def test_point_arrays_go_in_as_nested_lists_or_text_and_come_back_as_lists():
    e = korvex.cKorvex()
    assert e.CreateImage(60, 40, 24) == 0
    # The inner lists run over the first index (x's, then y's).
    status, points = e.DrawCurves([[5, 30, 55], [35, 5, 35]], 2, 0xFF0000FF, True)
    assert (status, points) == (0, [[5, 30, 55], [35, 5, 35]])
    assert e.PixelGetColor(30, 5) == 0xFF0000FF - (1 << 32)  # the apex
    assert e.DrawCurves("5,35;30,5;55,35", 2, 0xFF0000FF, True) == (0, points)


def test_help_shows_parameters_defaults_and_result_as_the_command_does():
    e = korvex.cKorvex()
    cli = subprocess.run([os.environ.get("KORVEX_CLI", "korvex"), "--help", "Resize"],
                         capture_output=True, text=True, check=True)
    assert e.Resize.__doc__ == cli.stdout
    assert cli.stdout.splitlines()[:1] + cli.stdout.splitlines()[4:] == [
        "Resize(nNewPictureWidth As Long, nNewPictureHeight As Long, "
        "[nInterpolationMode As Long = 0]) As cKorvexStatus",
        "  nInterpolationMode  Long, optional, default 0",
        "  returns             cKorvexStatus (0 = Ok)"]
    assert str(inspect.signature(e.Resize)) == \
        "(nNewPictureWidth, nNewPictureHeight, nInterpolationMode=0)"
    assert str(inspect.signature(e.ColorPaletteGet)) == "(nColorsArray=None, nEntriesCount=None)"
    # Every member gets a signature Python can read.
    for name, *_ in korvex.members("cKorvex"):
        inspect.signature(getattr(e, name))


def test_colour_conversions_give_their_results_as_a_tuple_and_bytes_are_checked():
    e = korvex.cKorvex()
    assert e.ColorRGBtoHSL(0, 0, 255) == (0, 4.0, 1.0, 0.5)
    assert e.ColorCMYKtoRGB(300, 0, 0, 0, 7, 8, 9) == (2, 7, 8, 9)  # refused: outputs as given
    with pytest.raises(korvex.DispatchError, match="overflows a Byte"):
        e.ColorGetARGBValueFromARGB(256, 0, 0, 0)
