#!/usr/bin/env bash
# Load measurement of an update site on nginx (one worker) with the real
# updater: requests and bytes per update, and updater runs per second.
# Usage: load.sh BUILD_BIN_DIR
set -euo pipefail
bin="$(cd "$1" && pwd)"
w="$(mktemp -d /tmp/lu-load.XXXXXX)"
trap 'kill $(cat "$w/nginx.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$w"' EXIT
port=$(python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])')
chmod 755 "$w"; mkdir -p "$w/tmp" "$w/site"
cat > "$w/nginx.conf" <<CONF
daemon on; master_process on; worker_processes 1; pid $w/nginx.pid;
error_log $w/error.log;
events { worker_connections 4096; }
http {
  log_format counted '\$request_method \$uri \$status \$bytes_sent';
  access_log $w/access.log counted;
  client_body_temp_path $w/tmp; proxy_temp_path $w/tmp; fastcgi_temp_path $w/tmp;
  uwsgi_temp_path $w/tmp; scgi_temp_path $w/tmp;
  default_type application/octet-stream; sendfile on; keepalive_requests 10000;
  server { listen 127.0.0.1:$port; root $w/site; }
}
CONF
nginx -p "$w" -c "$w/nginx.conf" -e "$w/error.log"
url="http://127.0.0.1:$port"

# site NAME N SIZE [signed]: a site of N files of SIZE bytes each
site() {
  local root="$w/site" n=$2 size=$3
  rm -rf "$root/tarvo"; mkdir -p "$root/tarvo/file"
  { echo "[main]"; for i in $(seq "$n"); do echo "file$i=0,f$i.dat"; head -c "$size" /dev/urandom > "$root/tarvo/file/f$i.dat"; done; } > "$root/tarvo/livelist.txt"
  if [ "${4:-}" = signed ]; then
    [ -f "$w/key.pem" ] || "$bin/liveupdate-publish" --new-key "$w/key.pem" > "$w/pub.txt"
    "$bin/liveupdate-publish" --key "$w/key.pem" --version 2 "$root" > /dev/null
  fi
}
# app DIR [signed]: an application folder (the updater linked in)
app() {
  rm -rf "$1"; mkdir -p "$1"; ln -s "$bin/liveupdate" "$1/liveupdate1.exe"
  printf '#!/bin/sh\nexit 0\n' > "$1/tarvo.exe"; chmod +x "$1/tarvo.exe"
  printf '[tarvo]\nver=1\n' > "$1/sms.ini"
  [ "${2:-}" = signed ] && cat "$w/pub.txt" >> "$1/sms.ini"
  return 0
}
run() { LIVEUPDATE_CONSOLE=1 LIVEUPDATE_SERVER="$url" "$1/liveupdate1.exe" 2 main 2>/dev/null; }
cost() {  # requests and bytes of the access log, then empties it
  awk '{n++; b+=$4; k[$1]++} END {printf "%d requests (", n; s=""; for (m in k) {printf "%s%s %d", s, m, k[m]; s=", "}; printf "), %d bytes sent\n", b}' "$w/access.log"
  : > "$w/access.log"; kill -USR1 "$(cat "$w/nginx.pid")"; sleep 0.2
}

echo "== cost of one update on the server"
for signed in "" signed; do
  for shape in "1 1024" "10 1024" "100 1024" "1 1048576" "1 10485760"; do
    set -- $shape
    site x "$1" "$2" $signed; app "$w/a" $signed; : > "$w/access.log"
    run "$w/a" || echo "(exit $?)"
    printf '%-7s %3d file(s) of %8d bytes: ' "${signed:-plain}" "$1" "$2"; cost
  done
done

echo "== updater runs per second, one nginx worker, 1 MiB update"
site x 1 1048576
worker=$(pgrep -P "$(cat "$w/nginx.pid")" nginx)
ticks=$(getconf CLK_TCK)
for n in 1 2 4 8 16 32 64; do
  for i in $(seq "$n"); do app "$w/r$i"; done
  before=$(awk '{print $14+$15}' "/proc/$worker/stat")
  start=$(date +%s.%N)
  rounds=3
  for r in $(seq $rounds); do
    for i in $(seq "$n"); do (run "$w/r$i"; rm -f "$w/r$i/f1.dat") & done
    wait
  done
  end=$(date +%s.%N)
  after=$(awk '{print $14+$15}' "/proc/$worker/stat")
  runs=$((n * rounds))
  awk -v n="$n" -v runs="$runs" -v s="$start" -v e="$end" -v c=$((after - before)) -v t="$ticks" -v ok="$(grep -c ' 200 \| 206 ' "$w/access.log")" \
    'BEGIN {el=e-s; cpu=c/t; printf "N=%2d: %3d runs in %6.2f s = %6.2f runs/s; nginx worker CPU %.2f s = %.1f ms/run (%.0f runs/s per CPU-second)\n", n, runs, el, runs/el, cpu, 1000*cpu/runs, (cpu>0? runs/cpu : 0)}'
  : > "$w/access.log"; kill -USR1 "$(cat "$w/nginx.pid")"; sleep 0.2
done
