#!/usr/bin/env bash
# The whole-patch benchmark (bench/standalone_run.sh, random installation)
# run twice in a row: the console patcher with the allocation tracker off
# (KORVEL_ALLOC_TRACKING=off: every block passes straight to the heap) and
# on (as the programs always run). Prints both wall times and their ratio.
#
# usage: bench/alloc_whole_patch.sh [BUILD_DIR]   (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

patcher_seconds() {
  grep -m1 '^patcher ' "$log" | awk '{print $2}'
}

echo "== tracker off"
KORVEL_ALLOC_TRACKING=off KORVEL_BENCH_KINDS=random bash bench/standalone_run.sh "$build" | tee "$log"
off=$(patcher_seconds)
echo "== tracker on"
env -u KORVEL_ALLOC_TRACKING KORVEL_BENCH_KINDS=random bash bench/standalone_run.sh "$build" | tee "$log"
on=$(patcher_seconds)

printf 'whole patch, tracker off  %8.2f s\n' "$off"
printf 'whole patch, tracker on   %8.2f s\n' "$on"
printf 'ratio on/off              %8.3f  (goal below 1.05)\n' "$(echo "$on / $off" | bc -l)"
