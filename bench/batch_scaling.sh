#!/usr/bin/env bash
# Batch throughput against the number of workers: the same pipeline over many
# inputs with one worker, one per core and two per core, through `korvex
# --batch` and the Dask runner (`python3 -m korvex.batch`, local cluster
# included), beside libvips run once per file by `xargs -P` with as many
# processes. Prints each speed-up over one worker, ours beside the peer's.
#
#   bench/batch_scaling.sh [BUILD_DIR] [RUNS] [INPUTS]   (INPUTS: 40 of each kind)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 3 "$@"
count="${3:-40}"
kx="$build/tools/korvex/korvex"
bench_need "$kx"
bench_need_cmd vips xargs /usr/bin/convert /usr/bin/python3
dask="PYTHONPATH=$build/bindings/python /usr/bin/python3 -m korvex.batch --no-progress"
cores=$(nproc)

echo "Preparing $count photos 2000 x 1500 and $count A4 1-bit G4 pages in $work ..."
mkdir -p "$work/jpg" "$work/tif" "$work/k" "$work/d" "$work/v"
/usr/bin/convert -size 500x375 -seed 7 plasma:fractal -blur 0x1 -resize 2000x1500! -quality 90 \
  "$work/photo.jpg"
/usr/bin/convert -size 2480x3508 xc:white -fill black -pointsize 28 \
  -annotate +150+200 "Korvex batch page" -draw "rectangle 150,400 2300,420" \
  -draw "circle 1240,1800 1240,2400" -monochrome -density 300 -compress Group4 "$work/page.tif"
for i in $(seq -w 1 "$count"); do
  cp "$work/photo.jpg" "$work/jpg/p$i.jpg"
  cp "$work/page.tif" "$work/tif/s$i.tif"
done
# One line of vips arguments per input, for xargs -L 1.
for f in "$work"/jpg/*.jpg; do echo "$f $work/v/$(basename "$f" .jpg).jpg[Q=85] 0.5"; done > "$work/vjpg"
for f in "$work"/tif/*.tif; do echo "$f $work/v/$(basename "$f" .tif).png 0.5"; done > "$work/vtif"
jpg_pipeline="-LoadFromFile {} -Resize 1000 750 -SaveAsJpeg $work/k/{stem}.jpg 85"
dask_pipeline="-LoadFromFile {} -Resize 1000 750 -SaveAsJpeg $work/d/{stem}.jpg 85"
tif_pipeline="-LoadFromFile {} -ResizeWidthRatio 1240 -SaveAsPng $work/k/{stem}.png"

row_widths=(34 22 8 8)
row_ratio='korvex/peer %.2f'
echo
printf '%-34s %-22s %10s %11s\n' "job" "tool" "time" "peak"

# scaling NAME KORVEX_CMD(-j N) PEER_CMD(-P N): rows for 1, cores and
# 2 x cores workers; leaves the speed-ups of cores and 2 x cores workers over
# one worker in speedups ("ours peer" each).
scaling() {
  local name="$1" kcmd="$2" pcmd="$3" one=() n
  speedups=()
  for n in 1 "$cores" $((2 * cores)); do
    row "$name, $n workers" "${kcmd//@N@/$n}" "libvips, xargs -P $n" "${pcmd//@N@/$n}"
    if [ "$n" = 1 ]; then
      one=("${row_times[@]}")
    else
      speedups+=("$(ratio "${one[0]}" "${row_times[0]}") $(ratio "${one[1]}" "${row_times[1]}")")
    fi
  done
}

# On a shared machine the other processes decide how much of the cores a
# batch gets: the load average tells how far from nproc a speed-up can come.
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=()
scaling "$count JPEG 2000x1500 half, JPEG" \
  "$kx --batch -j @N@ --no-progress $work/jpg/*.jpg -- $jpg_pipeline" \
  "xargs -P @N@ -L 1 vips resize < $work/vjpg"
results+=("korvex --batch, $count JPEG|${speedups[0]}|${speedups[1]}")
scaling "$count JPEG (Dask runner)" \
  "$dask --workers @N@ $work/jpg/*.jpg -- $dask_pipeline" \
  "xargs -P @N@ -L 1 vips resize < $work/vjpg"
results+=("Dask runner, $count JPEG|${speedups[0]}|${speedups[1]}")
scaling "$count A4 1-bit G4 half, PNG" \
  "$kx --batch -j @N@ --no-progress $work/tif/*.tif -- $tif_pipeline" \
  "xargs -P @N@ -L 1 vips resize < $work/vtif"
results+=("korvex --batch, $count G4 pages|${speedups[0]}|${speedups[1]}")

echo
echo "Load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after."
echo "Speed-up over one worker on $cores cores (median of $runs runs each; ours, libvips):"
for r in "${results[@]}"; do
  IFS='|' read -r name at_cores at_twice <<<"$r"
  read -r ours peer <<<"$at_cores"
  read -r ours2 peer2 <<<"$at_twice"
  printf '  %-28s %d workers %5.2f (libvips %5.2f)   %d workers %5.2f (libvips %5.2f)\n' \
    "$name" "$cores" "$ours" "$peer" $((2 * cores)) "$ours2" "$peer2"
done
