#!/usr/bin/env bash
# A standalone patch on Windows, end to end under Wine: the Windows archive
# builder makes the patches from build 39979 to 40040 and on to 40100, the
# Windows packager puts both behind korvel-patcher-cli.exe, the installation
# is registered in Wine's registry, and the patch program runs. Passes when
# it ends with "Patching completed." and the installation equals build
# 40100 byte for byte. With a second argument, the same patch behind the
# window program (korvel-patcher.exe) is started on a virtual X screen too,
# and a screenshot of the window showing it is saved there.
#
#   standalone_patch.sh <windows build folder> [screenshot.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: standalone_patch.sh <windows build folder> [screenshot.png]}" && pwd)
screenshot=${2:+$(realpath -m "$2")}
wine_run() { bash "$root/scripts/wine-run.sh" "$@"; }

work=$(mktemp -d /tmp/korvel-win-standalone-XXXXXX)
xvfb_pid=""
finish() {
  wine_run --stop || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ "${KORVEL_KEEP_WORK:-0}" = 1 ] || rm -rf "$work" "$KORVEL_WINEPREFIX" "$KORVEL_WINEPREFIX.lock"
}
trap finish EXIT

# A Wine prefix of this run's own, and with a screenshot asked for, the
# virtual X screen from the first program on: Wine starts its desktop
# process once per prefix, and one started without a display never shows a
# window (the test suites' shared prefix has such a desktop). Xvfb runs
# without an access file, so that the unprivileged user of root's Wine runs
# can reach it.
export KORVEL_WINEPREFIX=$work.wine
if [ -n "$screenshot" ]; then
  exec 8< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
  xvfb_pid=$!
  read -r display <&8
  export DISPLAY=:$display
fi

sample_vpatch=$build/tools/vpatch/vpatchl-w32.exe
sample_util=$build/tests/OmbrixUtil.exe
source "$root/scripts/sample-trees.sh"
make_base_tree "$work/versions/39979"
make_next_tree "$work/versions/39979" "$work/versions/40040" 40040
make_next_tree "$work/versions/40040" "$work/versions/40100" 40100
cp -a "$work/versions/39979" "$work/install"
mkdir -p "$work/patches"
# Root's Wine runs drop to "nobody" (scripts/wine-run.sh), which must be able
# to write here.
if [ "$(id -u)" -eq 0 ] && [ "${KORVEL_WINE_AS_ROOT:-0}" != 1 ]; then chown -R 65534:65534 "$work"; fi

# Windows programs take these folders by their Unix paths: Wine's drive Z:
# is the Unix root, and it is the current drive of a program started there.
wine_run "$build/tools/archive-builder/korvel-make-patch.exe" --old "$work/versions/39979" \
  --new "$work/versions/40040" --out "$work/patches/39979_to_40040.zip"
wine_run "$build/tools/archive-builder/korvel-make-patch.exe" --old "$work/versions/40040" \
  --new "$work/versions/40100" --out "$work/patches/40040_to_40100.zip"
package=$build/tools/packager/korvel-package.exe
hash1=$(wine_run "$package" --hash-of "$work/versions/39979/bin/Launcher.exe" | tr -d '\r')
hash2=$(wine_run "$package" --hash-of "$work/versions/40040/bin/Launcher.exe" | tr -d '\r')
make_standalone() {
  wine_run "$package" --patcher "$1" --out "$2" --final 40100 --build "$hash1=39979" --build "$hash2=40040" \
    --patch "39979:40040:$work/patches/39979_to_40040.zip" --patch "40040:40100:$work/patches/40040_to_40100.zip"
}
make_standalone "$build/app/cli/korvel-patcher-cli.exe" "$work/OmbrixPatch-40100.exe"
[ -n "$screenshot" ] && make_standalone "$build/app/gui/korvel-patcher.exe" "$work/OmbrixPatch-40100-window.exe"

# The installation as the game's installer registers it.
install_path="Z:$(echo "$work/install" | sed 's|/|\\\\|g')"
cat >"$work/ombrix.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Ombrix Simulator]
"ProductClass"="Ombrix"
"ProductInstallPath"="$install_path"
REG
wine_run regedit /S "$work/ombrix.reg"

status=0
wine_run "$work/OmbrixPatch-40100.exe" >"$work/patch.log" 2>&1 || status=$?
tr -d '\r' <"$work/patch.log" | tail -n 15
if [ "$status" -ne 0 ] || ! grep -q "Patching completed." "$work/patch.log"; then
  echo "standalone_patch: the patch program ended with $status, not \"Patching completed.\"" >&2
  exit 1
fi
if ! diff -r -x assets.odx "$work/install" "$work/versions/40100" >/dev/null; then
  echo "standalone_patch: the installation differs from build 40100:" >&2
  diff -rq -x assets.odx "$work/install" "$work/versions/40100" | head -n 20 >&2 || true
  exit 1
fi
echo "standalone_patch: the installation now equals build 40100"

[ -z "$screenshot" ] && exit 0
# The window: the installation is back at build 39979, and the window shows
# the patch to it.
rm -rf "$work/install"
cp -a "$work/versions/39979" "$work/install"
[ "$(id -u)" -eq 0 ] && [ "${KORVEL_WINE_AS_ROOT:-0}" != 1 ] && chown -R 65534:65534 "$work/install"
timeout 60 bash "$root/scripts/wine-run.sh" "$work/OmbrixPatch-40100-window.exe" \
  >"$work/window.log" 2>&1 &
window_pid=$!
# The first start of a window in a fresh prefix takes a while: wait for the
# patcher's frame (its title) to be mapped, then give it time to paint.
shown=0
for _ in $(seq 1 120); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Korvel Patcher'; then
    shown=1
    break
  fi
  sleep 0.5
done
sleep 3
mkdir -p "$(dirname "$screenshot")"
import -window root "$screenshot"
kill "$window_pid" 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
if [ "$shown" -ne 1 ]; then
  echo "standalone_patch: the window did not appear within 60 s (screenshot $screenshot):" >&2
  tail -n 20 "$work/window.log" >&2
  exit 1
fi
echo "standalone_patch: the window's screenshot is $screenshot"
