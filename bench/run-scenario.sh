#!/usr/bin/env bash
# Runs one benchmark scenario against a fresh server and stops that server again:
#   bench/run-scenario.sh BUILD_DIR SCENARIO [extra velmora-loadgen options]
# SCENARIO: saturation | rate100 | rate1000 | idle | soak | logins20k | logins10k | storm800 |
# bigfile | departure | slowreader | slow1000 | flood100 | strangers (see bench/README.md). The server is pinned to core 0 and
# the generator to core 1; the server's folder is /tmp/velmora-bench-SCENARIO (log in xdg/).
# VELMORA_BENCH_SERVER names another server binary than BUILD_DIR/velmora. VELMORA_BENCH_NICE
# (for example -10) runs both processes at that niceness, so that other work on the shared cores
# delays them less; VELMORA_BENCH_RT=N runs both under SCHED_FIFO priority N (chrt), which keeps
# other work from delaying a wake-up at all (the kernel still leaves 5 % of each second to others).
# VELMORA_BENCH_SERVER_CPUS (default 0) are the cores the server may run on: its file rewrites run
# on worker threads, which only run beside the loop when the server has a second core.
set -euo pipefail
build=$(cd "$1" && pwd)
scenario=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
port=${VELMORA_BENCH_PORT:-5555}
dir=${VELMORA_BENCH_DIR:-/tmp/velmora-bench-$scenario}
networks=1
users=0
niceness=${VELMORA_BENCH_NICE:-0}
run=(nice -n "$niceness")
[ -n "${VELMORA_BENCH_RT:-}" ] && run=(chrt -f "$VELMORA_BENCH_RT")
case $scenario in
  saturation) args=(--members 10 --mode window --window 128 --warmup 2 --duration 10) ;;
  rate100) args=(--members 100 --mode rate --rate 10 --warmup 2 --duration 10) ;;
  rate1000) args=(--members 1000 --mode rate --rate 1 --warmup 3 --duration 30) ;;
  idle) args=(--members 10000 --mode idle --hold 5 --logins-in-flight 64) ;;
  soak)
    # One listener, many networks of 1,000 members each, a few members of each reporting once
    # a second; the member count is capped by the descriptor limit of each process.
    networks=${VELMORA_SOAK_NETWORKS:-19}
    reporting=${VELMORA_SOAK_REPORTING:-10}
    args=(--members $((networks * 1000)) --networks "$networks" --senders $((networks * reporting))
          --mode rate --rate 1 --warmup 10 --duration 600 --sources 4 --logins-in-flight 64
          --login-timeout 3600 --timeline)
    ;;
  logins20k)
    # A restart: 20,000 clients of 20 networks of 1,000 connect at once, each a first log-in.
    networks=20
    args=(--members 20000 --networks 20 --mode idle --hold 2 --sources 4
          --logins-in-flight 20000 --login-timeout 120)
    ;;
  logins10k)
    args=(--members 10000 --mode idle --hold 2 --logins-in-flight 10000 --login-timeout 120) ;;
  storm800|bigfile)
    # First log-ins into a file of many users while a member of another network (Bench1) keeps
    # asking the server something and times the answers.
    networks=2
    if [ "$scenario" = storm800 ]; then users=5000; members=800; else users=100000; members=200; fi
    users=${VELMORA_BENCH_USERS:-$users}
    args=(--network Bench0 --members "$members" --logins-in-flight "$members" --mode idle
          --hold 3 --probe-network Bench1 --login-timeout 120)
    ;;
  departure)
    # N members (4,000 unless --members says otherwise) and a watcher log in, stay quiet, then
    # the N close at once; the server's peak RSS growth is read against its RSS before.
    args=(--members 4000 --mode depart --hold 2 --drain 60) ;;
  slowreader)
    args=(--mode slowreader --reports 1000000 --chat-every 1000 --read-rate 65536 --rcvbuf 4096
          --duration 60 --drain 60) ;;
  slow1000)
    # 1,000 members reporting 10 times a second and one more reading 64 KiB/s through a 4 KiB
    # receive buffer: six times more positions come for it than it reads, and 10 M deliveries a
    # second for the others.
    args=(--members 1000 --mode rate --rate 10 --slow-reader --read-rate 65536 --rcvbuf 4096
          --warmup 3 --duration 20 --drain 20) ;;
  flood100)
    # rate100 with one more member reporting 20,000 times a second, under the default ceiling
    # (VELMORA_BENCH_CEILING=30 bench/run-scenario.sh BUILD rate100 is the same without it).
    export VELMORA_BENCH_CEILING=${VELMORA_BENCH_CEILING:-30}
    args=(--members 100 --mode rate --rate 10 --flood-rate 20000 --warmup 2 --duration 10) ;;
  strangers)
    args=(--members 1000 --mode strangers --duration 5 --probe-network Bench) ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac

"$here/prepare-server.sh" "$dir" "${VELMORA_BENCH_SERVER:-$build/velmora}" "$port" "$networks" \
  "$users" >/dev/null
cd "$dir"
# The server reads no options; its descriptor limit is raised by the shell that starts it.
( ulimit -n "$(ulimit -Hn)"; XDG_DATA_HOME="$dir/xdg" exec "${run[@]}" taskset -c "${VELMORA_BENCH_SERVER_CPUS:-0}" "$dir/velmora" ) &
server=$!
trap 'kill -TERM $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 300); do
  grep -q "Listening..." "$dir/xdg/com.velmora.log" 2>/dev/null && break
  sleep 0.1
done
echo "server pid $server, run as: ${run[*]}, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "+ taskset -c 1 velmora-loadgen --port $port ${args[*]} $* --server-pid $server"
status=0
"${run[@]}" taskset -c 1 "$build/bench/velmora-loadgen" --port "$port" "${args[@]}" "$@" \
  --server-pid "$server" || status=$?
echo "server log: $(wc -l <"$dir/xdg/com.velmora.log") lines; network file: $(wc -c \
  <"$(ls "$dir"/velmora-server/*.conf | head -1)") bytes"
# Why the server ended connections, by code (105: a reader cut off for unsent output).
echo "server log, disconnect codes: $(grep -o 'Client Disconnect: ([0-9-]*)' \
  "$dir/xdg/com.velmora.log" | sort | uniq -c | tr -s ' \n' ' ' || true)"
exit $status
