#!/usr/bin/env bash
# Installs what is missing, builds the server and its admin tool (nothing else), lays out a
# sample network beside the binary, starts the server and, once it listens, says how to reach
# it and what to try first. The server runs in the foreground; Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target velmora velmora-admin

# Never overwrite what an operator already has beside the binary.
mkdir -p build/velmora-server
[ -e build/velmora.conf ] || cp packaging/sample/velmora.conf build/velmora.conf
[ -e build/velmora-server/sample.conf ] || cp packaging/sample/sample.conf build/velmora-server/sample.conf

# What to tell the operator, read from the network file as it is now.
network_file=build/velmora-server/sample.conf
attribute() { sed -n "s/.*<network[^>]* $1=\"\([^\"]*\)\".*/\1/p" "$network_file" | head -n 1; }
name=$(attribute name)
password=$(attribute password)
port=$(attribute port)
admin_line=$(grep -m 1 '<User [^>]*IsAdmin="1"' "$network_file" || true)
admin=$(sed -n 's/.*Name="\([^"]*\)".*/\1/p' <<<"$admin_line")
admin_ip=$(sed -n 's/.*LastIP="\([^"]*\)".*/\1/p' <<<"$admin_line")

# The server says its start-up on standard error; a copy tells when it listens, or why not.
said=$(mktemp /tmp/velmora-sample.XXXXXX)
server=$$  # exec below makes this shell the server
(
  trap 'rm -f "$said"' EXIT
  for _ in $(seq 1 600); do
    if grep -qxF "Listening..." "$said"; then
      cat <<INFO

Velmora is listening on 127.0.0.1:$port (and on every other address of this host).
  network        $name
  password       $password
  administrator  $admin, connecting from ${admin_ip:-127.0.0.1}

Try it from another terminal (the tool asks for the password):
  build/velmora-admin -p $port -n $name -u $admin is-admin
  build/velmora-admin -p $port -n $name -u $admin watch

Log: ${XDG_DATA_HOME:-$HOME/.local/share}/com.velmora.log   Stop with Ctrl-C.
INFO
      exit 0
    fi
    if ! kill -0 "$server" 2>/dev/null; then
      echo "run-sample: the server did not start; its own words are above." >&2
      exit 0
    fi
    sleep 0.1
  done
  echo "run-sample: no \"Listening...\" after a minute; see the log." >&2
) &
exec build/velmora 2> >(tee -i "$said" >&2)
