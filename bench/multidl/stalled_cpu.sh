#!/usr/bin/env bash
# What a waiting download costs the machine: multidl's CPU time (user +
# system, from /proc) over SECONDS of a download from a server that stalls,
# once before its headers and once after sending half the body, with five
# segments. Everything on 127.0.0.1.
# Usage: bench/multidl/stalled_cpu.sh BUILD_DIR [SECONDS]
source "$(dirname "$0")/common.sh"
seconds=${2:-10}

# /headers stalls before any answer to a GET; /body answers HEAD, then sends
# half of each range and stalls.
http=$(port)
cat >"$work/server.py" <<'PY'
import http.server, socketserver, sys, time
SIZE = 10_000_000
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *a): pass
    def do_HEAD(self):
        self.send_response(200)
        self.send_header("Content-Length", str(SIZE))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Last-Modified", "Thu, 01 Jan 2026 00:00:00 GMT")
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
    def do_GET(self):
        if self.path == "/headers":
            time.sleep(3600)
        first, last = 0, SIZE - 1
        r = self.headers.get("Range")
        if r:
            a, b = r.split("=")[1].split("-")
            first, last = int(a), int(b) if b else SIZE - 1
        self.send_response(206 if r else 200)
        self.send_header("Content-Length", str(last - first + 1))
        if r:
            self.send_header("Content-Range", f"bytes {first}-{last}/{SIZE}")
        self.end_headers()
        self.wfile.write(b"x" * ((last - first + 1) // 2))
        self.wfile.flush()
        time.sleep(3600)
class S(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
S(("127.0.0.1", int(sys.argv[1])), H).serve_forever()
PY
python3 "$work/server.py" "$http" &
wait_port "$http"

ticks=$(getconf CLK_TCK)
cpu_of() { awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$1/stat"; }

for path in headers body; do
  "$multidl" -q -n 5 --timeout 600000 -o "$work/out.$path" "http://127.0.0.1:$http/$path" \
    >"$work/log.$path" 2>&1 &
  pid=$!
  # Past the start-up, which is not waiting.
  sleep 1
  before=$(cpu_of "$pid")
  sleep "$seconds"
  after=$(cpu_of "$pid")
  kill -INT "$pid"
  wait "$pid" || true
  awk -v p="$path" -v a="$after" -v b="$before" -v s="$seconds" \
    'BEGIN { printf "stalled %-8s cpu %.3f s over %d s = %.2f%% of a core\n", p, a - b, s, 100 * (a - b) / s }'
done
