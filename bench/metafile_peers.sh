#!/usr/bin/env bash
# Rendering big metafiles to PNG as whole commands, with peak memory, in one
# run, at the same pixel size:
#   EMF: a chart with text (tests/data/metafile/emf2svg_test-067.emf) whose
#        reference device is made eight times finer, so its frame is 5280 x
#        3300 pixels: korvex_convert against emf2svg-conv + rsvg-convert.
#   WMF: clip art at its own 1369 x 1369 pixels: korvex_convert against
#        wmf2gd (the same gd device) and ImageMagick (libwmf into its own
#        renderer).
# Each subject also writes its PNG; the ratios are korvex time / peer time.
#
#   bench/metafile_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
runs="${2:-3}"
kx="$build/bench/korvex_convert"
[ -x "$kx" ] || { echo "build $kx first (make bench)"; exit 1; }
for tool in emf2svg-conv rsvg-convert wmf2gd; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)"; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
. bench/measure.sh
. bench/magick_policy.sh
magick_policy "$work"

# The EMF's device size in millimetres and micrometres divided by 8: the same
# drawing at eight times the resolution.
/usr/bin/python3 - "$work/big.emf" <<'PY'
import struct, sys
d = bytearray(open("tests/data/metafile/emf2svg_test-067.emf", "rb").read())
for off in (80, 84, 100, 104):
    (v,) = struct.unpack_from("<i", d, off)
    struct.pack_into("<i", d, off, v // 8)
open(sys.argv[1], "wb").write(d)
PY
wmf="tests/data/metafile/pillow_drawing.wmf"
"$kx" "$work/big.emf" "$work/k.png"
size=$(/usr/bin/identify -format "%w %h" "$work/k.png")
read -r w h <<<"$size"
echo "EMF: $w x $h pixels"
read -r t_kx m_kx < <(measure "'$kx' '$work/big.emf' '$work/k.png'")
read -r t_cli m_cli < <(measure "emf2svg-conv -i '$work/big.emf' -o '$work/c.svg' && \
  rsvg-convert -w $w -h $h -b white '$work/c.svg' -o '$work/c.png'")
printf '  korvex_convert              %8.3f s %8d KB\n' "$t_kx" "$m_kx"
printf '  emf2svg-conv + rsvg-convert %8.3f s %8d KB   ratio %.2f\n' "$t_cli" "$m_cli" \
  "$(echo "$t_kx / $t_cli" | bc -l)"
table_row "EMF chart to PNG, $w x $h" "$t_kx" "$m_kx" "emf2svg-conv + rsvg-convert" "$t_cli" "$m_cli"

echo "WMF: 1369 x 1369 pixels"
read -r t_kx m_kx < <(measure "'$kx' '$wmf' '$work/k.png'")
read -r t_gd m_gd < <(measure "wmf2gd --maxwidth=1369 --maxheight=1369 --maxsize -o '$work/g.png' '$wmf'")
read -r t_im m_im < <(measure "/usr/bin/convert -density 1200 '$wmf' -background white -flatten '$work/m.png'")
printf '  korvex_convert              %8.3f s %8d KB\n' "$t_kx" "$m_kx"
printf '  wmf2gd                      %8.3f s %8d KB   ratio %.2f\n' "$t_gd" "$m_gd" \
  "$(echo "$t_kx / $t_gd" | bc -l)"
printf '  ImageMagick convert         %8.3f s %8d KB   ratio %.2f\n' "$t_im" "$m_im" \
  "$(echo "$t_kx / $t_im" | bc -l)"
table_row "WMF clip art to PNG, 1369 x 1369" "$t_kx" "$m_kx" "wmf2gd" "$t_gd" "$m_gd"
table_row "WMF clip art to PNG, 1369 x 1369" "$t_kx" "$m_kx" "ImageMagick" "$t_im" "$m_im"
