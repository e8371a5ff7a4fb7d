#!/usr/bin/env bash
# Runs every benchmark program of a build (bin/bench_*), one after the other.
# Usage: scripts/run-benchmarks.sh [BUILD_FOLDER]
set -euo pipefail
build=${1:-build}
shopt -s nullglob
found=0
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[ "$found" -eq 1 ] || echo "no benchmarks built in $build"
