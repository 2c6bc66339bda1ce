"""The README's scanning run from the shell, against SANE's test backend in a private
configuration folder (SANE reads SANE_CONFIG_DIR; nothing under /etc is read)."""
import os
import subprocess

from PIL import Image


def test_a_page_scanned_to_a_group4_tiff_from_the_shell(tmp_path):
    conf = tmp_path / "sane"
    conf.mkdir()
    (conf / "dll.conf").write_text("test\n")
    (conf / "test.conf").write_text('number_of_devices 1\nresolution 75\ntest-picture "Solid black"\n')
    page = tmp_path / "page.tif"
    env = dict(os.environ, SANE_CONFIG_DIR=str(conf))
    r = subprocess.run([os.environ.get("KORVEX_CLI", "korvex"), "-TwainOpenDefaultSource",
                        "-TwainSetCurrentPixelType", "0", "-TwainSetCurrentResolution", "300",
                        "-TwainAcquire", "-SaveAsTiff", str(page), "4",
                        "-TwainSelectFeeder", "True", "-TwainAcquire", "-TwainGetCurrentResolution"],
                       capture_output=True, text=True, env=env)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split()[-1] == "300"
    with Image.open(page) as im:
        # 80 x 100 mm at 300 dpi; a solid black page stays black.
        assert (im.size, im.mode, im.info["compression"]) == ((944, 1181), "1", "group4")
        assert im.info["dpi"] == (300, 300)
        assert im.getextrema() == (0, 0)
