#!/usr/bin/env bash
# Runs the example client (examples/map_client.py) against the real server on loopback: Alice and
# Bob log in to the sample network, each sees the other's position, Bob sees Alice's chat line and
# Alice sees Bob leave. Proves that docs/protocol.md, which the example was written from, is
# enough to write a client. Bounded in time; the server is stopped by its pid.
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() {
  echo "example-client: FAILED: $*" >&2
  for out in "${scratch:-/nonexistent}"/*.out "${scratch:-/nonexistent}"/server.err; do
    [ -f "$out" ] && { echo "--- $(basename "$out")"; cat "$out"; } >&2
  done
  exit 1
}
# shellcheck source=scripts/lib/free-port.sh
. scripts/lib/free-port.sh

scripts/install-deps.sh
build=build
[ -f "$build/CMakeCache.txt" ] || scripts/build.sh "$build" >/dev/null
cmake --build "$build" -j2 --target velmora >/dev/null

# The server reads its settings and networks beside its binary and logs to $XDG_DATA_HOME: a
# scratch folder holds all of it.
scratch=$(mktemp -d /tmp/velmora-example.XXXXXX)
server=
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

ln "$build/velmora" "$scratch/velmora" 2>/dev/null || cp "$build/velmora" "$scratch/velmora"
mkdir "$scratch/velmora-server" "$scratch/data"
cp packaging/sample/velmora.conf "$scratch/velmora.conf"
port=$(free_port) || fail "no free port"
sed "s/port=\"[0-9]*\"/port=\"$port\"/" packaging/sample/sample.conf >"$scratch/velmora-server/sample.conf"

(cd "$scratch" && XDG_DATA_HOME="$scratch/data" exec ./velmora 2>server.err) &
server=$!

# Waits up to 20 s for a line in a file, while the process with pid $3 lives.
await() {
  for _ in $(seq 1 200); do
    grep -qxF "$2" "$1" 2>/dev/null && return 0
    kill -0 "$3" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
await "$scratch/server.err" "Listening..." "$server" || fail "the server did not start listening"

client=(timeout 60 python3 examples/map_client.py -p "$port" -n Sample -w sample -t 20)
"${client[@]}" -u Alice "pos 1,2,0,100" "expect Bob is at 10,20 on facet 3, 57 HP" \
  "say hi Bob" "expect Bob left" >"$scratch/alice.out" 2>&1 &
alice=$!
await "$scratch/alice.out" "logged in as Alice on Sample" "$alice" || fail "Alice did not log in"
"${client[@]}" -u Bob "list" "expect Alice is at 1,2 on facet 0, 100 HP" "pos 10,20,3,57,1,0" \
  "expect Alice says: hi Bob" >"$scratch/bob.out" 2>&1 || fail "Bob's run (exit $?)"
wait "$alice" || fail "Alice's run (exit $?)"

expect_line() {
  grep -qxF "$2" "$scratch/$1.out" || fail "$1 did not print: $2"
}
expect_line alice "Bob is at 10,20 on facet 3, 57 HP, in battle"
expect_line alice "Bob left"
expect_line bob "Alice is at 1,2 on facet 0, 100 HP"
expect_line bob "Alice says: hi Bob"
echo "example-client: passed"
