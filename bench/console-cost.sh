#!/usr/bin/env bash
# What the operator's console costs the server: MEMBERS idle members (velmora-loadgen --mode idle)
# on the network "Bench", a console on 127.0.0.1, then REQUESTS back-to-back requests for PATH
# over one kept-alive connection, measured by the server's CPU time (utime + stime of
# /proc/PID/stat, all threads) before and after. The server's CPU over as long a quiet spell with
# the console open but unread is printed too.
#   bench/console-cost.sh BUILD_DIR [MEMBERS] [REQUESTS] [PATH]
# PATH defaults to /api/networks/Bench/members. VELMORA_BENCH_SERVER names another server binary
# than BUILD_DIR/velmora; the server is pinned to core 0, the generator and curl to core 1.
set -euo pipefail
build=$(cd "$1" && pwd)
members=${2:-5000}
requests=${3:-500}
path=${4:-/api/networks/Bench/members}
here=$(cd "$(dirname "$0")" && pwd)
port=${VELMORA_BENCH_PORT:-5555}
console=${VELMORA_BENCH_CONSOLE_PORT:-9481}
dir=${VELMORA_BENCH_DIR:-/tmp/velmora-bench-console}
url=http://127.0.0.1:$console

"$here/prepare-server.sh" "$dir" "${VELMORA_BENCH_SERVER:-$build/velmora}" "$port" >/dev/null
cat >"$dir/velmora.conf" <<CONF
<settings><setting namestring="Port" valuestring="12000" /><setting namestring="AttachedNIC" valuestring="" /><setting namestring="StatusAddress" valuestring="127.0.0.1:$console" /></settings>
CONF
cd "$dir"
( ulimit -n "$(ulimit -Hn)"; XDG_DATA_HOME="$dir/xdg" exec taskset -c 0 "$dir/velmora" ) &
server=$!
generator=
stop() {
  [ -n "$generator" ] && { kill -TERM "$generator" 2>/dev/null || true; wait "$generator" 2>/dev/null || true; }
  kill -TERM "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
}
trap stop EXIT
for _ in $(seq 300); do
  grep -q "Console listening" "$dir/xdg/com.velmora.log" 2>/dev/null && break
  sleep 0.1
done
# Held long enough for the log-ins and both measurements; the generator ends by itself after it.
taskset -c 1 "$build/bench/velmora-loadgen" --port "$port" --members "$members" --mode idle \
  --hold 300 --logins-in-flight 64 >"$dir/loadgen.txt" 2>&1 &
generator=$!
for _ in $(seq 600); do
  count=$(curl -s "$url/api/networks" | grep -o '"members":[0-9]*' | head -1 | cut -d: -f2 || true)
  [ "${count:-0}" -ge "$members" ] && break
  sleep 0.2
done
[ "${count:-0}" -ge "$members" ] || { echo "only ${count:-0} of $members members logged in" >&2; exit 1; }
sleep 2  # the last log-ins' file rewrites settle

cpu() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
hz=$(getconf CLK_TCK)
quiet=$(( requests / 100 + 5 ))
before=$(cpu)
sleep "$quiet"
after=$(cpu)
echo "console open, nobody reading: $(( (after - before) * 1000 / hz )) ms of server CPU in $quiet s"

bytes=$(curl -s "$url$path" | wc -c)
config=$dir/curl.conf
: >"$config"
for _ in $(seq "$requests"); do printf 'url = "%s%s"\noutput = /dev/null\n' "$url" "$path" >>"$config"; done
before=$(cpu)
start=$(date +%s.%N)
taskset -c 1 curl -s -K "$config"
end=$(date +%s.%N)
after=$(cpu)
awk -v n="$requests" -v b="$bytes" -v ticks=$(( after - before )) -v hz="$hz" -v s="$start" -v e="$end" \
  -v p="$path" -v m="$members" 'BEGIN {
  printf "%d members, %d requests for %s (%d bytes each) in %.2f s: %.0f ms of server CPU, %.2f ms a request\n",
    m, n, p, b, e - s, ticks * 1000 / hz, ticks * 1000 / hz / n }'
