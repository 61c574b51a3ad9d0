#!/usr/bin/env bash
# Runs a Windows program of the 32-bit build under Wine: ctest's emulator
# for the Windows test programs, and the Windows scripts' launcher.
#
#   wine-run.sh <program.exe> [arguments...]
#   wine-run.sh --prepare        (only create the prefix: the first creation
#                                 takes longer than a test's time limit)
#
# The Wine prefix is the project's own (KORVEL_WINEPREFIX, default
# /tmp/korvel-wine-<uid>), a 32-bit one, created on first use, so the user's
# ~/.wine is never touched. Wine's own diagnostics are off unless WINEDEBUG
# is set. The program's exit code is passed on.
set -euo pipefail

if ! command -v wine >/dev/null; then
  echo "wine-run: wine is not installed (scripts/install-windows-deps.sh installs it)" >&2
  exit 127
fi

export WINEPREFIX=${KORVEL_WINEPREFIX:-/tmp/korvel-wine-$(id -u)}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Two test programs starting at once must not both create the prefix.
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # No offer to download Mono or Gecko while the prefix is made (Debian
    # ships neither; nothing here needs Mono, and without Gecko the page
    # view stays hidden, as for an unreachable host).
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
  exec 9>&-
fi

[ "${1:-}" = "--prepare" ] && exit 0
exec wine "$@"
