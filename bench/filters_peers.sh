#!/usr/bin/env bash
# Pixel effects against the peers a user would pick instead, in one run:
#  - in-process and warm, on the same decoded 6000 x 4000 pixels: Korvex
#    (bench/filters_bench), OpenCV (LUT, cvtColor, blur, filter2D) and Pillow;
#  - whole commands on the same uncompressed TIFF file: Korvex
#    (filters_bench --apply), ImageMagick and libvips, with peak memory.
#
#   bench/filters_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 3 "$@"
kx="$build/bench/filters_bench"
bench_need "$kx"
magick_policy "$work"

photo_tif "$work"

echo
echo "== In-process, warm: Korvex =="
"$kx" "$work/photo.tif" | tee "$work/korvex.txt"

echo
echo "== In-process, warm: OpenCV and Pillow on the same pixels (BGRA) =="
PYTHONPATH=bench /usr/bin/python3 - "$work/photo.tif" "$work/korvex.txt" <<'PY'
import sys, time
import numpy as np, cv2
from PIL import Image, ImageFilter
import table
bgr = cv2.imread(sys.argv[1], cv2.IMREAD_COLOR)
bgra = cv2.cvtColor(bgr, cv2.COLOR_BGR2BGRA)
rgba = Image.fromarray(cv2.cvtColor(bgr, cv2.COLOR_BGR2RGBA))
rgb = rgba.convert("RGB")
ours = {}
for line in open(sys.argv[2]):
    f = line.split()
    if len(f) == 4 and f[0][0].isupper() and f[1][0].isdigit():
        ours[f[0]] = float(f[1])
def best(fn, n=5):
    t = []
    for _ in range(n):
        s = time.perf_counter(); fn(); t.append((time.perf_counter() - s) * 1000)
    return min(t)
lut = np.clip(np.arange(256) * 1.2, 0, 255).astype(np.uint8)
lut4 = np.dstack([lut, lut, lut, np.arange(256, dtype=np.uint8)]).reshape(1, 256, 4)
sharpen = np.array([[-2, -2, -2], [-2, 26, -2], [-2, -2, -2]], np.float32) / 10
emboss = np.array([[1, 0, -1], [1, 0, -1], [1, 0, -1]], np.float32)
plut = list(lut) * 3 + list(range(256))
peers = {
    "Contrast": [("cv2.LUT", lambda: cv2.LUT(bgra, lut4)), ("PIL point", lambda: rgba.point(plut))],
    "Brightness": [("cv2.LUT", lambda: cv2.LUT(bgra, lut4)), ("PIL point", lambda: rgba.point(plut))],
    "Grayscale": [("cv2.cvtColor", lambda: cv2.cvtColor(bgra, cv2.COLOR_BGRA2GRAY)),
                  ("PIL convert L", lambda: rgba.convert("L"))],
    "Negative": [("cv2.bitwise_not", lambda: cv2.bitwise_not(bgra)),
                 ("PIL point", lambda: rgba.point([255 - i for i in range(256)] * 3 + list(range(256))))],
    "Blur": [("cv2.blur 3x3", lambda: cv2.blur(bgra, (3, 3))),
             ("cv2.filter2D", lambda: cv2.filter2D(bgra, -1, np.ones((3, 3), np.float32) / 8)),
             ("PIL BoxBlur(1)", lambda: rgb.filter(ImageFilter.BoxBlur(1)))],
    "Sharpen": [("cv2.filter2D", lambda: cv2.filter2D(bgra, -1, sharpen)),
                ("PIL SHARPEN", lambda: rgb.filter(ImageFilter.SHARPEN))],
    "EmbossMore": [("cv2.filter2D", lambda: cv2.filter2D(bgra, -1, emboss, delta=120)),
                   ("PIL EMBOSS", lambda: rgb.filter(ImageFilter.EMBOSS))],
    "Aqua": [("cv2.medianBlur 5", lambda: cv2.medianBlur(bgra, 5))],
    "OrderedDitherBW": [("cv2 gray+threshold", lambda: cv2.threshold(cv2.cvtColor(bgra, cv2.COLOR_BGRA2GRAY), 128, 255, cv2.THRESH_BINARY)),
                        ("PIL convert 1", lambda: rgb.convert("1"))],
}
print("cv2 threads:", cv2.getNumThreads())
for name, ms in ours.items():
    line = f"{name:16s} korvex {ms:8.2f} ms"
    for label, fn in peers.get(name, []):
        p = best(fn)
        line += f" | {label} {p:7.2f} ms (korvex/peer {ms / p:4.2f})"
        table.add(f"{name} 6000x4000, in process", ms / 1e3, "-", label, p / 1e3, "-")
    print(line)
PY

in="$work/photo.tif"
out="$work/out.tif"
echo
echo "== Whole commands on the same file (decode, effect, uncompressed TIFF out) =="
table_label="%s 6000x4000, TIFF to TIFF"
row Contrast "$kx --apply Contrast $in $out" \
  "ImageMagick" "/usr/bin/convert $in -brightness-contrast 0x20 -compress none $out" \
  "libvips linear" "vips linear --uchar $in $out 1.2 -- -25"
row Brightness "$kx --apply Brightness $in $out" \
  "ImageMagick" "/usr/bin/convert $in -brightness-contrast 20x0 -compress none $out" \
  "libvips linear" "vips linear --uchar $in $out 1.2 0"
row Negative "$kx --apply Negative $in $out" \
  "ImageMagick" "/usr/bin/convert $in -negate -compress none $out" \
  "libvips invert" "vips invert $in $out"
row Grayscale "$kx --apply Grayscale $in $out" \
  "ImageMagick" "/usr/bin/convert $in -colorspace gray -compress none $out" \
  "libvips b-w" "vips colourspace $in $out b-w"
cat > "$work/box.mat" <<'MAT'
3 3 8 0
1 1 1
1 0 1
1 1 1
MAT
cat > "$work/sharpen.mat" <<'MAT'
3 3 10 0
-2 -2 -2
-2 26 -2
-2 -2 -2
MAT
row Blur "$kx --apply Blur $in $out" \
  "ImageMagick" "/usr/bin/convert $in -define convolve:scale=! -convolve 1,1,1,1,0,1,1,1,1 -compress none $out" \
  "libvips conv" "vips conv $in $out $work/box.mat --precision integer"
row Sharpen "$kx --apply Sharpen $in $out" \
  "ImageMagick" "/usr/bin/convert $in -convolve -0.2,-0.2,-0.2,-0.2,2.6,-0.2,-0.2,-0.2,-0.2 -compress none $out" \
  "libvips conv" "vips conv $in $out $work/sharpen.mat --precision integer"
cat > "$work/emboss.mat" <<'MAT'
3 3 1 120
1 0 -1
1 0 -1
1 0 -1
MAT
row EmbossMore "$kx --apply EmbossMore $in $out" \
  "ImageMagick" "/usr/bin/convert $in -define convolve:scale=! -convolve 1,0,-1,1,0,-1,1,0,-1 -compress none $out" \
  "libvips conv" "vips conv $in $out $work/emboss.mat --precision integer"
row Aqua "$kx --apply Aqua $in $out" \
  "ImageMagick median 5" "/usr/bin/convert $in -statistic median 5x5 -compress none $out" \
  "libvips rank 5x5 median" "vips rank $in $out 5 5 12"
row OrderedDither "$kx --apply OrderedDitherBW $in $out" \
  "ImageMagick o4x4" "/usr/bin/convert $in -colorspace gray -ordered-dither o4x4 -compress none $out"
