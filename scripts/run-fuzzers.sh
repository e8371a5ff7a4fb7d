#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each; any crash, leak
# or sanitizer report fails the run.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
shopt -s nullglob
found=0
for f in "$build"/bin/fuzz_*; do
  [ -x "$f" ] || continue
  found=1
  name=$(basename "$f")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds="fuzz/corpus/${name#fuzz_}"
  echo "== $name for ${seconds}s"
  if [ -d "$seeds" ]; then
    "$f" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" "$seeds" 2>&1 | tail -n 3
  else
    "$f" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
  fi
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then echo "$name failed"; exit "$status"; fi
done
[ "$found" -eq 1 ] || echo "no fuzz targets built"
