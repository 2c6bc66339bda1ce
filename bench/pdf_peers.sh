#!/usr/bin/env bash
# PDF output as whole commands, with peak memory, in one run:
#  - 10 A4 pages at 300 dpi (2480 x 3508), CCITT G4 in one TIFF, to a
#    10-page PDF: korvex -PdfSaveNativeMultiTIFFtoPDF (pages decoded, and
#    their G4 data kept as it is while the pixels are unchanged) against
#    img2pdf (copies the G4 data), tiff2pdf (the same) and ImageMagick
#    (-compress group4);
#  - a 6000 x 4000 photograph (JPEG) to a one-page PDF: korvex -SaveAsPdf
#    (decoded and stored as JPEG at quality 90) against img2pdf (copies the
#    JPEG as it is), tiff2pdf (from the same picture as TIFF, -j -q 90) and
#    ImageMagick (-compress jpeg -quality 90).
# Debian's ImageMagick policy forbids writing PDF; ImageMagick is then left
# out with a note (a user policy cannot lift a system one).
# Every PDF must have the expected number of pages and page size.
#
#   bench/pdf_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 5 "$@"
kx="$build/tools/korvex/korvex"
bench_need "$kx"
bench_need_cmd img2pdf
magick_policy "$work"

echo "Preparing 10 A4 300-dpi G4 pages and a 6000 x 4000 photograph in $work ..."
/usr/bin/convert -size 620x877 -seed 3 xc:white +noise Random -colorspace gray -threshold 90% \
  -scale 400% -crop 2480x3508+0+0 +repage -density 300 -units PixelsPerInch "$work/page.tif"
pages=()
for _ in $(seq 10); do pages+=("$work/page.tif"); done
/usr/bin/convert "${pages[@]}" -compress group4 -density 300 -units PixelsPerInch "$work/fax.tif"
photo_tif "$work"
/usr/bin/convert "$work/photo.tif" -density 300 -units PixelsPerInch -compress none "$work/photo300.tif"
/usr/bin/convert "$work/photo300.tif" -quality 90 "$work/photo.jpg"

magick_pdf=1
/usr/bin/convert -size 8x8 xc:white "$work/probe.pdf" 2>/dev/null || magick_pdf=0

# title, expected shape, korvex command, then name and command of each peer
# (each writes $work/p.pdf).
run_case() {
  local title=$1 want=$2 ours=$3
  shift 3
  echo
  echo "== $title =="
  report_workload=$title
  read -r kt km < <(measure "$ours")
  local ks; ks=$(pdf_shape "$work/k.pdf")
  report korvex "$kt" "$km" "$ks"
  [ "$ks" = "$want" ] || { echo "korvex wrote $ks, expected $want"; exit 1; }
  while [ $# -gt 0 ]; do
    local name=$1 cmd=$2
    shift 2
    if [ "$name" = ImageMagick ] && [ "$magick_pdf" = 0 ]; then
      echo "  ImageMagick  left out: its security policy forbids writing PDF"
      continue
    fi
    read -r pt pm < <(measure "$cmd")
    local ps; ps=$(pdf_shape "$work/p.pdf")
    report "$name" "$pt" "$pm" "$ps" "$kt" "$km"
    [ "$ps" = "$want" ] || echo "  ($name's page shape differs from $want)"
  done
}

run_case "10 A4 300-dpi G4 pages to PDF" "10 595.2x841.92" \
  "$kx -LoadFromFile $work/fax.tif -PdfSaveNativeMultiTIFFtoPDF $work/k.pdf" \
  img2pdf "img2pdf $work/fax.tif -o $work/p.pdf" \
  tiff2pdf "tiff2pdf -o $work/p.pdf $work/fax.tif" \
  ImageMagick "/usr/bin/convert $work/fax.tif -compress group4 $work/p.pdf"

run_case "6000 x 4000 photograph to a one-page PDF" "1 1440x960" \
  "$kx -LoadFromFile $work/photo.jpg -SaveAsPdf $work/k.pdf" \
  img2pdf "img2pdf $work/photo.jpg -o $work/p.pdf" \
  tiff2pdf "tiff2pdf -j -q 90 -o $work/p.pdf $work/photo300.tif" \
  ImageMagick "/usr/bin/convert $work/photo.jpg -compress jpeg -quality 90 $work/p.pdf"
