#!/usr/bin/env bash
# Installs the reference tools the benchmarks compare against: xdelta3,
# bsdiff/bspatch and the zstd CLI, plus GNU time and bc for the end-to-end
# run's peak memory and arithmetic. They are used by the benchmarks only,
# never by the patcher or its tests.
set -euo pipefail
exec bash "$(dirname "$0")/install-deps.sh" xdelta3 bsdiff zstd time bc
