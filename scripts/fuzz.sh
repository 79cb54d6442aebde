#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs them.
#
#   scripts/fuzz.sh --ci [target...]
#       What CI runs (scripts/ci.d/fuzz.sh): every input of every corpus in tests/fuzz/corpus
#       once (the regression cases among them), then each target for a fixed number of runs
#       from a fixed seed, so that the same commit gives the same result. Targets named limit
#       it to them.
#   scripts/fuzz.sh --explore MINUTES [--seed N] [target...]
#       Fuzzes the targets (all by default) from a random seed, or N, for MINUTES in all, shared
#       among them. The seed is printed, so that a find can be made again.
#
# A target that crashes, leaks, hangs or breaks one of its invariants fails; its input is kept in
# build-fuzz/fuzz-artifacts/<target>/ and printed, with how to add it as a regression case. New
# inputs go to a scratch folder: the repository's corpus is never changed. FUZZ_JOBS (default 2)
# runs that many targets at once.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each target with its runs in CI, measured to need 30 to 60 s of processor time: about as long
# on a machine of two cores that runs two targets at once and nothing else.
# The dispatcher is only replayed in CI (0 runs past its corpus): its server runs on a manual
# clock with its files written on the loop's thread, but its hash tables still mix the heap's
# addresses into their probing, so a long run's features drift with the allocator's state and
# two runs of one commit part ways after some thousands of inputs. Exploring it is for --explore.
ci_runs=(frame_cutter=350000 dispatcher=0 network_file=200000 settings=100000 geo_reply=900000
         gif_decode=750000)
ci_seed=1
# Mutations that copy in what the code compared with (-use_cmp) are left out in CI: among those
# values are some that differ from run to run, and each one drawn steers the rest of the run.
ci_flags=("-seed=$ci_seed" -use_cmp=0)
# Only a safety net for a much slower machine: cut short, a run is a prefix of the fixed one.
ci_max_seconds=600

parallel=${FUZZ_JOBS:-2}
targets=()
for entry in "${ci_runs[@]}"; do targets+=("${entry%%=*}"); done

usage() {
  sed -n '5,13s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

mode="" minutes="" seed=""
chosen=()
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) mode=ci ;;
    --explore)
      mode=explore
      [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage
      minutes=$2
      shift
      ;;
    --seed)
      [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage
      seed=$2
      shift
      ;;
    -*) usage ;;
    *)
      if [[ " ${targets[*]} " != *" $1 "* ]]; then
        echo "fuzz: no target $1 (${targets[*]})" >&2
        exit 2
      fi
      chosen+=("$1")
      ;;
  esac
  shift
done
[ -n "$mode" ] || usage
[ ${#chosen[@]} -eq 0 ] || targets=("${chosen[@]}")

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
scratch=$(mktemp -d "$base/velmora-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
symbolizer=$(command -v llvm-symbolizer || true)
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"

# Inlined library code compares heap addresses (whether two strings overlap, say), so where the
# allocator puts things changes the edges an input covers, and with them which inputs the fuzzer
# keeps. Without address randomisation a seed gives the same run every time.
fixed_addresses=(setarch "$(uname -m)" --addr-no-randomize)
if ! "${fixed_addresses[@]}" true 2>/dev/null; then
  echo "fuzz: cannot turn address randomisation off (setarch): runs may differ" >&2
  fixed_addresses=()
fi

# The corpus of a target, sorted, so that no directory order changes what runs first.
corpus_files() {
  find "tests/fuzz/corpus/$1" -maxdepth 1 -type f | LC_ALL=C sort
}

# run TARGET STAGE ARGUMENTS...: runs the target's binary with its log, the inputs that failed it
# and its files in the folder $scratch/TARGET.STAGE; the exit status is the binary's.
run() {
  local target=$1 dir="$scratch/$1.$2"
  shift 2
  mkdir -p "$dir/artifacts" "$dir/tmp"
  local started=$SECONDS status=0
  # timeout is the last safety net; -timeout bounds a single input.
  TMPDIR="$dir/tmp" timeout --kill-after=10 $((limit_seconds + 120)) \
    "${fixed_addresses[@]}" "build-fuzz/tests/fuzz/fuzz_$target" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$dir/artifacts/" "$@" >"$dir/log" 2>&1 || status=$?
  echo $((SECONDS - started)) >"$dir/seconds"
  return "$status"
}

# Prints the end of a failed run's log and keeps the inputs that failed it.
report_failure() {
  local target=$1 stage=$2 status=$3 dir="$scratch/$1.$2"
  echo "fuzz: $target FAILED (exit $status)" >&2
  # The report (broken invariant or sanitizer, with its stack) ends the log.
  tail -n 70 "$dir/log" >&2
  local kept="build-fuzz/fuzz-artifacts/$target" input
  for input in "$dir"/artifacts/*; do
    [ -e "$input" ] || continue
    mkdir -p "$kept"
    cp "$input" "$kept/"
    echo "fuzz: input kept as $kept/$(basename "$input") ($(stat -c %s "$input") bytes)" >&2
    echo "  base64: $(base64 -w0 "$input")" >&2
    od -An -tx1 -v "$input" | head -20 | sed 's/^/  hex:/' >&2
    echo "  to run it again: build-fuzz/tests/fuzz/fuzz_$target $kept/$(basename "$input")" >&2
  done
  [ "$stage" = replay ] && return
  echo "fuzz: once fixed, add the input as tests/fuzz/corpus/$target/regression-<what>" \
    "(written by tests/fuzz/make_corpus.py)" >&2
}

# Every corpus input once, one target after the other: the inputs are few and quick.
replay() {
  local failed=0 target
  for target in "${targets[@]}"; do
    local files status=0
    mapfile -t files < <(corpus_files "$target")
    run "$target" replay "${files[@]}" || status=$?
    if [ "$status" -eq 0 ]; then
      echo "fuzz: $target passed its ${#files[@]} corpus inputs"
    else
      local input
      input=$(grep -o '^Running: .*' "$scratch/$target.replay/log" | tail -n 1 | cut -c10-)
      echo "fuzz: $target failed on its corpus input ${input:-?}" >&2
      report_failure "$target" replay "$status"
      failed=1
    fi
  done
  return "$failed"
}

# fuzz_one TARGET LIBFUZZER-OPTIONS...: fuzzes from the target's corpus, named in sorted order
# (libFuzzer shuffles it with the seed, then puts the small inputs first).
fuzz_one() {
  local target=$1
  shift
  corpus_files "$target" | paste -sd, >"$scratch/$target.seeds"
  run "$target" fuzz -seed_inputs=@"$scratch/$target.seeds" -reload=0 -print_final_stats=1 "$@"
}

# fuzz_all OPTIONS-OF TARGETS...: fuzzes up to $parallel targets at once, each with the options
# that the function OPTIONS-OF prints for it, and reports each as it ends.
fuzz_all() {
  local options_of=$1 failed=0 target
  shift
  declare -A target_of=()
  for target in "$@"; do
    while [ ${#target_of[@]} -ge "$parallel" ]; do finish_one || failed=1; done
    local -a options
    read -ra options <<<"$("$options_of" "$target")"
    fuzz_one "$target" "${options[@]}" &
    target_of[$!]=$target
  done
  while [ ${#target_of[@]} -gt 0 ]; do finish_one || failed=1; done
  return "$failed"
}

# Waits for one of fuzz_all's targets and reports it: its runs and coverage as libFuzzer ends
# with them ("cov" edges, "ft" features, "corp" inputs kept), which a seed fixes.
finish_one() {
  local pid status=0
  wait -n -p pid || status=$?
  local target=${target_of[$pid]}
  unset "target_of[$pid]"
  local dir="$scratch/$target.fuzz"
  if [ "$status" -ne 0 ]; then
    report_failure "$target" fuzz "$status"
    return 1
  fi
  local summary
  summary=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -n 1 |
    sed -E 's/^#([0-9]+)[[:space:]]+DONE +/\1 runs, /; s/ (lim|exec\/s|rss):.*//' || true)
  echo "fuzz: $target clean: ${summary:-?} ($(cat "$dir/seconds") s)"
  local ran=${summary%% runs*}
  if [ "$mode" = ci ] && [[ $ran =~ ^[0-9]+$ ]] && [ "$ran" -lt "$(ci_runs_of "$target")" ]; then
    echo "fuzz: $target reached its time bound after $ran of $(ci_runs_of "$target") runs:" \
      "this machine ran only the start of the fixed sequence" >&2
  fi
}

ci_runs_of() {
  local entry
  for entry in "${ci_runs[@]}"; do
    if [ "${entry%%=*}" = "$1" ]; then echo "${entry#*=}"; fi
  done
}

ci_options() { echo "${ci_flags[*]} -runs=$(ci_runs_of "$1") -max_total_time=$ci_max_seconds"; }

explore_options() { echo "-seed=$seed -max_total_time=$explore_seconds"; }

failed=0
if [ "$mode" = ci ]; then
  limit_seconds=$ci_max_seconds
  replay || failed=1
  echo "fuzz: each target for its fixed runs from seed $ci_seed"
  fuzz_all ci_options "${targets[@]}" || failed=1
else
  [ -n "$seed" ] || seed=$(($(od -An -tu4 -N4 /dev/urandom) % 2147483646 + 1))
  rounds=$(((${#targets[@]} + parallel - 1) / parallel))
  explore_seconds=$((minutes * 60 / rounds))
  limit_seconds=$explore_seconds
  echo "fuzz: exploring ${targets[*]} from seed $seed, $explore_seconds s each" \
    "(again: scripts/fuzz.sh --explore $minutes --seed $seed${chosen[*]:+ ${chosen[*]}})"
  fuzz_all explore_options "${targets[@]}" || failed=1
fi

if [ "$failed" -ne 0 ]; then
  echo "fuzz: FAILED" >&2
  exit 1
fi
echo "fuzz: every target ran clean"
