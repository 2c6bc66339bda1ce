#!/usr/bin/env bash
# Scanning as whole commands, in one run: ten 300-dpi gray pages from the
# automatic document feeder of SANE's test backend (80 x 100 mm, 944 x 1181),
# each saved uncompressed, with
#  - korvex: -TwainOpenDefaultSource, the feeder and 300 dpi selected, then
#    -TwainAcquire -SaveAsBmp ten times,
#  - scanimage --batch of the same pages as PNM files (its own peer: the
#    same library, the same backend).
# The backend is configured in a private folder (SANE_CONFIG_DIR); nothing
# under /etc is read. Both runs must leave ten pages of the expected size.
#
#   bench/twain_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 5 "$@"
kx="$(realpath "$build/tools/korvex/korvex")"
bench_need "$kx"
bench_need_cmd scanimage

mkdir -p "$work/sane" "$work/kx" "$work/si"
echo test > "$work/sane/dll.conf"
printf 'number_of_devices 1\nresolution 75\ntest-picture "Color pattern"\n' > "$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane"

args=(-TwainOpenDefaultSource -TwainSelectFeeder True -TwainSetCurrentPixelType 1
      -TwainSetCurrentResolution 300)
for i in $(seq 10); do args+=(-TwainAcquire -SaveAsBmp "$work/kx/page$i.bmp"); done
scan="scanimage -d test:0 --source 'Automatic Document Feeder' --mode Gray --resolution 300"

echo "== ten 300-dpi gray feeder pages, acquired and saved =="
read -r kt km < <(measure "rm -f $work/kx/*; $kx ${args[*]}")
read -r st sm < <(measure "rm -f $work/si/*; cd $work/si && $scan --batch=page%d.pnm")
[ "$(ls "$work/kx" | wc -l)" -eq 10 ] && [ "$(ls "$work/si" | wc -l)" -eq 10 ] ||
  { echo "FAILED: ten pages expected from each"; exit 1; }
[ "$(identify -format '%w x %h' "$work/kx/page10.bmp")" = "944 x 1181" ] ||
  { echo "FAILED: korvex page size"; exit 1; }
printf '  %-26s %8.3f s %8d KB\n' korvex "$kt" "$km"
printf '  %-26s %8.3f s %8d KB\n' "scanimage --batch" "$st" "$sm"
echo "  korvex / scanimage time: $(ratio "$kt" "$st" | xargs printf '%.2f')"
table_row "scan 10 gray 300-dpi feeder pages" "$kt" "$km" "scanimage --batch" "$st" "$sm"
