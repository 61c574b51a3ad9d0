#!/usr/bin/env bash
# Builds the 32-bit Windows programs (scripts/build-windows.sh) and runs
# their test suites under Wine with ctest. Arguments after the build folder
# go to ctest (for example -L stream).
#
#   bash scripts/test-windows.sh [build-windows] [ctest arguments...]
#
# Exit status 2: the suites were built, but Wine is missing, so none ran.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows}
shift || true
jobs=${KORVEL_JOBS:-$(nproc)}

# Root's runs of Wine are made as nobody (scripts/wine-run.sh), who must then
# reach the tree and the build folder. A tree nobody cannot reach (a clone
# in /root, say) is copied to one it can, and built and tested there.
if [ "$(id -u)" -eq 0 ] && [ "${KORVEL_WINE_AS_ROOT:-0}" != 1 ] && command -v setpriv >/dev/null &&
  ! setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$PWD"; then
  copy=/tmp/korvel-windows-tree
  echo "test-windows: nobody cannot reach $PWD; building and testing a copy in $copy" >&2
  mkdir -p "$copy"
  chmod 755 "$copy"
  rsync -a --delete --exclude='/build*' --exclude=/.git "$PWD"/ "$copy"/
  cd "$copy"
fi

bash scripts/build-windows.sh "$build_dir"
if ! command -v wine >/dev/null; then
  echo "test-windows: Wine is not installed; the Windows suites were built but not run" >&2
  exit 2
fi
bash scripts/wine-run.sh --prepare
cd "$build_dir"
nice -n 19 ctest --output-on-failure -j "$jobs" --timeout 600 "$@"
