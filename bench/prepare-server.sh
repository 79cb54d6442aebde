#!/usr/bin/env bash
# Lays out a throw-away server folder for the load generator:
#   bench/prepare-server.sh DIR BINARY [PORT] [NETWORKS] [USERS]
# DIR/velmora (a copy of BINARY), DIR/velmora.conf, DIR/velmora-server/bench*.conf and DIR/xdg for
# the log. One network "Bench" on PORT (5555); with NETWORKS=K > 1, networks Bench0..Bench(K-1),
# all reached through the listener of Bench0 on PORT (the others listen on PORT+1.. unused).
# USERS=N (0) lists users u0..u(N-1), one a line, in the first network's file.
set -euo pipefail
dir=$1
binary=$2
port=${3:-5555}
networks=${4:-1}
users=${5:-0}
rm -rf "$dir"
mkdir -p "$dir/velmora-server" "$dir/xdg"
cp "$binary" "$dir/velmora"
# MaxPositionsPerSecond is VELMORA_BENCH_CEILING, 0 (no ceiling) unless given: the scenarios
# measure what the relay can carry, except those about the ceiling itself.
cat >"$dir/velmora.conf" <<CONF
<settings><setting namestring="Port" valuestring="12000" /><setting namestring="AttachedNIC" valuestring="" /><setting namestring="MaxPositionsPerSecond" valuestring="${VELMORA_BENCH_CEILING:-0}" /></settings>
CONF
# The network element must follow the root start tag directly, with nothing in between.
write_network() {
  local listed=$4
  {
    printf '<?xml version="1.0"?>\n<velmora><network name="%s" password="pw" maxusers="200000" enabled="1" port="%s">\n' \
      "$1" "$2"
    awk -v n="$listed" 'BEGIN { for (i = 0; i < n; i++)
      printf "    <User Name=\"u%d\" LastIP=\"10.%d.%d.%d\"/>\n", i, int(i / 65536) % 256, int(i / 256) % 256, i % 256 }'
    printf '</network></velmora>\n'
  } >"$dir/velmora-server/$3"
}
if [ "$networks" -le 1 ]; then
  write_network Bench "$port" bench.conf "$users"
else
  for ((i = 0; i < networks; i++)); do
    write_network "Bench$i" $((port + i)) "bench$i.conf" $((i == 0 ? users : 0))
  done
fi
echo "prepared $dir: start with  XDG_DATA_HOME=$dir/xdg taskset -c 0 $dir/velmora &"
