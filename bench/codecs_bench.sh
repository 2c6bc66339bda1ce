#!/usr/bin/env bash
# Whole-process codec benchmarks: Korvex against the tools a user would pick
# instead, on the same inputs in the same run. Prints the median wall time
# and peak memory of each command, and each peer's time relative to Korvex.
#
#   bench/codecs_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 3 "$@"
kx="$build/bench/korvex_convert"
bench_need "$kx"
magick_policy "$work"

echo "Preparing inputs in $work ..."
# A photo-like 6000 x 4000 picture, and an A4 page at 300 dpi scanned to 1 bit.
convert -size 1500x1000 -seed 7 plasma:fractal -blur 0x1 -resize 6000x4000! -quality 92 "$work/photo.jpg"
convert "$work/photo.jpg" -compress none "$work/photo.tif"
convert -size 2480x3508 xc:white -fill black -font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf -pointsize 28 \
  -annotate +150+200 "$(printf 'Korvex benchmark page %.0s' {1..4})" \
  -draw "rectangle 150,400 2300,420" -draw "circle 1240,1800 1240,2400" \
  -monochrome -density 300 -compress Group4 "$work/page.tif"
# A 3840 x 2160 screenshot-like picture: flat panels, a title bar, lines of text.
lines=(); for i in $(seq 0 60); do
  lines+=(-annotate "+60+$((120 + i * 34))" "line $i: The quick brown fox jumps over the lazy dog 0123456789")
done
convert -size 3840x2160 xc:'#f3f3f3' -fill '#2b579a' -draw "rectangle 0,0 3839,60" \
  -fill white -draw "rectangle 40,90 1900,2120" -fill '#e8e8e8' -draw "rectangle 1940,90 3800,2120" \
  -fill '#d04040' -draw "roundrectangle 2000,150 2600,400 20,20" \
  -fill black -font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf -pointsize 22 "${lines[@]}" \
  -depth 8 -type TrueColor -compress none "$work/screen.tif"

# Layout of `row`, and peers that cannot do a job (a missing delegate) are left out.
row_widths=(34 22 8 8)
row_ratio='korvex/peer %.2f'
row_skip_failed=1

echo
printf '%-34s %-22s %10s %11s\n' "job" "tool" "time" "peak"
row "JPEG 6000x4000 decode+encode q75" "$kx $work/photo.jpg $work/k.jpg 75" \
  "djpeg | cjpeg" "djpeg $work/photo.jpg | cjpeg -quality 75 > $work/d.jpg" \
  "libvips" "vips copy $work/photo.jpg $work/v.jpg[Q=75]" \
  "ImageMagick" "convert $work/photo.jpg -quality 75 $work/m.jpg"
row "PNG encode 6000x4000 (from TIFF)" "$kx $work/photo.tif $work/k.png" \
  "libvips" "vips copy $work/photo.tif $work/v.png" \
  "ImageMagick" "convert $work/photo.tif $work/m.png"
row "PNG encode 3840x2160 screenshot" "$kx $work/screen.tif $work/ks.png" \
  "libvips" "vips copy $work/screen.tif $work/vs.png" \
  "ImageMagick" "convert $work/screen.tif $work/ms.png"
row "A4 300 dpi G4 decode+encode" "$kx $work/page.tif $work/k.tif 4" \
  "tiffcp -c g4" "tiffcp -c g4 $work/page.tif $work/t.tif" \
  "ImageMagick" "convert $work/page.tif -compress Group4 $work/m.tif"

echo
echo "Output sizes (bytes):"
for f in k.jpg d.jpg v.jpg m.jpg k.png v.png m.png ks.png vs.png ms.png k.tif t.tif m.tif; do
  [ -f "$work/$f" ] && printf '  %-6s %10d\n' "$f" "$(stat -c %s "$work/$f")"
done
echo "Decoded photo: $((6000 * 4000 * 3 / 1048576)) MB of 24-bit pixels."
