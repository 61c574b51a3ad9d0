#!/usr/bin/env bash
# Builds and runs every benchmark; each prints our figure beside the
# reference tool's on the same input, and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
bash scripts/bench-diff-deps.sh
for b in build/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
echo "== standalone run (1 GiB installation)"
bash bench/standalone_run.sh build
echo "== download of a 1 GiB archive (nginx, pyftpdlib)"
bash bench/download.sh build
