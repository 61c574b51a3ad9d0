#!/usr/bin/env bash
# Download of a 1 GiB archive over loopback: korvel-bench-download (the
# patch worker's size query and archive download into its file, with the
# byte counting and the progress observer) beside curl -o of the same URL,
# from nginx over HTTP and from pyftpdlib over FTP (passive mode). Each
# tool runs five times in turn (or $KORVEL_BENCH_ROUNDS), each run starting
# after a sync so that neither waits on the other's writes; the best time
# of each is shown with the ratio, and every run's time beside. The served
# file stays in the page cache for both alike. Over HTTP each round also
# times the download as a patcher built with publisher keys makes it
# (korvel-bench-download-signed: the archive's SHA-256 taken while it
# arrives), right after the plain one or, every second round, right before.
#
# usage: bench/download.sh [BUILD_DIR]   (a Release build; default build)
# Work files go to $KORVEL_BENCH_DIR (default BUILD_DIR/bench-download),
# about 3 GiB. $KORVEL_BENCH_ROUNDS sets the rounds (default 5): on a
# machine whose runs vary by more than the few percent the SHA-256 check
# costs, more rounds make the best times comparable. KORVEL_BENCH_ONLY=signed
# times only the plain and signed HTTP downloads, with no curl run between
# them, and adds their lower quartiles (q1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=${KORVEL_BENCH_DIR:-$build/bench-download}
ours_bin=$build/bench/korvel-bench-download
[ -x "$ours_bin" ] || { echo "missing $ours_bin (build the target korvel-bench-download first)"; exit 1; }
signed_bin=$build/bench/korvel-bench-download-signed
[ -x /usr/sbin/nginx ] || bash scripts/install-deps.sh nginx
# pyftpdlib is the Debian package, for the system's interpreter.
py=/usr/bin/python3
"$py" -c 'import pyftpdlib' 2>/dev/null || bash scripts/install-deps.sh python3-pyftpdlib
command -v curl >/dev/null || bash scripts/install-deps.sh curl

readonly MiB=1048576 rounds=${KORVEL_BENCH_ROUNDS:-5} only=${KORVEL_BENCH_ONLY:-}
protocols="http ftp"
if [ "$only" = signed ]; then
  [ -x "$signed_bin" ] || { echo "missing $signed_bin"; exit 1; }
  protocols=http
fi
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/served" "$work/nginx" "$work/ftp" "$work/out"
echo "making the 1 GiB archive..."
head -c $((1024 * MiB)) /dev/urandom > "$work/served/big.zip"
cat "$work/served/big.zip" > /dev/null
free_port() { "$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# --- servers --------------------------------------------------------------
http_port=$(free_port)
n=$work/nginx
cat > "$n/nginx.conf" <<CONF
daemon off;
master_process off;
pid $n/nginx.pid;
error_log $n/error.log;
events { worker_connections 64; }
http {
  access_log $n/access.log;
  client_body_temp_path $n/body; proxy_temp_path $n/proxy; fastcgi_temp_path $n/fcgi;
  uwsgi_temp_path $n/uwsgi; scgi_temp_path $n/scgi;
  sendfile on;
  types { application/zip zip; }
  server { listen 127.0.0.1:$http_port; root $work/served; }
}
CONF
/usr/sbin/nginx -p "$n" -c "$n/nginx.conf" -e "$n/error.log" &
pids+=($!)
cat > "$work/ftp/ftp.py" <<'PY'
import sys, os, logging
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, portfile = sys.argv[1], sys.argv[2]
auth = DummyAuthorizer()
auth.add_anonymous(root)
FTPHandler.authorizer = auth
logging.basicConfig(level=logging.WARNING)
server = FTPServer(("127.0.0.1", 0), FTPHandler)
with open(portfile + ".tmp", "w") as f: f.write(str(server.address[1]))
os.rename(portfile + ".tmp", portfile)
server.serve_forever()
PY
"$py" "$work/ftp/ftp.py" "$work/served" "$work/ftp/port" > "$work/ftp/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/ftp/port" ] && curl -s -o /dev/null "http://127.0.0.1:$http_port/" && break
  sleep 0.1
done
ftp_port=$(cat "$work/ftp/port")

# --- timing -----------------------------------------------------------------
seconds() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
q1() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 3) / 4 ))p"; }
ratio() { echo "scale=2; $1 / $2" | bc; }
size=$((1024 * MiB))
check() {  # check FILE: the whole archive, byte for byte
  [ "$(stat -c %s "$1")" -eq $size ] && cmp -s "$1" "$work/served/big.zip" || { echo "$1 differs"; exit 1; }
}
ours() {  # ours URL [PROGRAM] -> seconds
  rm -f "$work/out/ours.zip" "$work/out/ours.zip.validator"
  sync
  local line
  line=$("${2:-$ours_bin}" "$1" "$work/out/ours.zip" 2>"$work/out/ours.log") || { cat "$work/out/ours.log"; exit 1; }
  echo "${line%% *}"
}
theirs() {  # theirs URL -> seconds
  rm -f "$work/out/curl.zip"
  sync
  local start end
  start=$(seconds)
  curl -s -S --fail -o "$work/out/curl.zip" "$1"
  end=$(seconds)
  printf "%.3f\n" "$(echo "$end - $start" | bc)"
}
[ "$only" = signed ] || printf "%-18s %-6s %10s | %10s | ours/curl\n" "1 GiB archive" "" "korvel" "curl -o"
for proto in $protocols; do
  if [ $proto = http ]; then url=http://127.0.0.1:$http_port/big.zip; else url=ftp://127.0.0.1:$ftp_port/big.zip; fi
  our_times=() their_times=() signed_times=()
  for round in $(seq $rounds); do
    # The signed and plain runs swap places every round, so that neither
    # always comes right after curl's run and the check.
    if [ $proto = http ] && [ -x "$signed_bin" ] && [ $((round % 2)) -eq 0 ]; then
      signed_times+=("$(ours "$url" "$signed_bin")")
      check "$work/out/ours.zip"
    fi
    our_times+=("$(ours "$url")")
    check "$work/out/ours.zip"
    if [ $proto = http ] && [ -x "$signed_bin" ] && [ $((round % 2)) -eq 1 ]; then
      signed_times+=("$(ours "$url" "$signed_bin")")
      check "$work/out/ours.zip"
    fi
    [ "$only" = signed ] && continue
    their_times+=("$(theirs "$url")")
    check "$work/out/curl.zip"
  done
  for pick in best median; do
    [ "$only" = signed ] && break
    our=$($pick "${our_times[@]}")
    their=$($pick "${their_times[@]}")
    printf "%-18s %-6s %8.2f s | %8.2f s | %s\n" "$proto (loopback)" "$pick" "$our" "$their" "$(ratio "$our" "$their")"
  done
  if [ ${#their_times[@]} -gt 0 ]; then
    echo "  runs: ours ${our_times[*]}; curl ${their_times[*]}"
  else
    echo "  runs: plain ${our_times[*]}"
  fi
  if [ ${#signed_times[@]} -gt 0 ]; then
    picks="best median"
    [ "$only" = signed ] && picks="best q1 median"
    for pick in $picks; do
      signed=$($pick "${signed_times[@]}")
      our=$($pick "${our_times[@]}")
      printf "%-18s %-6s %8.2f s | with the SHA-256 check; against korvel without it: %s (goal at most 1.05)\n" \
        "http (signed)" "$pick" "$signed" "$(ratio "$signed" "$our")"
    done
    echo "  runs: signed ${signed_times[*]}"
  fi
done
rm -rf "$work/out" "$work/served"
