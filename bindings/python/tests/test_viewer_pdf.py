"""PDF pages in the viewer through the Python module: a document written by
the engine's PDF writer, encrypted by qpdf, shown and paged in a headless
viewer, checked on its snapshot."""
import os
import subprocess

import korvex


def pixel(snapshot, x, y):
    width, _, data = snapshot
    at = (y * width + x) * 4
    return tuple(data[at:at + 4])


def test_viewer_shows_and_pages_an_encrypted_pdf(tmp_path, monkeypatch):
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    plain, locked = str(tmp_path / "plain.pdf"), str(tmp_path / "locked.pdf")
    e = korvex.cKorvex()
    assert e.PdfNewPdf(plain)
    e.PdfSetPageDimensions(200, 100)  # points
    for colour in (0x0000FF, 0xFF0000):  # a red bar on page 1, a blue one on page 2 (COLORREF)
        e.PdfNewPage()
        e.PdfDrawFillRectangle(10, 20, 30, 50, 0, colour)
        e.PdfEndPage()
    e.PdfSavePdf()
    subprocess.run(["qpdf", "--encrypt", "user", "owner", "256", "--", plain, locked], check=True)

    v = korvex.kxViewer(width=240, height=140)
    v.SilentMode = True
    assert v.DisplayFromPdfFile(locked) == 23  # PdfNeedPassword
    v.PdfDpiRendering = 72  # one pixel per point: the 200 x 100 page is centred at 20, 20
    assert v.DisplayFromPdfFile(locked, "user") == 0
    assert (v.PictureWidth, v.PictureHeight, v.NumPages, v.HorizontalResolution) == (200, 100, 2, 72)
    snap = v.snapshot()
    # The bar covers points 10..40 across and 30..80 down from the top of the page.
    assert pixel(snap, 20 + 25, 20 + 50) == (0, 0, 255, 255)
    assert pixel(snap, 20 + 100, 20 + 50) == (255, 255, 255, 255)
    assert pixel(snap, 5, 5) == (0, 0, 0, 255)  # the viewer's black background
    assert v.DisplayNextFrame() == 0 and v.Currentpage == 2
    assert pixel(v.snapshot(), 20 + 25, 20 + 50) == (255, 0, 0, 255)
    v.ClosePicture()
    assert sorted(os.listdir(tmp_path)) == ["locked.pdf", "plain.pdf"]  # page files and copy gone
