#!/usr/bin/env bash
# HTTP download of a 20 MB JPEG from a loopback server (python3 -m
# http.server, started here and stopped by its PID): CreateImageFromURL
# against curl -o followed by the same decode of the file, and the download
# alone against curl -o. Prints the ratios.
#
#   bench/net_peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/measure.sh
bench_init 5 "$@"
bench="$build/bench/net_bench"
bench_need "$bench"
bench_need_cmd curl
server_pid=""
bench_stop() {
  [ -n "$server_pid" ] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
}

echo "Preparing a 20 MB JPEG in $work ..."
/usr/bin/convert -size 5600x4000 -seed 5 xc:gray +noise Random -quality 97 "$work/big.jpg"
ls -l "$work/big.jpg" | awk '{printf "  %.1f MB\n", $5 / 1e6}'

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
/usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  curl -s -f -o /dev/null "http://127.0.0.1:$port/big.jpg" && break
  sleep 0.1
done
"$bench" "$port" /big.jpg "$work/copy.jpg" "$runs"
