#!/usr/bin/env bash
# Runs the package install script with stand-in system commands first on PATH
# and checks what it asked them to do: as root without sudo, as another user
# through sudo keeping the environment, and that a failing apt-get fails it.
# Usage: install_deps_test.sh <path of install-deps.sh>
set -uo pipefail

script=${1:?path of the install script}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
log=$work/commands.log
mkdir -p "$bin"

# Every stand-in writes one line per call: its name and its arguments.
cat >"$bin/dpkg" <<'STUB'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STANDIN_LOG"
exit 1
STUB
cat >"$bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $* [frontend=${DEBIAN_FRONTEND:-}]" >>"$STANDIN_LOG"
if [ "${1:-}" = "${STANDIN_APT_FAILS:-none}" ]; then exit 100; fi
exit 0
STUB
cat >"$bin/systemctl" <<'STUB'
#!/usr/bin/env bash
echo "systemctl $*" >>"$STANDIN_LOG"
exit 0
STUB
cat >"$bin/service" <<'STUB'
#!/usr/bin/env bash
echo "service $*" >>"$STANDIN_LOG"
exit 0
STUB
cat >"$bin/id" <<'STUB'
#!/usr/bin/env bash
if [ "${1:-}" = "-u" ]; then echo "$STANDIN_UID"; else echo "uid=$STANDIN_UID"; fi
STUB
# Like the real one, this sudo drops the caller's environment unless asked to keep it.
cat >"$bin/sudo" <<'STUB'
#!/usr/bin/env bash
echo "sudo $*" >>"$STANDIN_LOG"
if [ "${1:-}" = "-E" ]; then
  shift
  exec "$@"
fi
exec env -u DEBIAN_FRONTEND "$@"
STUB
chmod +x "$bin"/*

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run_as <uid> [apt-get sub-command that fails]; leaves the status in $status.
# run_as <uid> [apt-get sub-command that fails [extra package...]]
run_as() {
  : >"$log"
  local uid=$1 fails=${2:-none}
  shift $(($# < 2 ? $# : 2))
  STANDIN_LOG=$log STANDIN_UID=$uid STANDIN_APT_FAILS=$fails PATH="$bin:$PATH" \
    bash "$script" "$@" >"$work/out" 2>&1
  status=$?
}

expect_line() {
  grep -qxF -- "$1" "$log" || fail "$2: expected the command line '$1'"
}

install_line_of() {
  grep -m1 '^apt-get install ' "$log"
}

# As root: apt-get runs directly, never through sudo, with the non-interactive front-end.
run_as 0
[ "$status" -eq 0 ] || fail "root: exit status $status, output: $(cat "$work/out")"
expect_line "apt-get update -qq [frontend=noninteractive]" root
install_line_of | grep -q -- '-y -qq --no-install-recommends build-essential .* nginx .*\[frontend=noninteractive\]$' ||
  fail "root: install line missing or wrong: $(install_line_of)"
expect_line "systemctl stop nginx" root
expect_line "systemctl stop vsftpd" root
expect_line "systemctl stop tinyproxy" root
if grep -q '^sudo ' "$log"; then fail "root: sudo was used: $(grep '^sudo ' "$log")"; fi
if grep -q '^dpkg -s ' "$log"; then :; else fail "root: packages were not checked with dpkg -s"; fi

# As another user: every privileged command goes through sudo -E, so the
# front-end setting survives.
run_as 1000
[ "$status" -eq 0 ] || fail "user: exit status $status, output: $(cat "$work/out")"
expect_line "sudo -E apt-get update -qq" user
expect_line "apt-get update -qq [frontend=noninteractive]" user
grep -q '^sudo -E apt-get install -y -qq --no-install-recommends build-essential ' "$log" ||
  fail "user: install did not go through sudo -E"
install_line_of | grep -q '\[frontend=noninteractive\]$' ||
  fail "user: the front-end setting did not reach apt-get install: $(install_line_of)"
expect_line "sudo -E systemctl stop nginx" user
[ "$(grep -c '^sudo ' "$log")" -eq "$(grep -c '^apt-get \|^systemctl ' "$log")" ] ||
  fail "user: a privileged command ran without sudo: $(cat "$log")"

# A failing apt-get fails the script, as root and as another user, at either step.
for uid in 0 1000; do
  for step in update install; do
    run_as "$uid" "$step"
    [ "$status" -ne 0 ] || fail "uid $uid: a failing apt-get $step left exit status 0"
  done
done
run_as 0 update
if grep -q '^apt-get install ' "$log"; then fail "root: install ran after a failed update"; fi

# Packages named on the command line are installed with the others.
run_as 0 none aria2 axel
[ "$status" -eq 0 ] || fail "extra packages: exit status $status"
install_line_of | grep -q -- ' fonts-wqy-microhei aria2 axel \[' ||
  fail "extra packages: not on the install line: $(install_line_of)"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install script: all checks passed"
