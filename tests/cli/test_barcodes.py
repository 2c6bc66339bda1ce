"""The README's barcode run: an EAN-13 stamped on a label from the shell, read back by zbarimg.
The Python module reaches the same members through the same dispatch; every symbology is read
back by zbarimg in tests/barcode."""
import os
import subprocess

from PIL import Image


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True)


def test_an_ean13_stamped_on_a_label_from_the_shell(tmp_path):
    label, out = tmp_path / "label.png", tmp_path / "out.png"
    Image.new("RGB", (500, 260), "white").save(label)
    r = run(os.environ.get("KORVEX_CLI", "korvex"), "-LoadFromFile", label, "-BarCodeDrawEAN13",
            "400638133393", "60", "40", "140", "10", "-SaveAsPng", out, "-BarCodeDraw25i", "1a", 1, 1, 35)
    assert (r.returncode, r.stderr.strip()) == (1, "BarCodeDraw25i: status 50 InvalidBarCode")
    assert run("zbarimg", "-q", "--nodbus", out).stdout == "EAN-13:4006381333931\n"
