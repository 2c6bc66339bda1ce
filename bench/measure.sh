# Helpers of the bash peer benchmarks, sourced from the top of the source tree:
#
#   set -euo pipefail
#   cd "$(dirname "$0")/.."
#   . bench/measure.sh
#   bench_init 5 "$@"         # build=$1 (build/release), runs=$2 (5), work=scratch folder
#   bench_need "$build/bench/x_bench"
#
# The scratch folder is removed on exit, after the script's own bench_stop
# (when it defines one) has stopped what it started. ImageMagick's policy
# helpers (magick_policy, photo_tif) come with this file.
. bench/magick_policy.sh

# bench_init DEFAULT_RUNS [BUILD_DIR [RUNS]]: sets build, runs and work.
bench_init() {
  build="${2:-build/release}"
  runs="${3:-$1}"
  work="$(mktemp -d)"
  trap bench_exit EXIT
}

bench_exit() {
  if declare -F bench_stop >/dev/null; then bench_stop || true; fi
  rm -rf "$work"
}

# bench_need FILE...: each must be an executable of the build.
bench_need() {
  local b
  for b in "$@"; do [ -x "$b" ] || { echo "build $b first (make bench)"; exit 1; }; done
}

# bench_need_cmd CMD...: each peer command must be installed.
bench_need_cmd() {
  local c
  for c in "$@"; do
    command -v "$c" >/dev/null || { echo "$c is missing (scripts/install-deps.sh)"; exit 1; }
  done
}

# `measure CMD` prints the median wall time of $runs runs (seconds,
# microsecond clock) and the largest peak resident memory (KB): "seconds kb".
measure() {
  local times=() mems=()
  for _ in $(seq "$runs"); do
    local start=$EPOCHREALTIME
    /usr/bin/time -f "%M" -o "$work/t" bash -c "$1" >/dev/null 2>&1 || { echo "FAILED: $1" >&2; return 1; }
    local end=$EPOCHREALTIME
    read -r m < "$work/t"
    times+=("$(echo "$end - $start" | bc -l)"); mems+=("$m")
  done
  local t m
  t=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  m=$(printf '%s\n' "${mems[@]}" | sort -n | tail -1)
  echo "$t $m"
}

# `table_row WORKLOAD KORVEX_SECONDS KORVEX_KB PEER PEER_SECONDS PEER_KB`
# appends one line of the summary table (tab-separated) to the file named by
# BENCH_TABLE, when it is set; bench/table.py collects the lines of a run.
# A memory of "-" is one not measured (a timing inside a running process).
table_row() {
  [ -n "${BENCH_TABLE:-}" ] || return 0
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@" >> "$BENCH_TABLE"
}

# `ratio A B`: A / B at full precision, for printf to round.
ratio() {
  echo "$1 / $2" | bc -l
}

# `row LABEL KORVEX_CMD [PEER_LABEL PEER_CMD]...`: one line for Korvex and
# one per peer with the time ratio, from `measure`. The layout comes from
# row_widths (label, tool, seconds, MB) and row_ratio ("peer/korvex ..." or
# "korvex/peer ...", a printf format for the ratio); a peer whose command
# fails is left out when row_skip_failed is set, else it ends the script.
# Each pair also goes to the summary table, its workload named by the printf
# format table_label from LABEL.
# The median times of the last row are left in row_times (Korvex first, then
# each peer measured), for a bench that derives figures such as speed-ups.
row_widths=(12 24 7 6)
row_ratio='peer/korvex %5.2f'
row_skip_failed=""
table_label="%s"
row() {
  local label="$1" kcmd="$2" kt km pt pm r; shift 2
  local -a w=("${row_widths[@]}")
  read -r kt km < <(measure "$kcmd")
  row_times=("$kt")
  printf '%-*s %-*s %*.3f s %*d MB\n' "${w[0]}" "$label" "${w[1]}" korvex "${w[2]}" "$kt" \
    "${w[3]}" $((km / 1024))
  while [ $# -gt 0 ]; do
    local plabel="$1" pcmd="$2"; shift 2
    if [ -n "$row_skip_failed" ]; then
      if ! read -r pt pm < <(measure "$pcmd"); then continue; fi
    else
      read -r pt pm < <(measure "$pcmd")
    fi
    row_times+=("$pt")
    case "$row_ratio" in
      peer/*) r=$(ratio "$pt" "$kt") ;;
      *) r=$(ratio "$kt" "$pt") ;;
    esac
    printf "%-*s %-*s %*.3f s %*d MB   $row_ratio\n" "${w[0]}" "" "${w[1]}" "$plabel" "${w[2]}" \
      "$pt" "${w[3]}" $((pm / 1024)) "$r"
    local workload; printf -v workload "$table_label" "$label"
    table_row "$workload" "$kt" "$km" "$plabel" "$pt" "$pm"
  done
}

# `report NAME SECONDS KB SHAPE [KORVEX_SECONDS KORVEX_KB]`: one result with
# what it produced, and the peer/korvex ratios of time and memory when
# Korvex's figures are given (and then a line of the summary table for
# report_workload); report_width is the width of the name.
report_width=12
report_workload=""
report() {
  printf '  %-*s %7.3f s %5d MB  (%s)' "$report_width" "$1" "$2" $(($3 / 1024)) "$4"
  if [ -n "${5:-}" ]; then
    printf '  peer/korvex time %5.2f  memory %5.2f' "$(ratio "$2" "$5")" "$(ratio "$3" "$6")"
    table_row "$report_workload" "$5" "$6" "$1" "$2" "$3"
  fi
  echo
}

# "pages WxH" of a PDF's first page, as pdfinfo reports it.
pdf_shape() {
  pdfinfo "$1" | awk '/^Pages:/ {n = $2} /^Page size:/ {s = $3 "x" $5} END {print n, s}'
}
