"""Barcodes through the korvex command and the Python module, read back by zbarimg."""
import os
import subprocess

from PIL import Image

import korvex

CLI = os.environ.get("KORVEX_CLI", "korvex")


def zbar(path):
    r = subprocess.run(["zbarimg", "-q", "--nodbus", str(path)], capture_output=True, text=True)
    return sorted(r.stdout.splitlines())


def test_an_ean13_stamped_on_a_label_from_the_shell(tmp_path):
    label, out = tmp_path / "label.png", tmp_path / "out.png"
    Image.new("RGB", (500, 260), "white").save(label)
    r = subprocess.run([CLI, "-LoadFromFile", str(label), "-BarCodeDrawEAN13", "400638133393",
                        "60", "40", "140", "12", "-SaveAsPng", str(out),
                        "-BarCodeGetChecksumEAN13", "400638133393"],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == ["31"]
    assert zbar(out) == ["EAN-13:4006381333931"]
    r = subprocess.run([CLI, "-LoadFromFile", str(label), "-BarCodeDraw25i", "12a4", "60", "40",
                        "70"], capture_output=True, text=True)
    assert (r.returncode, r.stderr.strip()) == (1, "BarCodeDraw25i: status 50 InvalidBarCode")


def test_the_module_draws_and_checks_with_defaults(tmp_path):
    e = korvex.cKorvex()
    e.CreateNewImage(700, 300, 8, -1)
    assert e.BarCodeDraw39("KORVEX-39", 50, 20, 105, True) == 0
    assert e.BarCodeDraw25i("20261207", 50, 160, 105) == 0
    assert e.SaveAsPng(str(tmp_path / "two.png")) == 0
    check = e.BarCodeGetChecksum39("KORVEX-39")
    assert zbar(tmp_path / "two.png") == ["CODE-39:KORVEX-39" + check, "I2/5:20261207"]
    assert (e.BarCodeIsValidEAN13("4006381333931"), e.BarCodeIsValidEAN13("4006381333932")) == \
        (True, False)
    assert e.BarCodeGetChecksum25i("123") == "6"
