#!/usr/bin/env bash
# Times multidl side by side with curl, wget, aria2c and axel on the loopback
# harness beside the checkout (../shared/bench/run.sh, its own nginx on
# 127.0.0.1). Installs the other tools first when they are missing. Further
# environment settings (N, SCENARIOS, ONLY, ...) go to the harness as they are.
# Usage: scripts/bench-multidl.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
harness=${LIVEUPDATE_BENCH_HARNESS:-../shared/bench/run.sh}
[ -x "$harness" ] || { echo "bench-multidl: no harness at $harness" >&2; exit 2; }
scripts/install-deps.sh aria2 axel wget time
cmake --build "$build" --target multidl -j "$(nproc)"
default_command="$PWD/$build/bin/multidl -q {URL} -o {OUT} -n 5 --batch-size 65536"
export MULTIDL=${MULTIDL:-$default_command}
exec "$harness"
