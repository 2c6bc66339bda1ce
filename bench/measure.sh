# Sourced by the bash peer benchmarks (they set $runs and $work).
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
