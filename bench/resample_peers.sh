#!/bin/sh
# Resize and rotation speed against the peers, on the same 6000 x 4000
# 24-bit pixels and in one run:
#  1. in process: bench_resample (path as $1, from an optimised build) against
#     OpenCV (resize INTER_AREA / INTER_CUBIC, warpAffine) and Pillow
#     (Image.resize, Image.rotate), best single call of several each;
#  2. whole commands (load a JPEG, resize or rotate, save a JPEG at quality 90):
#     the korvex command ($2, by default next to the bench in the build tree)
#     against libvips (`vips resize`, `vips rotate`) and ImageMagick
#     (/usr/bin/convert -resize, -rotate), with wall time and peak memory
#     from /usr/bin/time.
# Ratios are ours / theirs: below 1 means Korvex is faster. BENCH_FILTER
# (a regular expression) limits the in-process benchmarks; WHOLE=0 skips the
# whole commands.
set -e
BENCH=${1:-build/release/bench/bench_resample}
KORVEX=${2:-$(dirname "$BENCH")/../tools/korvex/korvex}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
. "$(dirname "$0")/magick_policy.sh"
magick_policy "$WORK"
"$BENCH" --benchmark_format=json ${BENCH_FILTER:+--benchmark_filter=$BENCH_FILTER} > "$WORK/ours.json"
PYTHONPATH="$(dirname "$0")" /usr/bin/python3 - "$WORK" "$KORVEX" <<'PY'
import json, math, os, shutil, subprocess, sys, time
import numpy as np, cv2
from PIL import Image
import table

work, korvex = sys.argv[1], sys.argv[2]
ours = {}  # best repetition of each benchmark
for b in json.load(open(os.path.join(work, "ours.json")))["benchmarks"]:
    if b.get("run_type", "iteration") == "iteration":
        name = b["name"].split("/")[0]
        ours[name] = min(ours.get(name, float("inf")), b["real_time"])

y, x = np.mgrid[0:4000, 0:6000]
img = np.dstack([(x ^ y) & 255, ((x * 7 + y * 3) >> 4) & 255, ((x + y) >> 5) & 255]).astype(np.uint8)
pil = Image.fromarray(img)

# RotateAngle(45)'s canvas and placement: the image turned about the canvas centre.
r = 45 * 3.141592657 / 180
W = math.ceil(abs(math.sin(r)) * 4000 + abs(math.cos(r)) * 6000)
H = math.ceil(abs(math.sin(r)) * 6000 + abs(math.cos(r)) * 4000)
rot = cv2.getRotationMatrix2D((3000, 2000), -45, 1.0)
rot[0, 2] += W / 2 - 3000
rot[1, 2] += H / 2 - 2000

def best(f, n):
    t = []
    for _ in range(n):
        s = time.perf_counter(); f(); t.append((time.perf_counter() - s) * 1000)
    return min(t)

half, double = (3000, 2000), (12000, 8000)
peers = {
  "BM_Half_HighQualityBicubic": [
      ("cv2 INTER_AREA", lambda: cv2.resize(img, half, interpolation=cv2.INTER_AREA)),
      ("cv2 INTER_CUBIC", lambda: cv2.resize(img, half, interpolation=cv2.INTER_CUBIC)),
      ("PIL BICUBIC", lambda: pil.resize(half, Image.BICUBIC))],
  "BM_Half_HighQualityBilinear": [
      ("cv2 INTER_AREA", lambda: cv2.resize(img, half, interpolation=cv2.INTER_AREA)),
      ("PIL BILINEAR", lambda: pil.resize(half, Image.BILINEAR))],
  "BM_Half_Bicubic": [
      ("cv2 INTER_CUBIC", lambda: cv2.resize(img, half, interpolation=cv2.INTER_CUBIC))],
  "BM_Double_Bicubic": [
      ("cv2 INTER_CUBIC", lambda: cv2.resize(img, double, interpolation=cv2.INTER_CUBIC)),
      ("PIL BICUBIC", lambda: pil.resize(double, Image.BICUBIC))],
  "BM_Double_HighQualityBicubic": [
      ("cv2 INTER_CUBIC", lambda: cv2.resize(img, double, interpolation=cv2.INTER_CUBIC))],
  "BM_Rotate45": [
      ("cv2 warpAffine LINEAR", lambda: cv2.warpAffine(img, rot, (W, H), flags=cv2.INTER_LINEAR)),
      ("PIL rotate BILINEAR", lambda: pil.rotate(-45, Image.BILINEAR, expand=True))],
}
print(f"In process, 6000 x 4000 24-bit (cv2 threads: {cv2.getNumThreads()}); best times in ms")
for name, ms in ours.items():
    line = f"  {name:30s} korvex {ms:7.1f}"
    slow = "Double" in name or "Rotate" in name
    for label, f in peers.get(name, []):
        p = best(f, 4 if slow else 9)
        line += f" | {label} {p:7.1f} x{ms / p:4.2f}"
        table.add(f"{name[3:]} 6000x4000, in process", ms / 1e3, "-", label, p / 1e3, "-")
    print(line)

# Whole commands on a JPEG of the same pixels.
src = os.path.join(work, "src.jpg")
pil.save(src, quality=92)
out = os.path.join(work, "out.jpg")
magick = "/usr/bin/convert"
jobs = [
  ("resize 50% cubic", [
      ("korvex", [korvex, "-LoadFromFile", src, "-Resize", "3000", "2000", "7", "-SaveAsJpeg", out, "90"]),
      ("vips", ["vips", "resize", src, out + "[Q=90]", "0.5", "--kernel", "cubic"]),
      ("magick", [magick, src, "-filter", "Catrom", "-resize", "3000x2000!", "-quality", "90", out])]),
  ("resize 200% cubic", [
      ("korvex", [korvex, "-LoadFromFile", src, "-Resize", "12000", "8000", "4", "-SaveAsJpeg", out, "90"]),
      ("vips", ["vips", "resize", src, out + "[Q=90]", "2", "--kernel", "cubic"]),
      ("magick", [magick, src, "-filter", "Catrom", "-resize", "12000x8000!", "-quality", "90", out])]),
  ("rotate 45", [
      ("korvex", [korvex, "-LoadFromFile", src, "-RotateAngle", "45", "-SaveAsJpeg", out, "90"]),
      ("vips", ["vips", "rotate", src, out + "[Q=90]", "45"]),
      ("magick", [magick, src, "-rotate", "45", "-quality", "90", out])]),
]

def timed(cmd):
    """(seconds, peak KiB), or the failing command's first line of complaint."""
    res = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + cmd, capture_output=True, text=True)
    lines = res.stderr.strip().splitlines()
    if res.returncode != 0:
        return next((l for l in lines if not l.startswith("Command exited")), "failed")[:60]
    secs, kb = lines[-1].split()
    return float(secs), int(kb)

if os.environ.get("WHOLE", "1") == "0":
    sys.exit(0)
print("Whole commands, JPEG in and out (quality 90); best wall time of 3, peak memory")
have = {"korvex": os.access(korvex, os.X_OK), "vips": shutil.which("vips") is not None,
        "magick": os.access(magick, os.X_OK)}
for title, cmds in jobs:
    line, base, base_kb = f"  {title:18s}", None, "-"
    for label, cmd in cmds:
        if not have[label]:
            line += f" | {label} missing"
            continue
        runs = [timed(cmd) for _ in range(3)]
        failure = next((r for r in runs if isinstance(r, str)), None)
        if failure:
            line += f" | {label} failed: {failure}"
            continue
        secs = min(r[0] for r in runs)
        peak = max(r[1] for r in runs) / 1024
        if label == "korvex":
            base, base_kb = secs, max(r[1] for r in runs)
            line += f" korvex {secs:5.2f} s {peak:5.0f} MiB"
        else:
            ratio = f" x{base / secs:4.2f}" if base else ""
            line += f" | {label} {secs:5.2f} s {peak:5.0f} MiB{ratio}"
            if base:
                table.add(f"{title}, JPEG to JPEG", base, base_kb, label, secs,
                          max(r[1] for r in runs))
    print(line)
PY
