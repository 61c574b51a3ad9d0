#!/usr/bin/env bash
# Configures and builds the project into build/ (or the folder given as $1).
# Extra arguments after the folder go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
shift || true
jobs=${KORVEL_JOBS:-$(nproc)}
cmake -S . -B "$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$build_dir" -j "$jobs"
