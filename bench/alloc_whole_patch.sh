#!/usr/bin/env bash
# The whole-patch run of bench/standalone_run.sh (a 1 GiB installation of
# random bytes, 20 files edited in place, 4 replaced, applied by the
# packaged console patcher) with the allocation tracker off
# (KORVEL_ALLOC_TRACKING=off: every block goes straight to the heap) and on
# (as the programs always run), on the same installation and package.
# The two alternate, ROUNDS times each (default 3), so a busy machine
# disturbs both alike; prints the best and the median wall time of each,
# the median processor time (user + system, the patcher and the tools it
# runs; less disturbed by other work on the machine) and the ratios on/off.
#
# usage: bench/alloc_whole_patch.sh [BUILD_DIR] [ROUNDS]   (default build, 3)
# Work files go to $KORVEL_BENCH_DIR (default BUILD_DIR/bench-alloc), about
# 4 GiB, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
rounds=${2:-3}
work=${KORVEL_BENCH_DIR:-$build/bench-alloc}

source scripts/find-tool.sh
tool() { find_tool "$build" "$1" "$work" || exit 1; }
make_patch=$(tool korvel-make-patch)
package=$(tool korvel-package)
cli=$(tool korvel-patcher-cli)
vpatch=$(tool vpatchl-w32.exe)
util=$(tool OmbrixUtil.exe)
readonly MiB=1048576

rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/old/bin" "$work/temp"
echo "creating the 1 GiB installation in $work/old"
head -c $((256 * 1024)) /dev/urandom >"$work/old/bin/Launcher.exe"
cp "$vpatch" "$work/old/bin/vpatchl-w32.exe"
cp "$util" "$work/old/bin/OmbrixUtil.exe"
for i in $(seq 1 64); do
  mkdir -p "$work/old/data/pack$((i % 8))"
  head -c $((16 * MiB)) /dev/urandom >"$work/old/data/pack$((i % 8))/asset$i.dat"
done
cp -a "$work/old" "$work/new"
head -c $((256 * 1024)) /dev/urandom >"$work/new/bin/Launcher.exe"
for i in $(seq 1 20); do
  for r in $(seq 0 15); do
    head -c $((128 * 1024)) /dev/urandom |
      dd of="$work/new/data/pack$((i % 8))/asset$i.dat" bs=$((128 * 1024)) seek=$((r * 8 + i % 7)) conv=notrunc \
        status=none
  done
done
mkdir -p "$work/new/data/extra"
for i in $(seq 1 4); do
  rm "$work/new/data/pack$(((65 - i) % 8))/asset$((65 - i)).dat"
  head -c $((16 * MiB)) /dev/urandom >"$work/new/data/extra/new$i.dat"
done

echo "building the archive and the standalone patch"
"$make_patch" --old "$work/old" --new "$work/new" --out "$work/patch.zip" >/dev/null
hash=$("$package" --hash-of "$work/old/bin/Launcher.exe")
"$package" --patcher "$cli" --out "$work/OmbrixPatch" --final 2 --build "$hash=1" --patch "1:2:$work/patch.zip" >/dev/null
cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Bench]
"ProductClass"="Ombrix"
"ProductInstallPath"="$work/install"
REG

now() { date +%s.%N; }

# One patcher run on a fresh copy of the old installation; prints its wall
# time and its processor time in seconds.
run_patcher() {
  rm -rf "$work/install" "$work/temp"
  mkdir -p "$work/temp"
  cp -a "$work/old" "$work/install"
  sync
  local start wall
  start=$(now)
  KORVEL_ALLOC_TRACKING=$1 KORVEL_REGISTRY="$work/registry.reg" TEMP="$work/temp" \
    /usr/bin/time -f '%U %S' -o "$work/cpu" "$work/OmbrixPatch" >"$work/patcher.log" 2>&1 ||
    { echo "the patcher failed:" >&2; tail -n 20 "$work/patcher.log" >&2; exit 1; }
  wall=$(echo "$(now) - $start" | bc)
  diff -r -q -x assets.odx "$work/install" "$work/new" >/dev/null ||
    { echo "the result differs from the new version" >&2; exit 1; }
  echo "$wall $(awk '{print $1 + $2}' "$work/cpu")"
}

off=()
on=()
off_cpu=()
on_cpu=()
for round in $(seq 1 "$rounds"); do
  result=$(run_patcher off)  # an assignment, so a failed run stops the script
  read -r wall cpu <<<"$result"
  off+=("$wall")
  off_cpu+=("$cpu")
  result=$(run_patcher on)
  read -r wall cpu <<<"$result"
  on+=("$wall")
  on_cpu+=("$cpu")
  printf 'round %d: tracker off %6.2f s (%6.2f s processor), on %6.2f s (%6.2f s processor)\n' "$round" \
    "${off[-1]}" "${off_cpu[-1]}" "${on[-1]}" "${on_cpu[-1]}"
done

best() { printf '%s\n' "$@" | sort -g | head -n 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
off_best=$(best "${off[@]}")
on_best=$(best "${on[@]}")
off_median=$(median "${off[@]}")
on_median=$(median "${on[@]}")
off_cpu_median=$(median "${off_cpu[@]}")
on_cpu_median=$(median "${on_cpu[@]}")
printf 'whole patch, tracker off  best %6.2f s  median %6.2f s  processor median %6.2f s\n' "$off_best" \
  "$off_median" "$off_cpu_median"
printf 'whole patch, tracker on   best %6.2f s  median %6.2f s  processor median %6.2f s\n' "$on_best" \
  "$on_median" "$on_cpu_median"
printf 'ratio on/off              best %6.3f    median %6.3f    processor %6.3f    (goal below 1.05)\n' \
  "$(echo "$on_best / $off_best" | bc -l)" "$(echo "$on_median / $off_median" | bc -l)" \
  "$(echo "$on_cpu_median / $off_cpu_median" | bc -l)"
