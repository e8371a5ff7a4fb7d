#!/usr/bin/env bash
# multidl side by side with curl and aria2c on 127.0.0.1, against this
# benchmark's own nginx, in one run on the same files, the order of the tools
# rotating from one repetition to the next. Prints wall time, CPU seconds,
# peak memory and requests per tool, the ratios to curl and aria2c, and the
# goals met or missed. Nothing leaves the machine.
#
# Usage: bench/download/run.sh [BUILD_FOLDER]
# Settings (environment): REPS (3), SCENARIOS (ABC), DATA (/tmp/liveupdate-bench-data),
# STALL_SECONDS (10).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
REPS=${REPS:-3}
SCENARIOS=${SCENARIOS:-ABC}
DATA=${DATA:-/tmp/liveupdate-bench-data}
STALL_SECONDS=${STALL_SECONDS:-10}

"$root/scripts/install-deps.sh" aria2 time
multidl=$build/bin/multidl
[ -x "$multidl" ] || cmake --build "$build" --target multidl

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir -p "$DATA"
[ -s "$DATA/big.bin" ] || head -c $((512 << 20)) /dev/urandom >"$DATA/big.bin"
[ -s "$DATA/mid.bin" ] || head -c $((64 << 20)) /dev/urandom >"$DATA/mid.bin"
declare -A sums
for f in big.bin mid.bin; do sums[$f]=$(sha256sum "$DATA/$f" | cut -d' ' -f1); done

run=$(mktemp -d /tmp/liveupdate-bench.XXXXXX)
out=$run/out
mkdir -p "$run/tmp" "$out"
port=$(free_port)
sed -e "s|@PORT@|$port|g; s|@DATA@|$DATA|g; s|@RUN@|$run|g" "$here/nginx.conf.in" >"$run/nginx.conf"
nginx -p "$run" -c "$run/nginx.conf" &
nginx_pid=$!
stall_pid=
cleanup() {
  kill "$nginx_pid" 2>/dev/null || true
  [ -n "$stall_pid" ] && kill "$stall_pid" 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT
base=http://127.0.0.1:$port
for _ in $(seq 100); do curl -sf "$base/status" >/dev/null && break; sleep 0.05; done

requests() { curl -sf "$base/status" | awk 'NR==3 {print $3}'; }

# tool name | scenarios | command ({URL} and {OUT} filled in)
tools=(
  "multidl|ABC|$multidl -q {URL} -o {OUT} -n 5"
  "multidl-8k|A|$multidl -q {URL} -o {OUT} -n 5 --batch-size 8192"
  "curl|ABC|curl -sS -o {OUT} {URL}"
  "aria2c|ABC|aria2c -q -x5 -s5 --allow-overwrite=true --file-allocation=none -d $out -o dl.bin {URL}"
)

results=$run/results.tsv
printf 'scenario\trep\ttool\tok\twall\tcpu\tpeak_kib\trequests\n' >"$results"
one_run() {  # scenario rep tool command url file
  local scenario=$1 rep=$2 tool=$3 command=$4 url=$5 file=$6
  rm -f "$out"/*
  sync
  command=${command//\{URL\}/$url}
  command=${command//\{OUT\}/$out/dl.bin}
  local before after rc=0
  before=$(requests)
  # shellcheck disable=SC2086
  /usr/bin/time -o "$run/time" -f '%e %U %S %M' timeout 600 $command >"$run/log-$scenario-$tool-$rep" 2>&1 || rc=$?
  after=$(requests)
  read -r wall user sys peak <"$run/time" || true
  local ok=0
  [ "$rc" -eq 0 ] && [ "$(sha256sum "$out/dl.bin" 2>/dev/null | cut -d' ' -f1)" = "${sums[$file]}" ] && ok=1
  local cpu
  cpu=$(python3 -c "print(round($user + $sys, 3))")
  # The status request itself counts once.
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$scenario" "$rep" "$tool" "$ok" "$wall" "$cpu" "$peak" \
    $((after - before - 1)) >>"$results"
  echo "$scenario $tool #$rep: ok=$ok wall=${wall}s cpu=${cpu}s peak=${peak}KiB" >&2
}

scenario() {  # letter location file
  local letter=$1 location=$2 file=$3 names=()
  for t in "${tools[@]}"; do
    IFS='|' read -r name where _ <<<"$t"
    [[ $where == *$letter* ]] && names+=("$t")
  done
  for rep in $(seq "$REPS"); do
    local n=${#names[@]}
    for i in $(seq 0 $((n - 1))); do
      IFS='|' read -r name _ command <<<"${names[$(((i + rep) % n))]}"
      one_run "$letter" "$rep" "$name" "$command" "$base/$location/$file" "$file"
    done
  done
}

[[ $SCENARIOS == *A* ]] && scenario A fast big.bin
[[ $SCENARIOS == *B* ]] && scenario B slow mid.bin
[[ $SCENARIOS == *C* ]] && scenario C norange mid.bin

# A server that accepts and never answers: how much of a core does a waiting
# download use?
stall_port=$(free_port)
python3 -c "
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', $stall_port)); s.listen(16)
held = []
while True:
    held.append(s.accept()[0])
" &
stall_pid=$!
sleep 0.3
/usr/bin/time -o "$run/stall-time" -f '%U %S' timeout -s INT "$STALL_SECONDS" \
  "$multidl" -q "http://127.0.0.1:$stall_port/x.bin" -o "$out/stall.bin" --timeout 600000 >/dev/null 2>&1 || true
read -r user sys < <(tail -1 "$run/stall-time")
python3 "$here/summarize.py" "$results" "$user" "$sys" "$STALL_SECONDS"
echo "raw results: $results"
