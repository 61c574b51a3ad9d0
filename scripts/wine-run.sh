#!/usr/bin/env bash
# Runs a Windows program of the 32-bit build under Wine: ctest's emulator
# for the Windows test programs, and the Windows scripts' launcher.
#
#   wine-run.sh <program.exe> [arguments...]
#   wine-run.sh --prepare        (only create the prefix: the first creation
#                                 takes longer than a test's time limit)
#   wine-run.sh --stop           (end the prefix's Wine processes)
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

# Run as root, Wine cannot keep a read-only file from being written or
# deleted: it maps the read-only attribute to the file's mode bits, and root
# ignores them. So root's runs drop to the unprivileged "nobody" (prefix and
# home of its own) whenever that user can reach the program (a file, or one
# of Wine's own such as regedit) and the current folder; every run of root's
# makes the same choice for the same program, so they meet in one prefix.
# KORVEL_WINE_AS_ROOT=1 keeps root.
if [ "$(id -u)" -eq 0 ] && [ "${KORVEL_WINE_AS_ROOT:-0}" != 1 ] && [ -n "${1:-}" ]; then
  nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  if [ "$1" = "--prepare" ] || [ "$1" = "--stop" ] || { "${nobody[@]}" test -x "$PWD" && { [ ! -e "$1" ] || "${nobody[@]}" test -r "$1"; }; }; then
    exec "${nobody[@]}" env HOME=/tmp/korvel-wine-65534 KORVEL_WINEPREFIX="${KORVEL_WINEPREFIX:-}" \
      bash "$0" "$@"
  fi
fi

export WINEPREFIX=${KORVEL_WINEPREFIX:-/tmp/korvel-wine-$(id -u)}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
if [ "${1:-}" = "--stop" ]; then
  [ -f "$WINEPREFIX/system.reg" ] || exit 0
  exec wineserver -k
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Two test programs starting at once must not both create the prefix.
  # Wine refuses a prefix whose folder (or, when missing, whose parent) is
  # not owned by the user, and /tmp is root's.
  mkdir -p "$WINEPREFIX"
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
