"""The process's resource limits from Python: read, set by name, refused
values, and a load refused by them (the environment's values are read in
tests/engine)."""
import os

import pytest

import korvex

SCAN = os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "samples", "scan.tif")
DEFAULTS = {"pixels": 1 << 30, "pixel_bytes": 4 << 30, "download_bytes": 256 << 20,
            "inflate_ratio": 250}


def test_limits_are_read_set_and_reset_by_name():
    assert korvex.limits() == DEFAULTS
    korvex.set_limits(pixels=1000, inflate_ratio=7)
    assert korvex.limits() == dict(DEFAULTS, pixels=1000, inflate_ratio=7)
    e = korvex.cKorvex()
    assert e.LoadFromFile(SCAN) == 3  # OutOfMemory: 850 pixels a row
    for bad in ({"pixels": 0}, {"pixels": 1.5}, {"pixels": True}, {"pixels": 1 << 64},
                {"pixels": 5, "colours": 5}):
        with pytest.raises(ValueError):
            korvex.set_limits(**bad)
    assert korvex.limits()["pixels"] == 1000  # a refused call changes nothing
    korvex.reset_limits()
    assert e.LoadFromFile(SCAN) == 0
