#!/usr/bin/env bash
# Checks the operator's console in a real browser: Debian's Chromium, driven headless by
# playwright-core from tests/browser, against the real server with members on the wire.
# Installs what it needs (Chromium, Node.js and npm when missing, the locked npm packages), and
# fails when a scenario fails. Screenshots go to build/browser/.
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() {
  echo "browser: FAILED: $*" >&2
  exit 1
}

scripts/install-deps.sh browser || fail "could not install chromium (and nodejs, npm)"
[ -x /usr/bin/chromium ] || fail "no /usr/bin/chromium after the install"

build=build
[ -f "$build/CMakeCache.txt" ] || scripts/build.sh "$build" >/dev/null
cmake "$build" >/dev/null
cmake --build "$build" -j2 --target velmora >/dev/null

(cd tests/browser && timeout 600 npm ci --no-audit --no-fund --loglevel=error) ||
  fail "npm ci in tests/browser"

export VELMORA_BUILD_DIR="$PWD/$build"
status=0
(cd tests/browser && timeout 900 node --test --test-concurrency=1 console.test.mjs) || status=$?
[ "$status" = 0 ] || fail "the browser scenarios (exit $status); screenshots in $build/browser/"
echo "browser: passed; screenshots in $build/browser/"
