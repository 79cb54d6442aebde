#!/usr/bin/env bash
# Cross-compiles the Windows side of the process entry with MinGW-w64 and, where Wine can be had,
# runs the probe program under it: a process not started by the service manager must fall back
# to console mode (the dispatcher call fails with 1063), and a real service installed with Wine's
# service manager must report running, pause, continue and stop. Only the entry and its platform
# code are built for Windows, not the whole server.
set -euo pipefail
cd "$(dirname "$0")/../.."

out=build-win32
mkdir -p "$out"

if ! scripts/install-deps.sh cross; then
  echo "windows-cross: FAILED to install the MinGW-w64 cross compiler (g++-mingw-w64-x86-64)" >&2
  exit 1
fi
# The POSIX thread model gives std::mutex and std::condition_variable on every MinGW version.
cxx=$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++ || true)
if [ -z "$cxx" ]; then
  echo "windows-cross: FAILED: no x86_64-w64-mingw32-g++ after installing the cross compiler" >&2
  exit 1
fi

echo "windows-cross: compiling with $cxx"
"$cxx" -std=c++20 -O1 -Wall -Wextra -Wno-unused-parameter -DUNICODE -D_UNICODE \
  -Isrc -Itests -static -o "$out/velmora-probe.exe" \
  tests/win32/ServiceDispatchProbe.cpp \
  src/host/ProcessEntry.cpp src/host/ServiceMain.cpp src/platform/adapters/WindowsPathParts.cpp \
  src/platform/adapters/win32/*.cpp \
  -ladvapi32 -lshlwapi -lshell32 -lole32 -luuid
echo "windows-cross: built $out/velmora-probe.exe"

find_wine() {
  local candidate
  for candidate in wine64 wine /usr/lib/wine/wine64; do
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return
    fi
  done
}

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
wine=$(find_wine)
if [ -z "$wine" ]; then
  echo "windows-cross: installing wine64 for the probe run"
  export DEBIAN_FRONTEND=noninteractive
  # A stale package list is the usual reason for a failed install; one refresh, then give up.
  if ! timeout 600 "${sudo_cmd[@]}" apt-get install -y -qq wine64 >/dev/null 2>&1; then
    timeout 300 "${sudo_cmd[@]}" apt-get update -qq >/dev/null 2>&1 &&
      timeout 600 "${sudo_cmd[@]}" apt-get install -y -qq wine64 >/dev/null 2>&1 || true
  fi
  wine=$(find_wine)
fi
if [ -z "$wine" ]; then
  echo "windows-cross: Wine run skipped: wine64 could not be installed; the cross build passed"
  exit 0
fi

prefix=$(mktemp -d /tmp/velmora-wine.XXXXXX)
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  # Ends the wineserver of this prefix, and with it the service manager it started; nothing else.
  local server
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
  "$server" -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT

echo "windows-cross: running the probe under $wine"
status=0
console=$(cd "$out" && timeout 300 "$wine" ./velmora-probe.exe 2>/dev/null) || status=$?
echo "$console"
if [ "$status" -ne 0 ] ||
   ! grep -q "^console fallback: StartServiceCtrlDispatcherW failed with 1063" <<<"$console"; then
  echo "windows-cross: FAILED: the console checks under Wine (exit $status)" >&2
  exit 1
fi

status=0
(cd "$out" && timeout 300 "$wine" ./velmora-probe.exe --service-check 2>/dev/null) || status=$?
if [ "$status" -ne 0 ]; then
  echo "windows-cross: FAILED: the service run under Wine's service manager (exit $status)" >&2
  exit 1
fi
echo "windows-cross: the entry falls back to console mode and runs as a service under Wine"
