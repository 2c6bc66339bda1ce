#!/usr/bin/env bash
# Listing every metadata tag of a camera-like JPEG (4000 x 3000, about forty
# EXIF, GPS and TIFF tags written by exiftool) as whole commands, with peak
# memory, in one run: the korvex command loads the picture and prints the id,
# name and value of every tag; exiftool prints every tag of the file. Korvex
# decodes the pixels as part of loading; exiftool reads only the metadata.
# The tag counts of both are shown, and korvex's values checked against
# exiftool's for a few tags.
#
#   bench/tags_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 5 "$@"
kx="$build/tools/korvex/korvex"
bench_need "$kx"
bench_need_cmd exiftool

echo "Preparing a 4000 x 3000 camera-like JPEG in $work ..."
/usr/bin/convert -size 400x300 -seed 5 plasma:orange-navy -resize 4000x3000! -quality 90 \
  "$work/photo.jpg"
exiftool -q -overwrite_original -Make=Canon -Model="EOS 5D Mark IV" -Artist="Jane Doe" \
  -Copyright="Jane Doe" -Software="Firmware 1.2.0" -ImageDescription="Harbour at dawn" \
  -ModifyDate="2023:07:14 18:30:05" -DateTimeOriginal="2023:07:14 18:30:05" \
  -CreateDate="2023:07:14 18:30:05" -SubSecTimeOriginal=42 -ExposureTime=1/250 -FNumber=5.6 \
  -ExposureProgram#=3 -ISO=320 -ShutterSpeedValue=1/250 -ApertureValue=5.6 \
  -ExposureCompensation=-0.3 -MaxApertureValue=4 -MeteringMode#=5 -Flash#=16 -FocalLength=85 \
  -ColorSpace#=1 -ExifImageWidth=4000 -ExifImageHeight=3000 -FocalPlaneXResolution=1600 \
  -FocalPlaneYResolution=1600 -FocalPlaneResolutionUnit#=3 -ExposureMode#=0 -WhiteBalance#=0 \
  -SceneCaptureType#=0 -LensModel="EF85mm f/1.8 USM" -UserComment="Sunset" \
  -GPSLatitude=48.8566 -GPSLatitudeRef=N -GPSLongitude=2.3522 -GPSLongitudeRef=E \
  -GPSAltitude=35 -GPSAltitudeRef=0 -GPSTimeStamp=16:30:05 -GPSDateStamp=2023:07:14 \
  -GPSMapDatum=WGS-84 -XResolution=300 -YResolution=300 -ResolutionUnit=inches \
  -Orientation#=1 "$work/photo.jpg"

count=$("$kx" -LoadFromFile "$work/photo.jpg" -TagsCount)
{
  echo "LoadFromFile $work/photo.jpg"
  for i in $(seq "$count"); do echo "TagsGetID $i"; echo "TagsGetName $i"; echo "TagsGetValue $i"; done
} > "$work/list.kx"
listing=$("$kx" --script "$work/list.kx")
peer_count=$(exiftool -a -s -EXIF:all "$work/photo.jpg" | wc -l)
echo "Tags: korvex $count, exiftool $peer_count (EXIF group)"
grep -qx "Canon" <<<"$listing" && grep -qx "1/250" <<<"$listing" && grep -qx "Jane Doe" <<<"$listing" ||
  { echo "korvex listing lacks expected values"; exit 1; }

read -r t_kx m_kx < <(measure "'$kx' --script '$work/list.kx'")
read -r t_et m_et < <(measure "exiftool -a -G1 -s '$work/photo.jpg'")
read -r t_hdr m_hdr < <(measure "exiftool -a -G1 -s -fast2 '$work/photo.jpg'")
printf '  %-22s %7.3f s %5d MB\n' "korvex (load + list)" "$t_kx" $((m_kx / 1024))
printf '  %-22s %7.3f s %5d MB  exiftool/korvex time %5.2f  memory %5.2f\n' "exiftool" "$t_et" \
  $((m_et / 1024)) "$(ratio "$t_et" "$t_kx")" "$(ratio "$m_et" "$m_kx")"
printf '  %-22s %7.3f s %5d MB  exiftool/korvex time %5.2f  memory %5.2f\n' "exiftool -fast2" \
  "$t_hdr" $((m_hdr / 1024)) "$(ratio "$t_hdr" "$t_kx")" "$(ratio "$m_hdr" "$m_kx")"
table_row "list every tag of a 4000x3000 JPEG" "$t_kx" "$m_kx" "exiftool" "$t_et" "$m_et"
table_row "list every tag of a 4000x3000 JPEG" "$t_kx" "$m_kx" "exiftool -fast2" "$t_hdr" "$m_hdr"
