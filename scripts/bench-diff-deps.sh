#!/usr/bin/env bash
# Installs the reference diff tools the diff benchmark (bench/bench_diff.cpp)
# compares our diff format against: xdelta3, bsdiff/bspatch and the zstd CLI.
# They are used by the benchmark only, never by the patcher or its tests.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(xdelta3 bsdiff zstd)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bench-diff-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "bench-diff-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
