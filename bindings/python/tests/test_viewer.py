"""The viewer through the Python module: a headless client area, properties
as attributes, events by name, the host's log."""
import os
import subprocess

import pytest

import korvex


def pixel(snapshot, x, y):
    width, _, data = snapshot
    at = (y * width + x) * 4
    return tuple(data[at:at + 4])


def test_headless_viewer_properties_events_and_snapshot():
    v = korvex.kxViewer(width=120, height=80)
    assert (v.ZoomMode, v.Zoom, v.ZoomStep, v.ScrollBars, v.InterpolationMode) == (1, 1.0, 10, True, 2)
    v.BackColor = 0x0000FF  # red, as a COLORREF
    assert pixel(v.snapshot(), 5, 5) == (0, 0, 255, 255)
    e = korvex.cKorvex()  # the engine captures the viewer's window
    assert e.CreateImageFromHwnd(v.hwnd) > 0 and e.GetWidth() == 120
    assert e.PixelGetColor(6, 6) & 0xFFFFFF == 0xFF0000
    seen = []
    v.on("Resize", lambda: seen.append("Resize"))
    v.on("ZoomChanged", lambda: seen.append("ZoomChanged"))
    v.resize_client(64, 48)
    width, height, data = v.snapshot()
    assert (width, height, len(data), seen) == (64, 48, 64 * 48 * 4, ["Resize"])
    v.ZoomStep = 0  # refused
    v.ZoomStep = 25
    v.PictureWidth = 9  # read-only: nothing changes
    assert (v.ZoomStep, v.PictureWidth) == (25, 0)
    v.Zoom = 2.5  # no image: stored, custom mode
    assert (v.Zoom, v.ZoomMode) == (2.5, 4)
    log = v.host_log()
    assert "property BackColor" in log and "resize 64x48" in log
    assert "menu mnzoom100 checked=1 enabled=1" in log
    with pytest.raises(AttributeError):
        v.ZoomStepp = 3
    with pytest.raises(korvex.DispatchError):
        v.on("NoSuchEvent", print)
    with pytest.raises(korvex.DispatchError):
        v.resize_client(2_000_000_000, 2_000_000_000)  # refused before allocating
    assert v.snapshot()[:2] == (64, 48)
    names = {m[0] for m in korvex.members("kxViewer")}
    assert {"Zoom", "SetZoomFit", "CoordObjectToImage"} <= names
    # Created by ProgID: the same class on a 400 x 300 headless client area.
    other = korvex.CreateObject("Korvex.kxViewer")
    assert other.snapshot()[:2] == (400, 300)
    assert other.CoordImageToObject(1, 1, None, None) == (None, 0, 0)


def test_command_lists_the_viewer_class():
    out = subprocess.run([os.environ.get("KORVEX_CLI", "korvex"), "--members", "kxViewer"],
                         capture_output=True, text=True, check=True).stdout
    assert out.startswith("kxViewer (Korvex.kxViewer) {6F1C2A50-")
    assert "0x6803000F Property Let BorderStyle(value As Long)" in out
    assert "0x60030005 SetZoom(nZoomPercent As Long) As ViewerStatus" in out


def test_command_lists_the_second_control():
    out = subprocess.run([os.environ.get("KORVEX_CLI", "korvex"), "--members", "KxViewerCnt"],
                         capture_output=True, text=True, check=True).stdout
    assert out.startswith("KxViewerCnt (Korvex.KxViewerCnt) {6F1C2A60-")
    for line in ("0x6803001A Property Let BorderStyle(value As Long)", "0x60030045 DisplayNextFrame() As ViewerStatus",
                 "0x60030380 RemoveObject(sControlName As String) As ViewerStatus"):
        assert line in out


def test_second_control_on_a_headless_host():
    cnt = korvex.KxViewerCnt(width=80, height=60)
    assert [m[0] for m in korvex.members("KxViewerCnt")] == [m[0] for m in korvex.members("kxViewer")]
    assert cnt.snapshot()[:2] == (80, 60) and repr(cnt) == "<Korvex.KxViewerCnt object>"
    assert (cnt.RemoveObject("HScroll"), cnt.RemoveObject("hscroll")) == (0, 8)
    assert "remove HScroll" in cnt.host_log()


def test_viewer_displays_a_png_file(tmp_path):
    e = korvex.cKorvex()
    e.CreateNewImage(20, 10, 24, 0xFF0000FF)  # opaque blue (ARGB)
    path = str(tmp_path / "blue.png")
    assert e.SaveAsPng(path) == 0
    v = korvex.kxViewer(width=60, height=40)
    assert v.DisplayFromFile(path) == 0
    assert (v.PictureWidth, v.PictureHeight, v.NumPages, v.Currentpage) == (20, 10, 1, 1)
    snap = v.snapshot()  # centred at 100 %: columns 20..39, rows 15..24
    assert [pixel(snap, x, y) for x, y in ((20, 15), (39, 24))] == [(255, 0, 0, 255)] * 2
    assert [pixel(snap, x, y) for x, y in ((19, 15), (40, 24))] == [(0, 0, 0, 255)] * 2
    v.ClosePicture()
    assert (v.GetNativeImage(), pixel(v.snapshot(), 20, 15)) == (0, (0, 0, 0, 255))


def test_injected_input_raises_events_and_handlers_change_by_reference_arguments():
    v = korvex.kxViewer(width=120, height=80)
    seen = []
    for name in ("MouseDown", "MouseMove", "MouseUp", "Click", "DblClick", "KeyDown", "KeyUp", "KeyPress"):
        v.on(name, lambda *args, name=name: seen.append((name,) + args))
    v.on("MouseDown", lambda button, shift, x, y: (4, shift, x + 1, y))  # by reference
    v.on("KeyUp", lambda code, shift: (109, shift))
    assert v.mouse("down", 1, 2, 10.5, 20) == (4, 2, 11.5, 20.0)
    assert v.mouse("move", 1, 0, 12, 22) == v.mouse("up", 1, 0, 12, 22) == (1, 0, 12.0, 22.0)
    v.click()
    v.click(double=True)
    assert (v.key("down", 65, 1), v.key("up", 107), v.key("press", 97)) == ((65, 1), (109, 0), (97,))
    v.wheel(120)  # no image shown: the wheel is not taken over
    assert seen == [("MouseDown", 1, 2, 10.5, 20.0), ("MouseMove", 1, 0, 12.0, 22.0),
                    ("MouseUp", 1, 0, 12.0, 22.0), ("Click",), ("DblClick",),
                    ("KeyDown", 65, 1), ("KeyUp", 107, 0), ("KeyPress", 97)]
    assert (v.MouseMode, v.RectDrawMode, v.isRectDrawed()) == (2, 13, False)
    assert v.GetRectValues(None, None, None, None) == (None, 1, 1, 0, 0)
    v.RectBorderColor = 0xFF
    assert "selection visible=0 at -1,-1 1x1 colour=255" in v.host_log()
    with pytest.raises(korvex.DispatchError):
        v.mouse("drag", 1, 0, 0, 0)


def test_properties_saved_and_loaded_as_a_dict_and_menu_items_chosen():
    v = korvex.kxViewer(width=120, height=80)
    assert v.save_properties() == {}  # all defaults: nothing stored
    v.ZoomStep, v.ScrollBars, v.Zoom = 25, False, 1.5
    saved = v.save_properties()
    assert saved == {"ZoomStep": 25, "ScrollBars": False, "Zoom": 1.5, "ZoomMode": 4}
    w = korvex.kxViewer(width=60, height=40)
    assert w.load_properties(dict(saved, MouseMode=99, NumPages=7)) == 0  # both ignored
    assert (w.ZoomStep, w.ScrollBars, w.Zoom, w.MouseMode, w.NumPages) == (25, False, 1.5, 2, 0)
    assert w.load_properties({"ZoomStep": "many"}) != 0  # damaged: every default back
    assert (w.ZoomStep, w.ScrollBars) == (10, True)
    w.SetItemMenuCaption(21, "Taille réelle")
    w.choose_menu_item("mnareaselection")
    assert w.MouseMode == 1 and 'menu mnzoom100 caption="Taille réelle"' in w.host_log()
