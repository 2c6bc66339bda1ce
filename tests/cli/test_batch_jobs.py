"""Batch workers: korvex --batch -j/--jobs (one worker per core by default), every
input done exactly once whatever the number of workers, and pixel loops that
give the same pixels on one core as on all of them."""
import json
import os
import subprocess

import pytest
from PIL import Image

import korvex

CLI = os.environ.get("KORVEX_CLI", "korvex")
SAMPLES = os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "samples")


def batch(*words):
    return subprocess.run([CLI, "--batch", *map(str, words)], capture_output=True, text=True,
                          timeout=120)


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """Seventeen pictures under different names: more inputs than any worker count below."""
    folder = tmp_path_factory.mktemp("in")
    paths = []
    for i in range(17):
        path = folder / f"in{i:02}.png"
        Image.effect_noise((40 + i, 30), 60 + i).convert("RGB").save(path)
        paths.append(path)
    return paths


@pytest.mark.parametrize("option", [[], ["-j", "1"], ["--jobs", "3"], ["-j", "64"]])
def test_every_input_is_done_once_whatever_the_workers(tmp_path, inputs, option):
    report = tmp_path / "report.jsonl"
    r = batch(*option, "--report", report, "--no-progress", *inputs, "--", "-LoadFromFile", "{}",
              "-GetWidth", "-SaveAsPng", tmp_path / "{stem}.png")
    assert r.returncode == 0, r.stderr
    lines = [json.loads(line) for line in report.read_text().splitlines()]
    assert sorted(line["input"] for line in lines) == sorted(map(str, inputs))
    assert all(line["outputs"] == [str(tmp_path / (p.stem + ".png"))] for line, p in
               zip(sorted(lines, key=lambda line: line["input"]), inputs))
    # Each input printed its width once, 40 + its number.
    widths = dict(line.split(": ") for line in r.stdout.splitlines())
    assert widths == {str(p): str(40 + i) for i, p in enumerate(inputs)}
    assert f"{len(inputs)} of {len(inputs)} inputs done, 0 failed" in r.stderr


@pytest.mark.parametrize("option", [["-j", "0"], ["--jobs", "two"], ["--jobs", "-3"],
                                    ["-j", "5000"], ["-j", "2x"]])
def test_a_worker_count_that_is_no_positive_number_is_refused(tmp_path, option):
    r = batch(*option, os.path.join(SAMPLES, "logo.png"), "--", "-LoadFromFile", "{}",
              "-SaveAsPng", tmp_path / "{stem}.png")
    assert r.returncode == 2
    assert f"korvex: {option[0]} takes a number of workers from 1 to 4096, not {option[1]}" \
        in r.stderr
    assert not list(tmp_path.iterdir())


def test_help_names_the_worker_option_and_its_default():
    r = subprocess.run([CLI, "--help"], capture_output=True, text=True)
    assert "--batch [-j|--jobs N]" in r.stdout and "default one per core" in r.stdout


def test_processor_count_is_the_cores_this_process_may_use():
    assert korvex.processor_count() == len(os.sched_getaffinity(0))


def test_pixel_loops_give_the_same_pixels_on_one_core_as_on_all(tmp_path):
    # Large enough for resampling and rotation to split their rows into bands.
    source = tmp_path / "noise.png"
    Image.effect_noise((1600, 1200), 80).convert("RGB").save(source)
    for threads in (0, 1, 2):
        r = korvex.run_pipeline(["-LoadFromFile", "{}", "-Resize", "1100", "900", "-RotateAngle", "33",
                                 "-SaveAsPng", str(tmp_path / f"t{threads}.png")],
                                str(source), 1, threads)
        assert r["exit_code"] == 0, r["error"]
    with Image.open(tmp_path / "t0.png") as a, Image.open(tmp_path / "t1.png") as b, \
            Image.open(tmp_path / "t2.png") as c:
        assert a.size == b.size and a.size != (1600, 1200)
        assert a.tobytes() == b.tobytes() == c.tobytes()
