#!/usr/bin/env bash
# Prepares this Debian 12 machine for the 32-bit Windows build: the i386
# architecture (Wine's 32-bit half), deb-src entries for `apt-get source`
# (the dependencies are built from Debian's own sources), the mingw-w64 i686
# cross compiler with the posix thread model, Wine and the tools the source
# builds use. Safe to run again: nothing is added or installed twice.
# Exit status 2: everything the build needs is installed, but Wine is not
# (the Windows programs build; their tests cannot run).
set -euo pipefail

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

need_update=0

# Wine runs 32-bit programs only with the i386 half of its packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-windows-deps: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

# deb-src entries for the suites the machine already uses, with the same
# mirrors. Taken from the deb822 file when there is one, else from the
# one-line sources.list.
src_file=/etc/apt/sources.list.d/korvel-deb-src.sources
have_deb_src() {
  # grep exits 2 for a missing /etc/apt/sources.list even when it found
  # entries elsewhere, so its output decides, not its status.
  local found
  found=$(grep -rhsE '^(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/ \
    2>/dev/null || true)
  [ -n "$found" ]
}
if ! have_deb_src; then
  echo "install-windows-deps: adding deb-src entries ($src_file)"
  tmp=$(mktemp)
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    # Copy every stanza whose Types include "deb", with Types set to deb-src
    # only and any Architectures restriction dropped.
    awk '
      BEGIN { RS = ""; ORS = "\n\n" }
      /(^|\n)Types:[^\n]*deb([ \n]|$)/ {
        out = ""
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          if (lines[i] ~ /^Types:/) lines[i] = "Types: deb-src"
          if (lines[i] ~ /^Architectures:/) continue
          out = out lines[i] "\n"
        }
        printf "%s\n", out
      }' /etc/apt/sources.list.d/debian.sources >"$tmp"
  fi
  if [ ! -s "$tmp" ] && [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | sed -E 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?/deb-src /' \
      >"$tmp" || true
    src_file=/etc/apt/sources.list.d/korvel-deb-src.list
  fi
  if [ ! -s "$tmp" ]; then
    # No readable source found: Debian's own mirror for bookworm.
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\n%s\n\n' \
      'Components: main' >"$tmp"
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian-security\nSuites: bookworm-security\n%s\n' \
      'Components: main' >>"$tmp"
  fi
  $SUDO install -m 0644 "$tmp" "$src_file"
  rm -f "$tmp"
  need_update=1
fi

# What the build needs: the cross compiler (posix thread model, so
# std::thread works) and its binutils (windres), zlib for the target, and the
# tools of `apt-get source` and the source builds.
build_packages=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev
  dpkg-dev cmake make ninja-build pkg-config autoconf automake libtool xz-utils
)
# What running the Windows tests needs: Wine (wine32 is the i386 half) and,
# for the window, a virtual X server and the tools that find its window and
# take the screenshot.
wine_packages=(wine wine32:i386 xvfb xauth x11-utils imagemagick)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing_build < <(missing_of "${build_packages[@]}")
mapfile -t missing_wine < <(missing_of "${wine_packages[@]}")

if [ ${#missing_build[@]} -eq 0 ] && [ ${#missing_wine[@]} -eq 0 ] && [ $need_update -eq 0 ]; then
  echo "install-windows-deps: all packages present"
  exit 0
fi

# An index can be refused with "File has unexpected size" when apt kept an
# older InRelease of that suite (seen with bookworm-security's i386 list after
# adding the architecture): the sizes apt expects are then the old ones. The
# second try drops the cached lists of the suites that failed, so apt fetches
# their InRelease anew. What is already known is enough when the packages
# below resolve, and the install reports it when they do not.
update_log=$(mktemp)
if ! $SUDO apt-get update -qq 2>&1 | tee "$update_log" >&2 || grep -q '^E:' "$update_log"; then
  grep -oE 'https?://[^ ]+/dists/[^/ ]+' "$update_log" | sort -u | while read -r failed; do
    prefix=$(echo "${failed#*://}" | tr '/' '_')
    echo "install-windows-deps: dropping the cached lists of ${failed}" >&2
    $SUDO find /var/lib/apt/lists -maxdepth 1 -name "${prefix}_*" -delete
  done
  sleep 5
  $SUDO apt-get update -qq || echo "install-windows-deps: warning: apt-get update reported errors, going on" >&2
fi
rm -f "$update_log"
if [ ${#missing_build[@]} -gt 0 ]; then
  echo "install-windows-deps: installing ${missing_build[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing_build[@]}"
fi
# Wine separately: its i386 libraries must have exactly the versions of the
# amd64 ones already installed, so an i386 index the mirror fails to deliver
# (often bookworm-security's during a sync) leaves it uninstallable. The
# build does not need Wine; only running the Windows tests does.
wine_state=0
if [ ${#missing_wine[@]} -gt 0 ]; then
  echo "install-windows-deps: installing ${missing_wine[*]}"
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing_wine[@]}"; then
    wine_state=1
  fi
fi
if [ $wine_state -ne 0 ]; then
  echo "install-windows-deps: WARNING: Wine could not be installed: its i386 packages do not resolve" >&2
  echo "install-windows-deps: against the installed amd64 ones (is an i386 index of the mirror failing?" >&2
  echo "install-windows-deps: see 'apt-get update'). The Windows programs build; their tests cannot run." >&2
  exit 2
fi

# The mingw compilers come in two thread models; the build uses the posix
# variants by their full names, so the alternatives are left as they are.
echo "install-windows-deps: done"
