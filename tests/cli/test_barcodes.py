"""Barcodes from the korvex command and the Python module, read back by zbarimg."""
import os
import subprocess

from PIL import Image

import korvex


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True)


def test_an_ean13_stamped_on_a_label_from_the_shell_and_symbols_from_python(tmp_path):
    label, out, two = tmp_path / "label.png", tmp_path / "out.png", tmp_path / "two.png"
    Image.new("RGB", (500, 260), "white").save(label)
    r = run(os.environ.get("KORVEX_CLI", "korvex"), "-LoadFromFile", label, "-BarCodeDrawEAN13",
            "400638133393", "60", "40", "140", "12", "-SaveAsPng", out, "-BarCodeDraw25i", "1a", 1, 1, 35)
    assert (r.returncode, r.stderr.strip()) == (1, "BarCodeDraw25i: status 50 InvalidBarCode")
    assert run("zbarimg", "-q", "--nodbus", out).stdout == "EAN-13:4006381333931\n"
    e = korvex.cKorvex()
    e.CreateNewImage(700, 300, 8, -1)
    assert (e.BarCodeDraw39("KORVEX-39", 50, 20, 105, True), e.BarCodeDraw25i("20261207", 50, 160,
                                                                              105)) == (0, 0)
    assert e.SaveAsPng(str(two)) == 0
    read = sorted(run("zbarimg", "-q", "--nodbus", two).stdout.split("\n"))
    assert read == ["", "CODE-39:KORVEX-39P", "I2/5:20261207"]  # 197 mod 43 = 25, P
    assert (e.BarCodeIsValidEAN13("4006381333931"), e.BarCodeGetChecksum25i("123")) == (True, "6")
