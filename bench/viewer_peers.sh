#!/bin/sh
# The viewer's first paint after a zoom change against libvips resizing the
# same region of the same 10000 x 10000 pixels to the same size with its
# cubic kernel (`vips resize`, from vips's own format so that decoding is not
# timed; median wall time of 5, which includes starting the command).
# usage: viewer_peers.sh [BUILD_DIR]
set -e
BUILD=${1:-build/release}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
"$BUILD/bench/viewer_bench" --raw "$WORK/src.rgb" | tee "$WORK/ours.txt"
vips rawload "$WORK/src.rgb" "$WORK/src.v" 10000 10000 3
rm -f "$WORK/src.rgb"
PYTHONPATH="$(dirname "$0")" /usr/bin/python3 - "$WORK" <<'PY'
import re, statistics, subprocess, sys, time
import table
work = sys.argv[1]
print("vips resize of the same region, median ms of 5 (command start included)")
for line in open(f"{work}/ours.txt"):
    m = re.search(r"zoom (\S+)\s+first paint\s+(\S+).*region (\d+),(\d+) (\d+)x(\d+) -> (\d+)x(\d+)", line)
    if not m:
        continue
    zoom, ours = m.group(1), float(m.group(2))
    x, y, w, h, dw, dh = map(int, m.groups()[2:])
    region = f"{work}/region.v"
    subprocess.run(["vips", "crop", f"{work}/src.v", region, str(x), str(y), str(w), str(h)], check=True)
    times = []
    for _ in range(5):
        t = time.perf_counter()
        subprocess.run(["vips", "resize", region, f"{work}/out.v", str(dw / w), "--vscale", str(dh / h),
                        "--kernel", "cubic"], check=True)
        times.append((time.perf_counter() - t) * 1000)
    peer = statistics.median(times)
    print(f"  zoom {zoom:4s} korvex {ours:8.1f} | vips resize {peer:8.1f}  x{ours / peer:5.2f}")
    table.add(f"viewer first paint at zoom {zoom}, 10000x10000", ours / 1e3, "-",
              "vips resize (command)", peer / 1e3, "-")
PY
