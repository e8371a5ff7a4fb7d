#!/usr/bin/env bash
# make demo: a local update site with an entry of every kind, an application
# folder holding the updater as liveupdate1.exe and a stand-in main
# application, one update run against the site (a window when there is a
# display, the console otherwise), then what it left behind. Builds nothing:
# make has built everything before.
set -euo pipefail
build="${1:-build}"
bin="$(cd "$build/bin" && pwd)"
demo="$(mktemp -d /tmp/liveupdate-demo.XXXXXX)"
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

cp "$bin/liveupdate" "$app/liveupdate1.exe"
cp "$bin"/lib*.so "$app/"
printf '[tarvo]\nver=1.0\n' > "$app/sms.ini"
echo "previous" > "$app/old/gone.dat"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "$(dirname "$0")/tarvo-args.txt"\n' > "$app/tarvo.exe"
chmod +x "$app/tarvo.exe"

"$bin/liveupdate-serve" --root "$demo/site" --rate 8000000 > "$demo/serve.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q listening "$demo/serve.log" && break; sleep 0.1; done
url="$(sed -n 's/^listening on //p' "$demo/serve.log")"

echo "== update site $url, application folder '$app'"
LIVEUPDATE_SERVER="$url" "$app/liveupdate1.exe" 2.0 main --from-updater "two words"
for _ in $(seq 50); do [ -f "$app/tarvo-args.txt" ] && break; sleep 0.1; done

echo "== installed files"
(cd "$app" && find . -type f ! -name '*.so' | sort)
echo "== sms.ini"
cat "$app/sms.ini"
echo "== the kind-2 program"
cat "$app/setup-ran.txt" 2>/dev/null || echo "(did not run)"
echo "== arguments the main application received"
cat "$app/tarvo-args.txt" 2>/dev/null || echo "(not started)"
