#!/usr/bin/env python3
"""One table of every benchmark workload against its peer.

Each bench appends its results, one tab-separated line per workload and
peer, to the file named by BENCH_TABLE (bench/measure.sh's table_row,
bench/table_row.h in the C++ benches, add() below in the Python parts):

    workload  korvex_seconds  korvex_peak_kb  peer  peer_seconds  peer_peak_kb

A peak of "-" is one not measured: a timing inside a running process, where
the peak belongs to the whole process and not to the workload.

    bench/table.py ROWS_FILE [--build BUILD_DIR] [--out docs/BENCHMARKS.md]

prints the table and writes it, with the date, the machine and the build
type, as Markdown.
"""
import argparse
import datetime
import os
import platform
import sys


def add(workload, korvex_s, korvex_kb, peer, peer_s, peer_kb):
    """Appends one line to the file named by BENCH_TABLE, when it is set."""
    path = os.environ.get("BENCH_TABLE")
    if not path:
        return
    with open(path, "a") as f:
        f.write(f"{workload}\t{korvex_s}\t{korvex_kb}\t{peer}\t{peer_s}\t{peer_kb}\n")


def read_rows(path):
    rows = []
    with open(path) as f:
        for n, line in enumerate(f, 1):
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 6:
                print(f"{path}:{n}: skipped, {len(fields)} fields", file=sys.stderr)
                continue
            w, kt, km, p, pt, pm = fields
            try:
                rows.append((w, float(kt), kb(km), p, float(pt), kb(pm)))
            except ValueError:
                print(f"{path}:{n}: skipped, not a number", file=sys.stderr)
    return rows


def kb(text):
    return None if text in ("", "-") else int(float(text))


def seconds(t):
    return f"{t * 1e3:.1f} ms" if t < 1 else f"{t:.2f} s"


def mib(k):
    return "-" if k is None else f"{k / 1024:.0f}"


def cells(row):
    w, kt, km, p, pt, pm = row
    ratio = f"{kt / pt:.2f}" if pt > 0 else "-"
    return [w, seconds(kt), mib(km), p, seconds(pt), mib(pm), ratio]


HEAD = ["workload", "korvex", "peak MiB", "peer", "peer time", "peer peak MiB", "korvex/peer"]
RIGHT = {1, 2, 4, 5, 6}  # columns of figures


def text_table(rows):
    body = [HEAD] + [cells(r) for r in rows]
    widths = [max(len(r[i]) for r in body) for i in range(len(HEAD))]
    lines = []
    for r in body:
        lines.append("  ".join(c.rjust(widths[i]) if i in RIGHT else c.ljust(widths[i])
                               for i, c in enumerate(r)).rstrip())
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)


def markdown_table(rows):
    def line(r):
        return "| " + " | ".join(c.replace("|", "\\|") for c in r) + " |"
    sep = "|" + "|".join("---:" if i in RIGHT else "---" for i in range(len(HEAD))) + "|"
    return "\n".join([line(HEAD), sep] + [line(cells(r)) for r in rows])


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def build_type(build):
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    return line.split("=", 1)[1].strip() or "(none)"
    except OSError:
        pass
    return "unknown"


def main():
    ap = argparse.ArgumentParser(description="Collects the benchmark rows of one run.")
    ap.add_argument("rows")
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--out", default="docs/BENCHMARKS.md")
    ap.add_argument("--runs", default="", help="runs of each measurement, when set for the run")
    args = ap.parse_args()

    rows = read_rows(args.rows)
    if not rows:
        print(f"no benchmark rows in {args.rows}", file=sys.stderr)
        return 1
    now = datetime.datetime.now(datetime.timezone.utc)
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    machine = f"{os.cpu_count()} cores (nproc), {cpu_model()}"
    runs = (f"{args.runs} of each command (`make bench BENCH_RUNS={args.runs}`); "
            "in-process timings keep their own counts" if args.runs else "each bench's default")
    print()
    print(f"All workloads, {now:%Y-%m-%d %H:%M} UTC, {machine}, {build_type(args.build)} build")
    print(text_table(rows))

    doc = f"""# Benchmarks

Written by `make bench` from one run: every workload of `bench/` next to the
tool a user would pick instead, measured in the same run on the same inputs.

- Date: {now:%Y-%m-%d %H:%M} UTC
- Machine: {machine}, {platform.system()} {platform.release()}
- Build type: {build_type(args.build)} (`cmake --preset release`)
- Runs: {runs}
- Load average when written: {load}. The machine is shared and busy (other
  people's builds and tests run on the same cores), so times are noisy:
  compare ratios within one run rather than absolute times across runs.

Times are the medians or best runs each bench reports (whole commands,
or warm inside a running process); **korvex/peer** is Korvex's time over the
peer's, below 1 where Korvex is faster. Peak memory is the peak resident set
of the whole command (`/usr/bin/time`); "-" marks timings inside a running
process, where no peak belongs to the workload alone.

{markdown_table(rows)}

The human-readable output of each bench, printed by `make bench` above the
table, carries the details: output sizes, shapes, quality figures.
"""
    os.makedirs(os.path.dirname(args.out) or ".", exist_ok=True)
    with open(args.out, "w") as f:
        f.write(doc)
    print(f"\nWritten to {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
