#!/bin/sh
# Times bench_resample (path as $1, from an optimised build) and OpenCV /
# Pillow on the same 6000 x 4000 24-bit resizes in one run, and prints the ratios.
set -e
BENCH=${1:-build/bench/bench_resample}
"$BENCH" --benchmark_format=json > /tmp/resample_bench_$$.json
/usr/bin/python3 - /tmp/resample_bench_$$.json <<'PY'
import json, sys, time
import numpy as np, cv2
from PIL import Image
ours = {b["name"].split("/")[0]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]}
y, x = np.mgrid[0:4000, 0:6000]
img = np.dstack([(x ^ y) & 255, ((x * 7 + y * 3) >> 4) & 255, ((x + y) >> 5) & 255]).astype(np.uint8)
pil = Image.fromarray(img)
def best(f, n=5):
    t = []
    for _ in range(n):
        s = time.perf_counter(); f(); t.append((time.perf_counter() - s) * 1000)
    return min(t)
peers = {
  "BM_Half_HighQualityBicubic": [("cv2 INTER_AREA", lambda: cv2.resize(img, (3000, 2000), interpolation=cv2.INTER_AREA)),
                                 ("cv2 INTER_CUBIC", lambda: cv2.resize(img, (3000, 2000), interpolation=cv2.INTER_CUBIC)),
                                 ("PIL BICUBIC", lambda: pil.resize((3000, 2000), Image.BICUBIC))],
  "BM_Half_HighQualityBilinear": [("cv2 INTER_AREA", lambda: cv2.resize(img, (3000, 2000), interpolation=cv2.INTER_AREA)),
                                  ("PIL BILINEAR", lambda: pil.resize((3000, 2000), Image.BILINEAR))],
  "BM_Half_Bicubic": [("cv2 INTER_CUBIC", lambda: cv2.resize(img, (3000, 2000), interpolation=cv2.INTER_CUBIC))],
  "BM_Double_HighQualityBicubic": [("cv2 INTER_CUBIC", lambda: cv2.resize(img, (12000, 8000), interpolation=cv2.INTER_CUBIC)),
                                   ("PIL BICUBIC", lambda: pil.resize((12000, 8000), Image.BICUBIC))],
}
print("cv2 threads:", cv2.getNumThreads())
for name, ms in ours.items():
    line = f"{name:32s} korvex {ms:8.1f} ms"
    for label, f in peers.get(name, []):
        p = best(f, 3 if "Double" in name else 5)
        line += f" | {label} {p:7.1f} ms ratio {ms / p:4.2f}"
    print(line)
PY
rm -f /tmp/resample_bench_$$.json
