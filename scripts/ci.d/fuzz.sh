#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for a bounded time: first its seed corpus from tests/fuzz/corpus (the
# regression cases among them), then fresh inputs mutated from it. New inputs go to a scratch
# copy of the corpus, so the repository is never changed. A target that crashes, leaks, hangs
# or breaks one of its invariants fails the step; its input is printed and kept.
#
# FUZZ_SECONDS (default 60) bounds each target, FUZZ_JOBS (default 2) runs that many at once.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
targets=(frame_cutter dispatcher network_file settings geo_reply gif_decode)

if ! scripts/install-deps.sh fuzz; then
  echo "fuzz: FAILED to install clang and its runtime libraries (clang libclang-rt-dev)" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_BUILD_FUZZERS=ON -DVELMORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzzers

# The targets write their files and the server's log under TMPDIR: a memory file system when
# there is one, as they write on every input.
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
scratch=$(mktemp -d "$base/velmora-fuzz-ci.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
symbolizer=$(command -v llvm-symbolizer || true)
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"

run_target() {
  local target=$1 dir="$scratch/$1"
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
  cp tests/fuzz/corpus/"$target"/* "$dir/corpus/"
  # timeout is the safety net behind -max_total_time; -timeout bounds a single input.
  TMPDIR="$dir/tmp" timeout --kill-after=10 $((seconds + 120)) \
    build-fuzz/tests/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
    "$dir/corpus" >"$dir/log" 2>&1
}

report() {
  local target=$1 status=$2 dir="$scratch/$1"
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$dir/log" | grep -o '[0-9]*$' || true)
  if [ "$status" -eq 0 ]; then
    echo "fuzz: $target clean, ${runs:-?} inputs in ${seconds} s"
    return 0
  fi
  echo "fuzz: $target FAILED (exit $status)" >&2
  # The report (broken invariant or sanitizer, with its stack) ends the log.
  tail -n 70 "$dir/log" >&2
  local kept="build-fuzz/fuzz-artifacts/$target"
  mkdir -p "$kept"
  for input in "$dir"/artifacts/*; do
    [ -e "$input" ] || continue
    cp "$input" "$kept/"
    echo "fuzz: input kept as $kept/$(basename "$input") ($(stat -c %s "$input") bytes)" >&2
    echo "  base64: $(base64 -w0 "$input")" >&2
    od -An -tx1 -v "$input" | head -20 | sed 's/^/  hex:/' >&2
  done
  echo "fuzz: once fixed, add the input as tests/fuzz/corpus/$target/regression-<what>" >&2
  return 1
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  batch=("${targets[@]:i:jobs}")
  pids=()
  for target in "${batch[@]}"; do
    run_target "$target" &
    pids+=($!)
  done
  for k in "${!batch[@]}"; do
    status=0
    wait "${pids[$k]}" || status=$?
    report "${batch[$k]}" "$status" || failed=1
  done
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: FAILED" >&2
  exit 1
fi
echo "fuzz: every target ran clean"
