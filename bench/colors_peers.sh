#!/usr/bin/env bash
# Ink pictures (GetColorChannelFlagsC and K) against the peers, in one run:
#  - in-process and warm, on the same decoded 6000 x 4000 pixels: Korvex
#    through its Python module, and the same CMYK rule written with numpy;
#  - whole commands on the same uncompressed TIFF file: the korvex command
#    and ImageMagick (-colorspace CMYK -separate, negated: ink prints dark),
#    with peak memory.
#
#   bench/colors_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 3 "$@"
cli="$build/tools/korvex/korvex"
pymod="$(dirname "$(find "$build/bindings" -name 'korvex*.so' | head -1)")"
[ -x "$cli" ] && [ -n "$pymod" ] || { echo "build $build first (make bench)"; exit 1; }
magick_policy "$work"

photo_tif "$work"

echo
echo "== In-process, warm: Korvex against numpy on the same pixels =="
PYTHONPATH="$pymod:bench" /usr/bin/python3 - "$work/photo.tif" <<'PY'
import sys, time
import numpy as np
from PIL import Image
import korvex
import table
e = korvex.cKorvex()
assert e.LoadFromFile(sys.argv[1]) == 0
rgb = np.asarray(Image.open(sys.argv[1]).convert("RGB")).astype(np.int32)
def best(fn, n=5):
    t = []
    for _ in range(n):
        s = time.perf_counter(); r = fn(); t.append((time.perf_counter() - s) * 1000)
        if isinstance(r, int) and r > 0: e.CloseImage(r)
    return min(t)
def np_c():
    mx = rgb.max(axis=2)
    n = mx - rgb[..., 0]
    ink = np.where(mx > 0, (n * 255 + mx // 2) // np.maximum(mx, 1), 255)  # half up
    return (255 - ink).astype(np.uint8)
def np_k():
    return rgb.max(axis=2).astype(np.uint8)
for name, ours, peer in (("C", e.GetColorChannelFlagsC, np_c), ("K", e.GetColorChannelFlagsK, np_k)):
    k, p = best(ours), best(peer)
    print(f"ink {name}  korvex {k:8.2f} ms | numpy {p:8.2f} ms (korvex/peer {k / p:4.2f})")
    table.add(f"ink {name} picture 6000x4000, in process", k / 1e3, "-", "numpy", p / 1e3, "-")
PY

in="$work/photo.tif" out="$work/out.tif"
echo
echo "== Whole commands: decode, separate the cyan ink, write an uncompressed TIFF =="
printf 'LoadFromFile %s\n$c = GetColorChannelFlagsC\nSetNativeImage $c\nSaveAsTiff %s 6\n' \
  "$in" "$out" > "$work/ink.kx"
read -r kt km < <(measure "$cli --script $work/ink.kx")
printf '%-24s %7.3f s %6d MB\n' "korvex" "$kt" $((km / 1024))
read -r pt pm < <(measure "/usr/bin/convert $in -colorspace CMYK -channel C -separate -negate -compress none $out")
printf '%-24s %7.3f s %6d MB   peer/korvex %5.2f\n' "ImageMagick" "$pt" $((pm / 1024)) \
  "$(ratio "$pt" "$kt")"
table_row "cyan ink 6000x4000, TIFF to TIFF" "$kt" "$km" "ImageMagick" "$pt" "$pm"
