#!/usr/bin/env bash
# Printing as whole commands, with peak memory, in one run: 10 A4 pages at
# 300 dpi (2480 x 3508, CCITT G4 in one TIFF) printed page by page with
#  - korvex -PrintImage to the built-in "Korvex PDF" printer (a PDF file;
#    pages decoded, their G4 data passed on as it is),
#  - korvex -PrintImage through a pass-through CUPS queue (waits until the
#    scheduler has completed the job),
# against the same pages converted by tiff2pdf (no re-encoding) and sent
# with lp to the same queue (waiting for the job likewise), and tiff2pdf
# alone as the peer of the built-in printer. The queue lives on a private
# cupsd started here and stopped by its PID. Every PDF must have 10 A4 pages.
#
#   bench/print_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 5 "$@"
kx="$(realpath "$build/tools/korvex/korvex")"
bench_need "$kx"
[ -x /usr/sbin/cupsd ] || bench_need_cmd cupsd
cupsd_pid=""
bench_stop() {
  [ -n "$cupsd_pid" ] && kill -TERM "$cupsd_pid" 2>/dev/null && wait "$cupsd_pid" 2>/dev/null
}

echo "Preparing 10 A4 300-dpi G4 pages in $work ..."
/usr/bin/convert -size 620x877 -seed 3 xc:white +noise Random -colorspace gray -threshold 90% \
  -scale 400% -crop 2480x3508+0+0 +repage -density 300 -units PixelsPerInch "$work/page.tif"
pages=()
for _ in $(seq 10); do pages+=("$work/page.tif"); done
/usr/bin/convert "${pages[@]}" -compress group4 -density 300 -units PixelsPerInch "$work/fax.tif"

# A private scheduler with one queue whose filter passes the PDF through to a file.
r="$work/cups"
mkdir -p "$r"/{etc,run,spool,tmp,state,cache,log,out}
chmod 755 "$work" "$r"; chmod 1777 "$r/tmp"; chmod 777 "$r/out"
cat > "$r/etc/cups-files.conf" <<CONF
ServerRoot $r/etc
RequestRoot $r/spool
TempDir $r/tmp
StateDir $r/state
CacheDir $r/cache
AccessLog $r/log/access_log
ErrorLog $r/log/error_log
PageLog $r/log/page_log
Printcap $r/state/printcap
SystemGroup root
FileDevice Yes
CONF
cat > "$r/etc/cupsd.conf" <<CONF
Listen $r/run/cups.sock
Browsing No
WebInterface No
LogLevel warn
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat > "$r/etc/pass.ppd" <<'PPD'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "KXPASS.PPD"
*Manufacturer: "Korvex"
*Product: "(Pass)"
*ModelName: "Pass"
*ShortNickName: "Pass"
*NickName: "Pass"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*DefaultColorSpace: RGB
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsFilter2: "application/pdf application/vnd.x-pdf 0 gziptoany"
*OpenUI *PageSize/Page Size: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*DefaultPageRegion: A4
*DefaultImageableArea: A4
*ImageableArea A4/A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
PPD
/usr/sbin/cupsd -f -c "$r/etc/cupsd.conf" -s "$r/etc/cups-files.conf" &
cupsd_pid=$!
export CUPS_SERVER="$r/run/cups.sock"
for _ in $(seq 200); do
  [ -S "$CUPS_SERVER" ] && lpstat -r 2>/dev/null | grep -q "is running" && break
  sleep 0.05
done
lpadmin -p kx-pass -E -v "file://$r/out/pass.pdf" -P "$r/etc/pass.ppd" 2>/dev/null

# Waits until the queue has no job left.
wait_queue='while [ -n "$(lpstat -o kx-pass)" ]; do sleep 0.01; done'

report_width=30
check() {  # name, pdf
  local s; s=$(pdf_shape "$2")
  case "$s" in "10 595."*"x841."*) ;; *) echo "$1 wrote $s" >&2; exit 1 ;; esac
  echo "$s"
}

print="$kx -LoadFromFile $work/fax.tif -PrintSetFromToPage 1 10 -PrintSetStdPaperSize 9"
echo
echo "== 10 A4 300-dpi G4 pages printed =="
report_workload="print 10 A4 G4 pages to a PDF file"
mkdir -p "$work/builtin"
read -r bt bm < <(measure "rm -f $work/builtin/*.pdf; $print -PrintSetActivePrinter 'Korvex PDF' -PrintSetOutputFolder $work/builtin -PrintImage")
report "korvex to Korvex PDF" "$bt" "$bm" "$(check korvex "$work/builtin/Print Process.pdf")"
read -r tt tm < <(measure "tiff2pdf -o $work/p.pdf $work/fax.tif")
report "tiff2pdf" "$tt" "$tm" "$(check tiff2pdf "$work/p.pdf")" "$bt" "$bm"
read -r qt qm < <(measure "$print -PrintSetActivePrinter kx-pass -PrintImage")
report "korvex through CUPS" "$qt" "$qm" "$(check korvex "$r/out/pass.pdf")"
report_workload="print 10 A4 G4 pages through CUPS"
read -r lt lm < <(measure "tiff2pdf -o $work/p.pdf $work/fax.tif && lp -d kx-pass $work/p.pdf && $wait_queue")
report "tiff2pdf + lp through CUPS" "$lt" "$lm" "$(check lp "$r/out/pass.pdf")" "$qt" "$qm"
echo "  (file sizes: korvex $(stat -c %s "$work/builtin/Print Process.pdf") bytes, tiff2pdf $(stat -c %s "$work/p.pdf") bytes)"
