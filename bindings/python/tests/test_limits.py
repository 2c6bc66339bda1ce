"""The process's resource limits from Python: read, set by name, refused
values, the environment overrides, and a load refused by them."""
import os
import subprocess
import sys

import pytest

import korvex

SAMPLES = os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "samples")
DEFAULTS = {"pixels": 1 << 30, "pixel_bytes": 4 << 30, "download_bytes": 256 << 20,
            "inflate_ratio": 250}


def test_limits_are_read_set_and_reset_by_name():
    korvex.reset_limits()
    assert korvex.limits() == DEFAULTS
    korvex.set_limits(pixels=1000, inflate_ratio=7)
    assert korvex.limits() == dict(DEFAULTS, pixels=1000, inflate_ratio=7)
    e = korvex.cKorvex()
    assert e.LoadFromFile(os.path.join(SAMPLES, "scan.tif")) == 3  # OutOfMemory
    for bad in ({"pixels": 0}, {"pixels": -1}, {"pixels": 1.5}, {"pixels": True},
                {"pixels": 1 << 64}, {"no_such_limit": 5}, {"pixels": 5, "colours": 5}):
        with pytest.raises(ValueError):
            korvex.set_limits(**bad)
    assert korvex.limits()["pixels"] == 1000  # nothing changed by a refused call
    korvex.reset_limits()
    assert e.LoadFromFile(os.path.join(SAMPLES, "scan.tif")) == 0


@pytest.mark.parametrize("value,want", [("5000", 5000), ("05000", 5000), ("0", 1 << 30),
                                        ("-1", 1 << 30), ("5e3", 1 << 30), (" 5", 1 << 30)])
def test_environment_overrides_are_parsed_strictly(value, want):
    env = dict(os.environ, KORVEX_MAX_PIXELS=value, KORVEX_MAX_DOWNLOAD_BYTES="123")
    out = subprocess.run([sys.executable, "-c", "import korvex; print(korvex.limits())"],
                         env=env, capture_output=True, text=True, check=True).stdout
    assert eval(out) == dict(DEFAULTS, pixels=want, download_bytes=123)
