#!/usr/bin/env bash
# The demonstration: installs the dependencies, builds the project, creates a
# sample Ombrix installation (build 39979, a few hundred files in nested
# folders, registered in a registry store of its own), builds two later
# versions (40040 and 40100) with the archive builder, packages a standalone
# patch carrying the chain of both patches, runs it with the console front
# end, and checks the installation against the newest version tree. A
# damaged copy of the newest version is repaired from a local repair server
# and, when nginx is installed, another copy of build 39979 is patched in
# download mode from a local nginx serving both archives and a
# "patches.txt" (on a free loopback port, stopped afterwards). When a
# display is present and the window program is built, a second copy of the
# installation is patched in the window (press "Apply Update" there).
#
# Everything is written under build/demo (or $KORVEL_DEMO_DIR); the build
# folder is $KORVEL_BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=${KORVEL_BUILD_DIR:-build}
if [ "${KORVEL_DEMO_SKIP_BUILD:-0}" != 1 ]; then
  bash scripts/install-deps.sh
  bash scripts/build.sh "$build"
fi
build=$(cd "$build" && pwd)
demo=${KORVEL_DEMO_DIR:-$build/demo}

say() { printf '\n== %s\n' "$*"; }

source scripts/find-tool.sh
tool() { find_tool "$build" "$1" "$demo" || exit 1; }

make_patch=$(tool korvel-make-patch)
package=$(tool korvel-package)
cli=$(tool korvel-patcher-cli)
sample_vpatch=$(tool vpatchl-w32.exe)
sample_util=$(tool OmbrixUtil.exe)

source scripts/sample-trees.sh

write_registry() {
  local store=$1 install=$2
  cat >"$store" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Ombrix Simulator]
"ProductClass"="Ombrix"
"ProductInstallPath"="$install"
EOF
}

# Compares an installation with a version tree; the patcher's own traces
# (the rebuilt asset database index) are not part of the version.
same_as_tree() {
  diff -r -x assets.odx "$1" "$2" >/dev/null
}

say "Creating the sample installation and two later versions in $demo"
rm -rf "$demo"
mkdir -p "$demo/versions" "$demo/patches" "$demo/temp"
make_base_tree "$demo/versions/39979"
make_next_tree "$demo/versions/39979" "$demo/versions/40040" 40040
make_next_tree "$demo/versions/40040" "$demo/versions/40100" 40100
echo "$(find "$demo/versions/39979" -type f | wc -l) files in build 39979"

say "Building the patch archives"
"$make_patch" --old "$demo/versions/39979" --new "$demo/versions/40040" --out "$demo/patches/39979_to_40040.zip"
"$make_patch" --old "$demo/versions/40040" --new "$demo/versions/40100" --out "$demo/patches/40040_to_40100.zip"
ls -l "$demo/patches"

say "Packaging the standalone patch OmbrixPatch-40100"
hash1=$("$package" --hash-of "$demo/versions/39979/bin/Launcher.exe")
hash2=$("$package" --hash-of "$demo/versions/40040/bin/Launcher.exe")
make_standalone() {
  "$package" --patcher "$1" --out "$2" --final 40100 \
    --build "$hash1=39979" --build "$hash2=40040" \
    --patch "39979:40040:$demo/patches/39979_to_40040.zip" \
    --patch "40040:40100:$demo/patches/40040_to_40100.zip"
}
make_standalone "$cli" "$demo/OmbrixPatch-40100"

say "Patching the installation with the console front end"
cp -a "$demo/versions/39979" "$demo/install"
write_registry "$demo/registry.reg" "$demo/install"
status=0
KORVEL_REGISTRY="$demo/registry.reg" TEMP="$demo/temp" "$demo/OmbrixPatch-40100" || status=$?
echo "exit code: $status"

result=0
if [ "$status" -eq 0 ] && same_as_tree "$demo/install" "$demo/versions/40100"; then
  say "OK: the installation now equals build 40100 byte for byte"
else
  say "FAILED: the installation does not equal build 40100"
  diff -rq -x assets.odx "$demo/install" "$demo/versions/40100" | head -n 20 || true
  result=1
fi

say "Repairing a damaged copy from a local repair server (repair mode)"
server=$(find_tool "$build" korvel-repair-server "$demo")
cp -a "$demo/versions/40100" "$demo/reference"
cp -a "$demo/versions/40100" "$demo/install-repair"
# Damage: a file overwritten in the middle, one deleted, one cut short, one
# that the reference does not have.
damaged=$(find "$demo/install-repair" -type f -size +1k | sort | head -n 3)
set -- $damaged
printf 'damaged bytes' | dd of="$1" bs=1 seek=100 conv=notrunc status=none
rm -f "$2"
truncate -s 10 "$3"
echo "not in the reference" >"$demo/install-repair/extra.txt"
rm -f "$demo/repair-port"
"$server" --root "$demo/reference" --port 0 --port-file "$demo/repair-port" >"$demo/repair-server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do [ -s "$demo/repair-port" ] && break; sleep 0.1; done
repair_status=0
KORVEL_REPAIR_SERVER="127.0.0.1:$(cat "$demo/repair-port")" KORVEL_REGISTRY="$demo/registry-repair.reg" \
  TEMP="$demo/temp" "$cli" --repair 0 "$demo/install-repair" || repair_status=$?
kill "$server_pid" 2>/dev/null || true
wait "$server_pid" 2>/dev/null || true
if [ "$repair_status" -eq 0 ] && diff -rq -x repair.cks -x assets.odx "$demo/install-repair" "$demo/reference" >/dev/null; then
  say "OK: the repaired copy equals the reference byte for byte"
else
  say "FAILED: the repaired copy differs from the reference (exit $repair_status)"
  result=1
fi

nginx_bin=$(command -v nginx || { [ -x /usr/sbin/nginx ] && echo /usr/sbin/nginx; } || true)
if [ -n "$nginx_bin" ]; then
  say "Patching a third copy in download mode from a local nginx"
  # The published folder: both archives and the list that chains them.
  web=$demo/web
  mkdir -p "$web/root/ombrix" "$web/logs"
  cp "$demo/patches/39979_to_40040.zip" "$demo/patches/40040_to_40100.zip" "$web/root/ombrix/"
  cat >"$web/root/ombrix/patches.txt" <<LIST
source-version: 39979
target-version: 40040
patch-exe-url: http://patches.example/ombrix/OmbrixPatch-40040.exe
patch-data-url: 39979_to_40040.zip

source-version: 40040
target-version: 40100
patch-exe-url: http://patches.example/ombrix/OmbrixPatch-40100.exe
patch-data-url: 40040_to_40100.zip
LIST
  web_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  cat >"$web/nginx.conf" <<CONF
daemon off;
master_process off;
pid $web/nginx.pid;
error_log $web/logs/error.log;
events { worker_connections 64; }
http {
  access_log $web/logs/access.log;
  client_body_temp_path $web/body; proxy_temp_path $web/proxy; fastcgi_temp_path $web/fcgi;
  uwsgi_temp_path $web/uwsgi; scgi_temp_path $web/scgi;
  types { text/plain txt; application/zip zip; }
  server { listen 127.0.0.1:$web_port; root $web/root; }
}
CONF
  "$nginx_bin" -p "$web" -c "$web/nginx.conf" -e "$web/logs/error.log" &
  nginx_pid=$!
  trap 'kill "$nginx_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $web_port)).close()" 2>/dev/null && break
    sleep 0.1
  done
  cp -a "$demo/versions/39979" "$demo/install-download"
  write_registry "$demo/registry-download.reg" "$demo/install-download"
  download_status=0
  KORVEL_REGISTRY="$demo/registry-download.reg" TEMP="$demo/temp" \
    "$cli" --server "http://127.0.0.1:$web_port/ombrix/" --final 40100 39979 "$demo/install-download" ||
    download_status=$?
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
  trap - EXIT
  echo "requests served by nginx: $(wc -l <"$web/logs/access.log")"
  if [ "$download_status" -eq 0 ] && same_as_tree "$demo/install-download" "$demo/versions/40100"; then
    say "OK: the copy patched in download mode equals build 40100 byte for byte"
  else
    say "FAILED: the copy patched in download mode does not equal build 40100 (exit $download_status)"
    result=1
  fi
else
  say "nginx is not installed: download mode not shown (bash scripts/install-deps.sh nginx)"
fi

window=$(find_tool "$build" korvel-patcher "$demo" 2>/dev/null || true)
if [ -n "${DISPLAY:-}" ] && [ -n "$window" ]; then
  say "Patching a second copy in the window: press \"Apply Update\", then \"Exit\""
  make_standalone "$window" "$demo/OmbrixPatch-40100-window"
  cp -a "$demo/versions/39979" "$demo/install-window"
  write_registry "$demo/registry-window.reg" "$demo/install-window"
  KORVEL_REGISTRY="$demo/registry-window.reg" TEMP="$demo/temp" "$demo/OmbrixPatch-40100-window" || true
  if same_as_tree "$demo/install-window" "$demo/versions/40100"; then
    say "OK: the window patched its copy to build 40100"
  else
    say "The window's copy is not at build 40100 (was Apply pressed?)"
  fi
fi
exit "$result"
