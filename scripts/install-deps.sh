#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, or
# the packages named as arguments instead (the benchmarks' reference tools).
# Safe to run again: packages already present are left alone.
set -euo pipefail

default_packages=(
  build-essential cmake ninja-build pkg-config clang-format clang
  libgtest-dev libgmock-dev googletest libbenchmark-dev libsodium-dev
  zlib1g-dev libdeflate-dev libzstd-dev libcurl4-openssl-dev libasio-dev libssl-dev
  libwxgtk3.2-dev libwxgtk-webview3.2-dev
  xvfb xauth imagemagick zstd
  nginx libnginx-mod-stream rsync
  lldb libdw-dev
  python3-pyftpdlib openssl
)
if [ $# -gt 0 ]; then packages=("$@"); else packages=("${default_packages[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
