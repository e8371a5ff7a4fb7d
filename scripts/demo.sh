#!/usr/bin/env bash
# make demo: a local update site with an entry of every kind, signed with a
# key made for the demo; an application folder holding the updater as
# liveupdate1.exe, a stand-in main application and the key's public half in
# sms.ini; one update run against the site (a window when there is a
# display, the console otherwise), then what it left behind; then one byte
# of the site is changed and a second run is refused. Everything it made
# under /tmp is removed when it ends. Builds nothing: make has built
# everything before.
set -euo pipefail
build="${1:-build}"
bin="$(cd "$build/bin" && pwd)"
demo="$(mktemp -d /tmp/liveupdate-demo.XXXXXX)"
server=""
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$demo"
}
trap cleanup EXIT
site="$demo/site/tarvo"
app="$demo/my app"
mkdir -p "$site/file/data" "$site/file/bin" "$site/file/old" "$app/old"

# The update: kinds 0 to 4 and an unknown kind; big.dat is large enough, and
# served slowly enough, that its segments are seen filling up.
head -c $((40 * 1024 * 1024)) /dev/urandom > "$site/file/big.dat"
echo "read me" > "$site/file/readme.txt"
echo "first-run data" > "$site/file/data/first.dat"
printf '#!/bin/sh\necho "setup ran with: $*" > "$(dirname "$0")/../setup-ran.txt"\n' > "$site/file/bin/setup.sh"
cp "$bin/liveupdate" "$site/file/liveupdate.new"
echo "obsolete" > "$site/file/old/gone.dat"
echo "kind nine" > "$site/file/odd.dat"
cat > "$site/livelist.txt" <<'LIST'
[main]
file1=0,readme.txt
file2=1,data/first.dat
file3=2,bin/setup.sh
file4=3,liveupdate.new
file5=4,old/gone.dat
file6=9,odd.dat
file7=0,big.dat
LIST

echo "== signing the site"
public_key="$("$bin/liveupdate-publish" --new-key "$demo/publisher.pem")"
"$bin/liveupdate-publish" --key "$demo/publisher.pem" --version 2.0 --expires-days 7 "$demo/site"

cp "$bin/liveupdate" "$app/liveupdate1.exe"
cp "$bin"/lib*.so "$app/"
printf '[tarvo]\nver=1.0\n%s\n' "$public_key" > "$app/sms.ini"
echo "previous" > "$app/old/gone.dat"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "$(dirname "$0")/tarvo-args.txt"\n' > "$app/tarvo.exe"
chmod +x "$app/tarvo.exe"

"$bin/liveupdate-serve" --root "$demo/site" --rate 8000000 > "$demo/serve.log" 2>&1 &
server=$!
for _ in $(seq 50); do grep -q listening "$demo/serve.log" && break; sleep 0.1; done
url="$(sed -n 's/^listening on //p' "$demo/serve.log")"

# Runs the updater, then waits for the main application it starts at its end.
run_update() {
  rm -f "$app/tarvo-args.txt"
  local status=0
  LIVEUPDATE_SERVER="$url" "$app/liveupdate1.exe" "$@" || status=$?
  for _ in $(seq 50); do [ -f "$app/tarvo-args.txt" ] && break; sleep 0.1; done
  echo "== the updater's exit status: $status"
}

echo "== update site $url, application folder '$app'"
run_update 2.0 main --from-updater "two words"

echo "== installed files"
(cd "$app" && find . -type f ! -name '*.so' ! -path './liveupdate/*' | sort)
echo "== sms.ini"
cat "$app/sms.ini"
echo "== the kind-2 program"
for _ in $(seq 50); do [ -f "$app/setup-ran.txt" ] && break; sleep 0.1; done
cat "$app/setup-ran.txt" 2>/dev/null || echo "(did not run)"
echo "== arguments the main application received"
cat "$app/tarvo-args.txt" 2>/dev/null || echo "(not started)"

echo "== one byte of readme.txt changed on the site after signing: the next run is refused"
printf 'R' | dd of="$site/file/readme.txt" bs=1 seek=0 conv=notrunc status=none
run_update 2.0 main
echo "== liveupdate/liveupdate.log"
cat "$app/liveupdate/liveupdate.log"
