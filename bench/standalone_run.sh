#!/usr/bin/env bash
# End-to-end standalone run on a 1 GiB installation with about 10% of its
# bytes changed: the wall time of the console patcher applying a packaged
# patch, beside the same changes made by the reference tools on the same
# bytes (cp -r of the files the patch ships whole, xdelta3 -d of the files
# it ships as diffs), and the patcher's peak resident memory.
#
# Two installations are measured, one after the other: "random" (bytes from
# /dev/urandom, which no compressor shrinks) and "compressible" (hex text of
# random bytes, which deflate halves, closer to real game data, which is
# partly compressible). KORVEL_BENCH_KINDS picks one of them.
#
# usage: bench/standalone_run.sh [BUILD_DIR]   (a Release build; default build)
# Work files go to $KORVEL_BENCH_DIR (default BUILD_DIR/bench-standalone),
# about 4 GiB at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=${KORVEL_BENCH_DIR:-$build/bench-standalone}
bash scripts/bench-diff-deps.sh >/dev/null

source scripts/find-tool.sh
tool() { find_tool "$build" "$1" "$work" || exit 1; }
make_patch=$(tool korvel-make-patch)
package=$(tool korvel-package)
cli=$(tool korvel-patcher-cli)
vpatch=$(tool vpatchl-w32.exe)
util=$(tool OmbrixUtil.exe)

readonly MiB=1048576
file_count=64      # 64 files of 16 MiB: 1 GiB
changed_count=20   # files changed in place by 2 MiB each: 40 MiB
replaced_count=4   # files removed and replaced by new ones: 64 MiB
summary=()

# N bytes of the installation's kind on standard output.
bytes() {
  if [ "$kind" = compressible ]; then
    head -c $(($1 / 2)) /dev/urandom | basenc --base16 -w0
  else
    head -c "$1" /dev/urandom
  fi
}

now() { date +%s.%N; }

run_kind() {
kind=$1
echo "== $kind installation"
rm -rf "$work"
mkdir -p "$work/old/bin" "$work/temp" "$work/whole" "$work/xdelta"
echo "creating the 1 GiB installation in $work/old"
bytes $((256 * 1024)) >"$work/old/bin/Launcher.exe"
cp "$vpatch" "$work/old/bin/vpatchl-w32.exe"
cp "$util" "$work/old/bin/OmbrixUtil.exe"
for i in $(seq 1 $file_count); do
  mkdir -p "$work/old/data/pack$((i % 8))"
  bytes $((16 * MiB)) >"$work/old/data/pack$((i % 8))/asset$i.dat"
done

echo "making the new version: $changed_count files edited, $replaced_count replaced"
cp -a "$work/old" "$work/new"
bytes $((256 * 1024)) >"$work/new/bin/Launcher.exe"
changed=()
for i in $(seq 1 $changed_count); do
  f="data/pack$((i % 8))/asset$i.dat"
  changed+=("$f")
  # Sixteen 128 KiB regions rewritten across the file.
  for r in $(seq 0 15); do
    bytes $((128 * 1024)) |
      dd of="$work/new/$f" bs=$((128 * 1024)) seek=$((r * 8 + i % 7)) conv=notrunc status=none
  done
done
for i in $(seq 1 $replaced_count); do
  old="data/pack$(((file_count - i + 1) % 8))/asset$((file_count - i + 1)).dat"
  rm "$work/new/$old"
  mkdir -p "$work/new/data/extra"
  bytes $((16 * MiB)) >"$work/new/data/extra/new$i.dat"
  cp "$work/new/data/extra/new$i.dat" "$work/whole/new$i.dat"
done

echo "building the archive, the standalone patch and the xdelta3 reference diffs"
"$make_patch" --old "$work/old" --new "$work/new" --out "$work/patch.zip"
hash=$("$package" --hash-of "$work/old/bin/Launcher.exe")
"$package" --patcher "$cli" --out "$work/OmbrixPatch" --final 2 --build "$hash=1" --patch "1:2:$work/patch.zip"
for f in "${changed[@]}"; do
  xdelta3 -e -f -s "$work/old/$f" "$work/new/$f" "$work/xdelta/$(echo "$f" | tr / _).vcdiff"
done
ls -l "$work/patch.zip"

cp -a "$work/old" "$work/install"
cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Bench]
"ProductClass"="Ombrix"
"ProductInstallPath"="$work/install"
REG
sync

echo "running the patcher"
start=$(now)
KORVEL_REGISTRY="$work/registry.reg" TEMP="$work/temp" \
  /usr/bin/time -f '%M' -o "$work/peak-kib" "$work/OmbrixPatch" >"$work/patcher.log" 2>&1 ||
  { echo "the patcher failed:"; tail -n 20 "$work/patcher.log"; exit 1; }
ours=$(echo "$(now) - $start" | bc)
diff -r -q -x assets.odx "$work/install" "$work/new" >/dev/null || { echo "the result differs from the new version"; exit 1; }

echo "running the reference tools"
cp -a "$work/old" "$work/reference"
sync
start=$(now)
cp -r "$work/whole" "$work/reference/data/extra"
for f in "${changed[@]}"; do
  xdelta3 -d -f -s "$work/old/$f" "$work/xdelta/$(echo "$f" | tr / _).vcdiff" "$work/reference/$f"
done
reference=$(echo "$(now) - $start" | bc)
# The patcher forces its new files to disk before it drops the backups; the
# reference tools do not, so their figure with a final sync is shown too.
sync
durable=$(echo "$(now) - $start" | bc)

peak=$(($(cat "$work/peak-kib") / 1024))
printf 'patcher   %8.2f s  (peak resident memory %d MiB, goal below 600 MiB)\n' "$ours" "$peak"
printf 'reference %8.2f s  (cp -r of %d new files + xdelta3 -d of %d diffs)\n' "$reference" $replaced_count $changed_count
printf 'reference %8.2f s  (the same, then sync)\n' "$durable"
summary+=("$(printf '%-12s patcher %6.2f s  reference %6.2f s (%6.2f s synced)  ratio %5.2f (%5.2f synced)  peak %d MiB  archive %d MiB' \
  "$kind" "$ours" "$reference" "$durable" "$(echo "$ours / $reference" | bc -l)" "$(echo "$ours / $durable" | bc -l)" \
  "$peak" $(($(stat -c %s "$work/patch.zip") / MiB)))")
rm -rf "$work"
}

for kind in ${KORVEL_BENCH_KINDS:-random compressible}; do run_kind "$kind"; done
echo
echo "== summary (goal: ratio at most 1.5)"
printf '%s\n' "${summary[@]}"
