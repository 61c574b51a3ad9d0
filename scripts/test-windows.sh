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

bash scripts/build-windows.sh "$build_dir"
if ! command -v wine >/dev/null; then
  echo "test-windows: Wine is not installed; the Windows suites were built but not run" >&2
  exit 2
fi
bash scripts/wine-run.sh --prepare
cd "$build_dir"
nice -n 19 ctest --output-on-failure -j "$jobs" --timeout 600 "$@"
