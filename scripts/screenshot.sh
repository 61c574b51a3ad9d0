#!/bin/sh
# Starts korvel-patcher on a virtual X screen, waits, saves a screenshot of
# the screen and ends the program again.
#   scripts/screenshot.sh <path to korvel-patcher> <output.png> [seconds] [patcher arguments...]
# The registry store is a private temporary file, so the run changes
# nothing on the machine.
set -eu
patcher=$1
output=$2
wait_seconds=${3:-4}
shift 2
[ $# -gt 0 ] && shift
work=$(mktemp -d /tmp/korvel-shot-XXXXXX)
trap 'rm -rf "$work"' EXIT
export KORVEL_REGISTRY="$work/registry.reg"
export TEMP="$work/temp"
export WEBKIT_DISABLE_COMPOSITING_MODE=1
output=$(realpath -m "$output")
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  "$0" "$@" &
  pid=$!
  sleep '"$wait_seconds"'
  import -window root "'"$output"'"
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
' "$patcher" "$@"
echo "screenshot: $output"
