"""Batches on a Dask cluster: every input converted once and reported once, even
when a worker dies mid-run; python3 -m korvex.batch against korvex --batch."""
import contextlib
import functools
import json
import os
import shutil
import signal
import subprocess
import sys

import distributed
import pytest
from PIL import Image

import korvex
import korvex.batch

TOP = os.environ.get("KORVEX_SOURCE_DIR", ".")
SAMPLES = os.path.join(TOP, "samples")
CLI = os.environ.get("KORVEX_CLI", "korvex")


def pipeline(out):
    return ["-LoadFromFile", "{}", "-GetWidth", "-SaveAsPng", f"{out}/{{stem}}.png"]


NAMES = ("photo.jpg", "logo.png", "gradient.bmp", "scan.tif", "icon.ico", "anim.gif")


def _inputs(folder):
    (folder / "out").mkdir()
    for name in NAMES:
        shutil.copy(os.path.join(SAMPLES, name), folder / name)
    return [str(folder / n) for n in NAMES] + [str(folder / "missing.png")]


def _dies_once(marker, victim, words, path, attempt):
    """korvex.batch's task, whose worker process dies at the victim's first run;
    each run leaves a line "name attempt" in the marker's log."""
    with open(marker + ".log", "a") as log:
        log.write(f"{os.path.basename(path)} {attempt}\n")
    if path.endswith(victim) and not os.path.exists(marker):
        open(marker, "w").close()
        os._exit(1)
    return korvex.batch.run_one(words, path, attempt)


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=3, threads_per_worker=2, processes=True,
                                       dashboard_address=None)
    c = distributed.Client(cluster)
    pids = set(c.run(os.getpid).values())
    yield c
    c.close()
    cluster.close()
    for pid in pids:  # whatever outlived the cluster's own shutdown
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGKILL)


def _check_converted(folder, results, out):
    """One result per input; each image converted to one PNG of its size."""
    by_name = {os.path.basename(r["input"]): r for r in results}
    assert len(results) == len(by_name) == len(NAMES) + 1
    missing = by_name.pop("missing.png")
    assert (missing["status"], missing["status_name"], missing["outputs"]) == (10, "FileNotFound", [])
    outputs = []
    for name in NAMES:
        r = by_name[name]
        stem = name.rsplit(".", 1)[0]
        with Image.open(folder / name) as original, Image.open(folder / "out" / f"{stem}.png") as png:
            assert (png.format, png.size) == ("PNG", original.size)
            assert (r["status"], r["values"]) == (0, [str(original.size[0])])
        outputs += r["outputs"]
    assert sorted(outputs) == sorted(f"{out}/{n.rsplit('.', 1)[0]}.png" for n in NAMES)
    assert sorted(os.listdir(folder / "out")) == sorted(os.path.basename(o) for o in outputs)
    return missing


@pytest.mark.parametrize("chunk", [1, 4])
def test_a_worker_killed_mid_run_loses_and_repeats_nothing(client, tmp_path, chunk):
    marker = str(tmp_path / "killed")
    seen = []
    # Chunks of 4: the victim ends the first chunk, missing.png fails inside the second.
    results = korvex.batch.run(client, _inputs(tmp_path), pipeline(tmp_path / "out"), seen.append,
                               task=functools.partial(_dies_once, marker, "scan.tif"), window=3,
                               chunk=chunk)
    assert os.path.exists(marker)  # a worker did die
    runs = open(marker + ".log").read().split("\n")[:-1]
    # Only the failing input is tried again, alone, not its chunk.
    assert [r for r in runs if r.endswith(" 2")] == ["missing.png 2"]
    assert seen == results
    assert [json.loads(r["report"])["outputs"] for r in results] == [r["outputs"] for r in results]
    missing = _check_converted(tmp_path, results, tmp_path / "out")
    # A failing pipeline is tried once more; the killed worker's input was simply run again.
    assert missing["attempts"] == 2 and missing["exit_code"] == 1
    assert {r["attempts"] for r in results if r is not missing} == {1}


def test_a_task_that_raises_is_retried_then_reported(client):
    [r] = korvex.batch.run(client, ["a.png"], pipeline("out"), task=_raises)
    assert (r["exit_code"], r["status"], r["attempts"]) == (2, None, 2)
    assert r["error"] == "OSError: disk gone" and json.loads(r["report"])["error"] == r["error"]
    with pytest.raises(korvex.DispatchError, match="SaveAsPgn is not a member"):
        korvex.batch.run(client, ["a.png"], ["-LoadFromFile", "{}", "-SaveAsPgn", "x"])
    with pytest.raises(ValueError, match="at least 1 input"):
        korvex.batch.run(client, ["a.png"], pipeline("out"), chunk=0)


def _raises(words, path, attempt):
    raise OSError("disk gone")


def test_the_module_command_writes_the_report_of_the_korvex_command(tmp_path):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    reports = {}
    module = [sys.executable, "-m", "korvex.batch", "--workers", "2", "--chunk", "3"]
    for name, command in (("module", module), ("cli", [CLI, "--batch", "-j", "2"])):
        folder = tmp_path / name
        folder.mkdir()
        inputs = [os.path.relpath(p, folder) for p in _inputs(folder)]
        r = subprocess.run(command + ["--report", "report.jsonl", *inputs, "--", *pipeline("out")],
                           cwd=folder, env=env, capture_output=True, text=True, timeout=120)
        assert r.returncode == 1, r.stderr
        assert "6 of 7 inputs done, 1 failed" in r.stderr
        assert "missing.png: LoadFromFile: status 10 FileNotFound" in r.stderr
        lines = [json.loads(line) for line in (folder / "report.jsonl").read_text().splitlines()]
        _check_converted(folder, lines, "out")
        reports[name] = {line["input"]: line for line in lines}
    for line in (*reports["module"].values(), *reports["cli"].values()):
        del line["input"], line["seconds"], line["attempts"]
    assert reports["module"] == reports["cli"]
    r = subprocess.run([sys.executable, "-m", "korvex.batch", "a.png", "--", "-Nothing"],
                       env=env, capture_output=True, text=True, timeout=60)
    assert r.returncode == 2 and r.stderr.startswith("korvex: Nothing is not a member of cKorvex")
