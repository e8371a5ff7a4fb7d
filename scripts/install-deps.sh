#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, and only
# those that are missing. Safe to run again; needs root (or sudo) when something
# is missing. CI has no standard input, so nothing here may ask a question.
# Arguments name further packages to have (the download benchmark's tools).
# Usage: scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libcurl4-openssl-dev libssl-dev openssl
  nlohmann-json3-dev libcli11-dev libcpp-httplib-dev
  libgtk-3-dev
  gzip curl python3
  dpkg-dev file man-db
  nginx vsftpd python3-pyftpdlib tinyproxy squid
  xvfb xauth fonts-wqy-microhei
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" >/dev/null 2>&1; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
# As root the commands run as they are; otherwise through sudo, keeping the
# environment so that the non-interactive front-end reaches apt-get.
export DEBIAN_FRONTEND=noninteractive
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -E "$@"; fi
}
as_root apt-get update -qq
as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Installing nginx or vsftpd starts their system services on the standard ports;
# the tests start their own copies on free ports and do not need them.
for svc in nginx vsftpd tinyproxy squid; do
  as_root systemctl stop "$svc" >/dev/null 2>&1 || as_root service "$svc" stop >/dev/null 2>&1 || true
done
