#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the full suite on a
# normal build, then the stream, kernel, network and repair suites and the
# fuzz corpora again under AddressSanitizer and UndefinedBehaviorSanitizer.
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
