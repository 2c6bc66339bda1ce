#!/usr/bin/env bash
# Band crops of an A4 page at 300 dpi (2480 x 3508), 1-bit and 24-bit, in one run:
#  - in process and warm: Korvex's CropWhiteBands (bench/cleanup_bench);
#  - whole commands on the same uncompressed TIFF: the korvex command
#    (-CropWhiteBands) against ImageMagick's -fuzz 0 -trim, with peak memory;
#    both must give the same size.
#
#   bench/cleanup_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 5 "$@"
bench="$build/bench/cleanup_bench"
kx="$build/tools/korvex/korvex"
bench_need "$bench" "$kx"
magick_policy "$work"

echo "== In process, warm: Korvex =="
"$bench"

echo
echo "== Whole commands (load the TIFF, crop, write an uncompressed TIFF) =="
for depth in 1 24; do
  in="$work/page$depth.tif"
  "$bench" --page "$depth" "$in"
  read -r kt km < <(measure "$kx -LoadFromFile $in -CropWhiteBands 100 0 -SaveAsTiff $work/k.tif 6")
  read -r mt mm < <(measure "/usr/bin/convert $in -fuzz 0 -trim +repage -compress none $work/m.tif")
  ours=$(/usr/bin/identify -format '%wx%h' "$work/k.tif")
  theirs=$(/usr/bin/identify -format '%wx%h' "$work/m.tif")
  printf '%2d-bit  korvex      %7.3f s %5d MB  (%s)\n' "$depth" "$kt" $((km / 1024)) "$ours"
  printf '        ImageMagick %7.3f s %5d MB  (%s)  peer/korvex %5.2f\n' "$mt" $((mm / 1024)) \
    "$theirs" "$(ratio "$mt" "$kt")"
  table_row "crop white bands A4 $depth-bit, TIFF to TIFF" "$kt" "$km" "ImageMagick -trim" "$mt" "$mm"
  [ "$ours" = "$theirs" ] || { echo "sizes differ"; exit 1; }
done
