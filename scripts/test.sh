#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the full suite on a
# normal build, then the stream, kernel, network and repair suites and the
# fuzz corpora again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the 32-bit Windows build and its suites under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== build"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
(cd build && ctest --output-on-failure --timeout 900 -j "$(nproc)")

echo "== sanitizer build"
bash scripts/build.sh build-sanitize -DCMAKE_BUILD_TYPE=Debug -DKORVEL_SANITIZE=ON
echo "== sanitizer tests"
# The crash-report tests fault on purpose; AddressSanitizer takes those
# faults over itself, so they run in the normal build only.
(cd build-sanitize && ctest --output-on-failure --timeout 900 -j "$(nproc)" -L 'stream|KernelStandard|fuzz|net|repair' \
  -E 'Large|Crash(Report|ConcurrentFault|ConsoleControl|RemoteDump)Test|WorkerFaultTest')

echo "== Windows build and tests"
# Exit status 2: the Windows programs were built, but Wine could not be
# installed from the mirror (it has happened that Debian's i386 index was
# out of step), so their suites could not run. Everything else failed or
# passed as printed above; that case is reported, not hidden.
status=0
bash scripts/test-windows.sh build-windows || status=$?
if [ $status -eq 2 ]; then
  echo "test: THE WINDOWS SUITES DID NOT RUN: Wine is not installed (see scripts/install-windows-deps.sh)" >&2
elif [ $status -ne 0 ]; then
  exit $status
fi
