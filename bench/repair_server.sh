#!/usr/bin/env bash
# Repair of a 1 GiB installation with 10% of its 4 MiB segments damaged:
# korvel-patcher-cli --repair through korvel-repair-server on loopback,
# beside rsync -r --checksum from an rsync daemon on loopback repairing the
# same damage. Wall time and bytes on the wire, first without the client's
# cache (repair.cks) and then with it (the same segments damaged again).
# Then the server with 8 clients at once against one client alone.
#
# usage: bench/repair_server.sh [BUILD_DIR]   (default build)
# Work files go to $KORVEL_BENCH_DIR (default BUILD_DIR/bench-repair),
# about 12 GiB. Page caches stay warm for both tools alike.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=${KORVEL_BENCH_DIR:-$build/bench-repair}
server_bin=$build/tools/repair-server/korvel-repair-server
cli=$build/app/cli/korvel-patcher-cli
for tool in "$server_bin" "$cli"; do [ -x "$tool" ] || { echo "missing $tool (build it first)"; exit 1; }; done
command -v rsync >/dev/null || bash scripts/install-deps.sh rsync

readonly MiB=1048576 segment=4194304
file_count=64                  # 64 files of 16 MiB: 1 GiB, 256 segments
segments_per_file=4
damaged=26                     # 10% of the 256 segments
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/reference/data" "$work/run"
echo "making the 1 GiB reference..."
for i in $(seq 0 $((file_count - 1))); do
  head -c $((16 * MiB)) /dev/urandom > "$work/reference/data/part$i.pak"
done

# Damages the same 26 segments (every tenth one) of an installation.
damage() {
  local root=$1 n=0 s
  for s in $(seq 0 9 $((file_count * segments_per_file - 1))); do
    [ $n -lt $damaged ] || break
    head -c 4096 /dev/urandom | dd of="$root/data/part$((s / segments_per_file)).pak" bs=4096 \
      seek=$(( (s % segments_per_file) * segment / 4096 + 7 )) conv=notrunc status=none
    n=$((n + 1))
  done
}
seconds() { date +%s.%N; }
elapsed() { echo "$(echo "$2 - $1" | bc)"; }
ratio() { echo "scale=2; $1 / $2" | bc; }

# --- our server ---------------------------------------------------------
"$server_bin" --root "$work/reference" --index "$work/run/reference.index" --bind 127.0.0.1 --port 0 \
  --port-file "$work/run/port" > "$work/run/server.log" 2>&1 &
pids+=($!)
while [ ! -s "$work/run/port" ]; do sleep 0.1; done
port=$(cat "$work/run/port")
export KORVEL_REPAIR_SERVER=127.0.0.1:$port KORVEL_REGISTRY=$work/run/registry.reg

session_bytes() {  # sent + received bytes of the server's last session line
  grep '^session ' "$work/run/server.log" | tail -1 |
    sed -E 's/.* ([0-9]+) bytes in .* received ([0-9]+) bytes.*/\1 \2/' | awk '{print $1 + $2}'
}
ours() {  # ours ROOT -> "seconds bytes"
  local start end
  start=$(seconds)
  "$cli" --repair 0 "$1" > "$work/run/client.log" 2>&1 || { tail "$work/run/client.log"; exit 1; }
  end=$(seconds)
  sleep 0.2  # the server logs once it sees the client close
  echo "$(elapsed "$start" "$end") $(session_bytes)"
}

# --- rsync daemon ---------------------------------------------------------
rsync_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/run/rsyncd.conf" <<CONF
pid file = $work/run/rsyncd.pid
use chroot = no
[ref]
    path = $work/reference
    read only = yes
    uid = $(id -u)
    gid = $(id -g)
CONF
rsync --daemon --no-detach --address=127.0.0.1 --port="$rsync_port" --config="$work/run/rsyncd.conf" &
pids+=($!)
sleep 0.5
theirs() {  # theirs ROOT -> "seconds bytes"
  local start end stats
  start=$(seconds)
  stats=$(rsync -r --checksum --stats "rsync://127.0.0.1:$rsync_port/ref/" "$1/")
  end=$(seconds)
  local sent received
  sent=$(echo "$stats" | sed -nE 's/^Total bytes sent: ([0-9,]+).*/\1/p' | tr -d ,)
  received=$(echo "$stats" | sed -nE 's/^Total bytes received: ([0-9,]+).*/\1/p' | tr -d ,)
  echo "$(elapsed "$start" "$end") $((sent + received))"
}

echo "copying the installations..."
cp -r "$work/reference" "$work/ours"
cp -r "$work/reference" "$work/theirs"
rm -f "$work/ours/repair.cks"

row() {  # row LABEL OUR_SECONDS OUR_BYTES THEIR_SECONDS THEIR_BYTES
  printf "%-28s %9.2f s %12d B | %9.2f s %12d B | time %5s  bytes %5s\n" "$1" "$2" "$3" "$4" "$5" \
    "$(ratio "$2" "$4")" "$(ratio "$3" "$5")"
}
printf "%-28s %26s | %26s | ours/rsync\n" "" "korvel-repair-server" "rsync --checksum"
for pass in "first run (no cache)" "second run (cache)"; do
  damage "$work/ours"
  damage "$work/theirs"
  read -r our_s our_b < <(ours "$work/ours")
  read -r their_s their_b < <(theirs "$work/theirs")
  row "$pass" "$our_s" "$our_b" "$their_s" "$their_b"
  cmp -s <(cd "$work/reference" && find data -type f -exec md5sum {} + | sort) \
         <(cd "$work/ours" && find data -type f -exec md5sum {} + | sort) || { echo "ours: not repaired"; exit 1; }
done

# --- 8 clients at once against one alone --------------------------------
echo "copying 8 client installations..."
for c in $(seq 1 8); do cp -r "$work/ours" "$work/client$c"; done
for c in $(seq 1 8); do damage "$work/client$c"; done
# one alone
start=$(seconds)
"$cli" --repair 0 "$work/client1" > "$work/run/client1.log" 2>&1
one=$(elapsed "$start" "$(seconds)")
damage "$work/client1"
start=$(seconds)
for c in $(seq 1 8); do "$cli" --repair 0 "$work/client$c" > "$work/run/client$c.log" 2>&1 & done
wait_clients() { for j in $(jobs -p); do case " ${pids[*]} " in *" $j "*) ;; *) wait "$j" ;; esac; done; }
wait_clients
eight=$(elapsed "$start" "$(seconds)")
printf "%-28s %9.2f s\n%-28s %9.2f s (%s s per client)\n%-28s %s\n" "one client alone" "$one" \
  "8 clients at once" "$eight" "$(echo "scale=2; $eight / 8" | bc)" "8 at once / one alone" "$(ratio "$eight" "$one")"
