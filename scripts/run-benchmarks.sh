#!/usr/bin/env bash
# Runs every benchmark program of a build (bin/bench_*), one after the other;
# further arguments are handed to each program.
# Usage: scripts/run-benchmarks.sh [BUILD_FOLDER [ARGS...]]
set -euo pipefail
build=${1:-build}
shift || true
shopt -s nullglob
found=0
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" "$@"
done
[ "$found" -eq 1 ] || echo "no benchmarks built in $build"
