#!/usr/bin/env bash
# Colour reduction against the peers a user would pick instead, in one run:
#  - in-process and warm, on the same decoded 6000 x 4000 pixels: Korvex
#    Quantize8Bpp(256) (bench/quantize_bench) against Pillow's fast octree,
#    and ConvertTo1Bpp / ConvertTo8Bpp against a memcpy of the picture;
#  - whole commands on the same uncompressed TIFF: Korvex (quantize_bench
#    --apply) against ImageMagick -colors 256;
#  - quality: mean absolute error per channel of the 256-colour result of
#    Korvex, Pillow's fast octree and ImageMagick (+dither) on the sample
#    photograph and on the large picture.
#
#   bench/quantize_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 3 "$@"
kx="$build/bench/quantize_bench"
bench_need "$kx"
magick=/usr/bin/convert
magick_policy "$work"

photo_tif "$work"

echo
echo "== In-process, warm: Korvex =="
"$kx" "$work/photo.tif" | tee "$work/korvex.txt"

echo
echo "== In-process, warm: Pillow quantize(256, FASTOCTREE) on the same pixels =="
PYTHONPATH=bench /usr/bin/python3 - "$work/photo.tif" "$work/korvex.txt" <<'PY'
import sys, time
from PIL import Image
import table
rgb = Image.open(sys.argv[1]).convert("RGB")
rgb.load()
ours = None
for line in open(sys.argv[2]):
    f = line.split()
    if f and f[0] == "Quantize8Bpp":
        ours = float(f[1])
best = 1e30
for _ in range(5):
    t = time.perf_counter()
    rgb.quantize(256, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)
    best = min(best, (time.perf_counter() - t) * 1000)
print(f"Quantize8Bpp korvex {ours:8.2f} ms | Pillow FASTOCTREE {best:8.2f} ms "
      f"(korvex/peer {ours / best:4.2f})")
table.add("256 colours 6000x4000, in process", ours / 1e3, "-", "Pillow FASTOCTREE", best / 1e3, "-")
PY

echo
echo "== Whole command, median of $runs: load TIFF, 256 colours, save uncompressed TIFF =="
read -r kt km < <(measure "$kx --apply 256 $work/photo.tif $work/korvex.tif")
read -r pt pm < <(measure "$magick $work/photo.tif -colors 256 -compress none $work/magick.tif")
printf 'korvex %.3f s %d MB | ImageMagick -colors 256 %.3f s %d MB (korvex/peer %.2f)\n' \
  "$kt" $((km / 1024)) "$pt" $((pm / 1024)) "$(ratio "$kt" "$pt")"
table_row "256 colours 6000x4000, TIFF to TIFF" "$kt" "$km" "ImageMagick -colors 256" "$pt" "$pm"

echo
echo "== Quality: mean absolute error per channel of 256 colours (lower is better) =="
for picture in samples/photo.jpg "$work/photo.tif"; do
  "$kx" --apply 256 "$picture" "$work/q_korvex.tif"
  "$magick" "$picture" -colors 256 +dither "$work/q_magick.png"
  /usr/bin/python3 - "$picture" "$work/q_korvex.tif" "$work/q_magick.png" <<'PY'
import sys
import numpy as np
from PIL import Image
src = Image.open(sys.argv[1]).convert("RGB")
a = np.asarray(src, dtype=np.int32)
def mae(img):
    return float(np.abs(np.asarray(img.convert("RGB"), dtype=np.int32) - a).mean())
pil = src.quantize(256, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)
print(f"{sys.argv[1].split('/')[-1]:12s} {src.size[0]}x{src.size[1]}: "
      f"korvex {mae(Image.open(sys.argv[2])):6.3f} | Pillow FASTOCTREE {mae(pil):6.3f} | "
      f"ImageMagick {mae(Image.open(sys.argv[3])):6.3f}")
PY
done
