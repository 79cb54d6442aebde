#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole suite: a normal build, then one with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
scripts/build.sh build
# Most tests wait on sockets and child processes rather than compute: twice as many as there
# are cores keep the cores busy.
(cd build && ctest --output-on-failure -j "$((2 * jobs))")

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scripts/build.sh build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON
(cd build-sanitize && ctest --output-on-failure -j "$jobs")

for extra in scripts/ci.d/*.sh; do
  [ -e "$extra" ] || continue
  echo "== $extra"
  bash "$extra"
done
