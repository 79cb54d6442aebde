#!/usr/bin/env bash
# Installs the Debian packages that building and testing Velmora needs; does nothing when they are there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libasio-dev libpugixml-dev libexpat1-dev libsqlite3-dev libssl-dev libcurl4-openssl-dev libgif-dev
  libmicrohttpd-dev nlohmann-json3-dev libsystemd-dev libabsl-dev
  googletest libgtest-dev libgmock-dev
  python3  # the example client, run by scripts/ci.d/example-client.sh
)
# Extra groups, asked for by the scripts that need them.
for group in "$@"; do
  case "$group" in
    fuzz) packages+=(clang libclang-rt-dev) ;;
    cross) packages+=(g++-mingw-w64-x86-64) ;;
    # systemd for systemd-analyze, which checks the units (it starts nothing when installed).
    package) packages+=(dpkg-dev fakeroot lintian systemd) ;;
    # The console's page is checked in a real browser, driven from Node.js.
    browser)
      packages+=(chromium fonts-dejavu-core)
      command -v npm >/dev/null || packages+=(nodejs npm)
      ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
