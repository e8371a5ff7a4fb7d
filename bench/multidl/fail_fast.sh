#!/usr/bin/env bash
# How fast multidl ends where nothing can succeed, and after SIGINT: wall time
# of a 404, an unsupported scheme and a refused (self-signed) certificate, and
# of a stop in the middle of a download one of whose segments keeps failing
# with 500 while the others trickle. Everything on 127.0.0.1.
# Usage: bench/multidl/fail_fast.sh BUILD_DIR [RUNS]
source "$(dirname "$0")/common.sh"
runs=${2:-20}
now() { date +%s.%N; }

# A server: /missing answers 404; /slow.bin (1 MB) answers ranges, the one from
# byte 200000 with 500 every time, the others 1 KB every 100 ms.
http=$(port)
cat >"$work/server.py" <<'PY'
import http.server, socketserver, sys, time
SIZE = 1000000
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *a): pass
    def head(self, status, length, extra=()):
        self.send_response(status)
        self.send_header("Content-Length", str(length))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT")
        self.send_header("Content-Type", "application/octet-stream")
        for k, v in extra: self.send_header(k, v)
        self.end_headers()
    def do_HEAD(self): self.answer(False)
    def do_GET(self): self.answer(True)
    def answer(self, body):
        if self.path != "/slow.bin":
            self.head(404, 0); return
        r = self.headers.get("Range")
        if not r:
            self.head(200, SIZE); return
        first, last = r[6:].split("-")
        first, last = int(first), int(last or SIZE - 1)
        if first == 200000:
            self.head(500, 0); return
        self.head(206, last - first + 1, [("Content-Range", "bytes %d-%d/%d" % (first, last, SIZE))])
        if not body: return
        try:
            for _ in range(first, last + 1, 1024):
                self.wfile.write(b"x" * 1024); self.wfile.flush(); time.sleep(0.1)
        except OSError: pass
class S(socketserver.ThreadingMixIn, http.server.HTTPServer): daemon_threads = True
S(("127.0.0.1", int(sys.argv[1])), H).serve_forever()
PY
python3 "$work/server.py" "$http" &
wait_port "$http"

# A TLS server whose certificate no authority signed.
tls=$(port)
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -days 1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
openssl s_server -quiet -accept "$tls" -cert "$work/cert.pem" -key "$work/key.pem" -www \
  >/dev/null 2>&1 &
wait_port "$tls"

stats() {  # name, then the seconds of each run
  local name=$1; shift
  printf '%s\n' "$@" | sort -n | awk -v name="$name" '
    { v[NR] = $1 } END { printf "%-28s runs %2d  min %.3f s  median %.3f s  max %.3f s\n",
      name, NR, v[1], v[int((NR + 1) / 2)], v[NR] }'
}

for case in 404 scheme certificate; do
  case $case in
    404) url="http://127.0.0.1:$http/missing" ;;
    scheme) url="gopher://127.0.0.1:$http/x.bin" ;;
    certificate) url="https://127.0.0.1:$tls/x.bin" ;;
  esac
  times=()
  for _ in $(seq "$runs"); do
    start=$(now)
    "$multidl" -q -o "$work/out" "$url" 2>/dev/null && status=0 || status=$?
    times+=("$(echo "$(now) - $start" | bc)")
  done
  stats "$case (exit $status)" "${times[@]}"
done

times=()
for _ in $(seq "$runs"); do
  rm -f "$work/slow.bin" "$work/slow.bin.multidl"
  "$multidl" -q -n 5 --tries 3 --reconnect-after 100 -o "$work/slow.bin" \
    "http://127.0.0.1:$http/slow.bin" 2>/dev/null &
  pid=$!
  sleep 2
  start=$(now)
  kill -INT "$pid"
  wait "$pid" && status=0 || status=$?
  times+=("$(echo "$(now) - $start" | bc)")
done
stats "SIGINT, takeover (exit $status)" "${times[@]}"
