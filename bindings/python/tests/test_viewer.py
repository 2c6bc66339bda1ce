"""The viewer through the Python module: a headless client area, properties
as attributes, events by name, the host's log. What the viewer does with them
is checked in tests/viewer."""
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
    v.ZoomStep = 25
    v.PictureWidth = 9  # read-only: nothing changes
    assert (v.ZoomStep, v.PictureWidth) == (25, 0)
    log = v.host_log()
    assert "property BackColor" in log and "resize 64x48" in log
    with pytest.raises(AttributeError):
        v.ZoomStepp = 3
    with pytest.raises(korvex.DispatchError):
        v.on("NoSuchEvent", print)
    with pytest.raises(korvex.DispatchError):
        v.resize_client(2_000_000_000, 2_000_000_000)  # refused before allocating
    assert v.snapshot()[:2] == (64, 48)
    # Created by ProgID: the same class on a 400 x 300 headless client area.
    other = korvex.CreateObject("Korvex.kxViewer")
    assert other.snapshot()[:2] == (400, 300)
    assert other.CoordImageToObject(1, 1, None, None) == (None, 0, 0)
    cnt = korvex.KxViewerCnt(width=80, height=60)
    assert cnt.snapshot()[:2] == (80, 60) and repr(cnt) == "<Korvex.KxViewerCnt object>"


def test_command_lists_the_viewer_classes():
    for cls, head, border in (("kxViewer", "kxViewer (Korvex.kxViewer) {6F1C2A50-", "0x6803000F"),
                              ("KxViewerCnt", "KxViewerCnt (Korvex.KxViewerCnt) {6F1C2A60-",
                               "0x6803001A")):
        out = subprocess.run([os.environ.get("KORVEX_CLI", "korvex"), "--members", cls],
                             capture_output=True, text=True, check=True).stdout
        assert out.startswith(head)
        assert f"{border} Property Let BorderStyle(value As Long)" in out


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
    assert v.GetRectValues(None, None, None, None) == (None, 1, 1, 0, 0)
    with pytest.raises(korvex.DispatchError):
        v.mouse("drag", 1, 0, 0, 0)


def test_properties_saved_and_loaded_as_a_dict_and_menu_items_chosen():
    v = korvex.kxViewer(width=120, height=80)
    assert v.save_properties() == {}  # all defaults: nothing stored
    v.ZoomStep, v.ScrollBars, v.Zoom = 25, False, 1.5
    saved = v.save_properties()
    assert saved == {"ZoomStep": 25, "ScrollBars": False, "Zoom": 1.5, "ZoomMode": 4}
    w = korvex.kxViewer(width=60, height=40)  # what a bag ignores is checked in tests/viewer
    assert w.load_properties(saved) == 0
    assert (w.ZoomStep, w.ScrollBars, w.Zoom) == (25, False, 1.5)
    assert w.load_properties({"ZoomStep": "many"}) != 0  # a value of the wrong type
    w.SetItemMenuCaption(21, "Taille réelle")
    w.choose_menu_item("mnareaselection")
    assert w.MouseMode == 1 and 'menu mnzoom100 caption="Taille réelle"' in w.host_log()
