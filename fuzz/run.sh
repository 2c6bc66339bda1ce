#!/usr/bin/env bash
# Runs every harness of the fuzz build for a short, bounded time over its
# corpus and regressions. Usage: fuzz/run.sh [SECONDS_PER_HARNESS]
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-15}"
# Font caches fontconfig keeps for the process (the metafile harnesses draw
# text) are left alone, as in the sanitizer tests.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}"
for bin in build/fuzz/fuzz/*_fuzz; do
  name="$(basename "$bin" _fuzz)"
  mkdir -p "fuzz/corpus/$name" "fuzz/regressions/$name"
  work="$(mktemp -d)"
  # New inputs go to a scratch folder; the committed corpus is only read.
  echo "fuzz: $name for ${secs}s"
  "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=25 -print_final_stats=0 \
    "$work" "fuzz/corpus/$name" "fuzz/regressions/$name" 2>&1 | tail -n 3
  rm -rf "$work"
done
