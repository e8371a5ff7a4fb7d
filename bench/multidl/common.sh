# Sourced by the multidl benchmark scripts: BUILD as $1 gives $multidl, a work
# folder removed (with every background job) on exit, and two helpers for
# local servers.
set -euo pipefail
build=${1:?build folder}
multidl="$(cd "$build" && pwd)/bin/multidl"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# A free port on 127.0.0.1.
port() { python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
# Waits up to 5 s until something listens on port $1.
wait_port() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return; sleep 0.05; done; }
