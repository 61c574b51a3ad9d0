#!/usr/bin/env bash
# Builds the 32-bit Windows programs into build-windows/ (or the folder given
# as $1): installs the cross compiler and Wine, builds the libraries from
# Debian's sources into the dependency cache (skipped when cached),
# configures with cmake/toolchain-mingw-i686.cmake and builds. Extra
# arguments after the folder go to CMake's configure step.
#
#   bash scripts/build-windows.sh
#   cd build-windows && ctest        # the Windows suites, under Wine
#
# KORVEL_JOBS sets the parallel jobs (default: all cores); every compile runs
# at the lowest priority.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows}
shift || true
jobs=${KORVEL_JOBS:-$(nproc)}

# Exit status 2 means the build tools are there but Wine is not: the build
# goes on, only the tests cannot run.
status=0
bash scripts/install-windows-deps.sh || status=$?
if [ $status -eq 2 ]; then
  echo "build-windows: building without Wine; ctest cannot run the Windows tests" >&2
elif [ $status -ne 0 ]; then
  exit $status
fi

KORVEL_JOBS=$jobs bash scripts/build-windows-deps.sh

nice -n 19 cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-i686.cmake" "$@" >/dev/null
nice -n 19 cmake --build "$build_dir" -j "$jobs"
