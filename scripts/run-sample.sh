#!/usr/bin/env bash
# Installs what is missing, builds, lays out a sample network beside the binary and starts the server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release

# Never overwrite what an operator already has beside the binary.
mkdir -p build/velmora-server
[ -e build/velmora.conf ] || cp packaging/sample/velmora.conf build/velmora.conf
[ -e build/velmora-server/sample.conf ] || cp packaging/sample/sample.conf build/velmora-server/sample.conf

echo "Velmora is starting on the sample network 'Sample' (port 5000, password 'sample')."
echo "Log: ${XDG_DATA_HOME:-$HOME/.local/share}/com.velmora.log   Stop with Ctrl-C."
exec build/velmora
