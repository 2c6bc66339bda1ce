"""korvex --batch: progress as a bar on a terminal and as plain lines elsewhere, the
JSON-lines report, and the summary of failures."""
import json
import os
import pty
import subprocess

CLI = os.environ.get("KORVEX_CLI", "korvex")
SAMPLES = os.path.join(os.environ.get("KORVEX_SOURCE_DIR", "."), "samples")
INPUTS = [os.path.join(SAMPLES, n) for n in ("photo.jpg", "logo.png", "gradient.bmp")]


def batch(tmp_path, *options, inputs=INPUTS, terminal=False):
    """Runs a conversion batch; stderr goes to a pseudo-terminal when asked."""
    words = [CLI, "--batch", "-j", "2", *options, *inputs, "--", "-LoadFromFile", "{}",
             "-SaveAsPng", str(tmp_path / "{stem}.png")]
    if not terminal:
        r = subprocess.run(words, capture_output=True, text=True, timeout=60)
        return r.returncode, r.stderr
    master, slave = pty.openpty()
    p = subprocess.Popen(words, stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    data = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal closes with the program
            break
        if not chunk:
            break
        data += chunk
    os.close(master)
    return p.wait(timeout=60), data.decode()


def test_progress_is_a_bar_on_a_terminal_lines_elsewhere_or_nothing(tmp_path):
    code, shown = batch(tmp_path, terminal=True)
    assert code == 0
    bar = shown.replace("\r\n", "\n").split("\n")[0].split("\r")  # drawn over itself
    first, last = bar[1], bar[-1]
    assert first == "0/3 [" + " " * 30 + "] 0.0/s, -:-- left, 0 failed\x1b[K"
    assert last.startswith("3/3 [" + "#" * 30 + "] ") and " left, 0 failed\x1b[K" in last
    assert "korvex: " not in shown and "3 of 3 inputs done, 0 failed" in shown
    code, shown = batch(tmp_path)
    assert "\r" not in shown and "\x1b" not in shown
    lines = [line for line in shown.splitlines() if line.startswith("korvex: ")]
    assert [line.split(",")[0] for line in lines] == [f"korvex: {n}/3 inputs" for n in (1, 2, 3)]
    assert lines[-1].endswith(" 0:00 left, 0 failed")
    code, shown = batch(tmp_path, "--no-progress")
    assert code == 0 and shown.splitlines()[0].startswith("3 of 3 inputs done, 0 failed (")


def test_the_report_has_one_line_per_input_and_the_files_each_wrote(tmp_path):
    report = tmp_path / "report.jsonl"
    inputs = INPUTS + [str(tmp_path / "missing.gif"), str(tmp_path / "bad.png")]
    (tmp_path / "bad.png").write_bytes(b"not an image")
    for run in range(2):  # the second run replaces every output: still reported as written
        code, shown = batch(tmp_path, "--report", str(report), "--no-progress", inputs=inputs)
        assert code == 1 and "3 of 5 inputs done, 2 failed" in shown
        assert "failures by status: 10 FileNotFound: 1, 13 UnknownImageFormat: 1" in shown
        lines = {line["input"]: line for line in map(json.loads, report.read_text().splitlines())}
        assert sorted(lines) == sorted(inputs)
        for path in INPUTS:
            stem = os.path.splitext(os.path.basename(path))[0]
            assert (lines[path]["outputs"], lines[path]["status_name"], lines[path]["error"]) == \
                ([str(tmp_path / f"{stem}.png")], "Ok", None), run
        assert {k: lines[inputs[3]][k] for k in ("status", "status_name", "outputs", "error")} == \
            {"status": 10, "status_name": "FileNotFound", "outputs": [],
             "error": "LoadFromFile: status 10 FileNotFound"}
        assert lines[inputs[4]]["status_name"] == "UnknownImageFormat"
        assert all(line["attempts"] == 1 and line["seconds"] >= 0 for line in lines.values())
    code, shown = batch(tmp_path, "--report", str(tmp_path / "no" / "r.jsonl"))
    assert (code, shown) == (2, f"korvex: cannot write the report {tmp_path}/no/r.jsonl\n")
