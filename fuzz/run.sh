#!/usr/bin/env bash
# Fuzz the codec and the stream road: build the libFuzzer targets with clang and the
# sanitizers, write the seed corpora from our own encoder and the sample stream, run every
# target for a bounded time and keep what it finds.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#                   each target (default: all) for SECONDS (default 60); stops a target at
#                   its first finding; exits 1 if anything was found
#   fuzz/run.sh --long [SECONDS] [TARGET...]
#                   long run: a target that stops at a finding is started again until its
#                   SECONDS are used up, so one finding does not end the run; same exit rule
#   --no-build      (first) use the targets and seeds already built, e.g. for a second run
#                   beside one that is going on
#
# Findings (crash-*, leak-*, timeout-*, oom-*) are copied into fuzz/regressions/<target>/,
# where the test suite replays them (test_fuzzreplay): commit them with the fix.
# One line per target, and one for the whole run, starts with "SUMMARY": executions, their
# rate, and the edges (cov) and features (ft) covered by all inputs gathered so far.
#
# Inputs are at most $NUVRIX_FUZZ_MAX_LEN bytes (default 4096). Long runs of fuzz_stream go
# much faster at 1200, which still holds the longest frame with its header.
#
# Build directory: $NUVRIX_FUZZ_BUILD, by default build-fuzz beside the checkout. By hand:
#   cmake -S . -B ../build-fuzz -DNUVRIX_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${NUVRIX_FUZZ_BUILD:-$(dirname "$ROOT")/build-fuzz}
JOBS=${JOBS:-2}
MAX_LEN=${NUVRIX_FUZZ_MAX_LEN:-4096}
TARGETS=(fuzz_codec_decode fuzz_codec_reencode fuzz_stream fuzz_view)
PACKAGES=(cmake make python3 qt6-base-dev clang libclang-rt-14-dev)

usage() {
  echo "usage: fuzz/run.sh [--no-build] [--long] [SECONDS] [TARGET...]" >&2
  exit 2
}

deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

build() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DNUVRIX_FUZZ=ON -DNUVRIX_BUILD_TESTS=OFF -DNUVRIX_BUILD_BENCH=OFF -DNUVRIX_BUILD_APPS=ON >/dev/null
  # The programs are configured for the sample stream the stream seeds are cut from; only
  # its generator is built.
  cmake --build "$BUILD" -j "$JOBS" --target "${TARGETS[@]}" fuzz_make_corpus fuzz_corpus
  # The committed dictionary is always what the message list gives.
  "$BUILD/fuzz/fuzz_make_corpus" --dict "$ROOT/fuzz/rtcm3.dict"
}

# last_number LOG PATTERN: the number after PATTERN on the last line that has it, or 0.
last_number() {
  { grep -oE "$2 *[0-9]+" "$1" || true; } | tail -n 1 | grep -oE '[0-9]+$' || echo 0
}

# Executions: the final statistics when libFuzzer printed them, else its last status line.
executions() {
  local n
  n=$(last_number "$1" 'stat::number_of_executed_units:')
  [ "$n" != 0 ] && { echo "$n"; return; }
  { grep -oE '^#[0-9]+' "$1" || true; } | tail -n 1 | tr -d '#' | grep -E . || echo 0
}

# coverage TARGET: "cov ft" of everything the target has gathered, measured by one pass over
# it, so short and long runs report the same measure.
coverage() {
  local dir="$BUILD/fuzz" log="$BUILD/fuzz/logs/$1.coverage.log"
  "$dir/$1" -runs=0 "$dir/work/$1" "$dir/corpus/$1" >"$log" 2>&1 || true
  echo "$(last_number "$log" 'cov:') $(last_number "$log" 'ft:')"
}

# keep_findings TARGET ARTIFACTS: copies them into the regressions; prints how many.
keep_findings() {
  local target=$1 artifacts=$2 count=0 f
  local keep="$ROOT/fuzz/regressions/$target"
  mkdir -p "$keep"
  for f in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
    [ -f "$f" ] || continue
    cp "$f" "$keep/"
    echo "finding: $keep/$(basename "$f")" >&2
    count=$((count + 1))
  done
  echo "$count"
}

TOTAL_EXECS=0
TOTAL_FINDINGS=0
FAILED=0

# run_once TARGET SECONDS LOG: one libFuzzer run; returns its exit status.
run_once() {
  local target=$1 seconds=$2 log=$3
  local dir="$BUILD/fuzz"
  local args=(-dict="$ROOT/fuzz/rtcm3.dict" -max_total_time="$seconds" -timeout=10 -max_len="$MAX_LEN"
              -artifact_prefix="$dir/artifacts/$target/" -print_final_stats=1)
  # New inputs go into the work folder; the generated seeds are only read.
  "$dir/$target" "${args[@]}" "$dir/work/$target" "$dir/corpus/$target" >"$log" 2>&1
}

run_target() {
  local target=$1 seconds=$2 long=$3
  local dir="$BUILD/fuzz"
  local artifacts="$dir/artifacts/$target" log="$dir/logs/$target.log"
  mkdir -p "$dir/work/$target" "$artifacts" "$dir/logs"
  rm -f "$artifacts"/* "$log"
  echo "fuzzing $target for ${seconds}s (log: $log)"
  local status=0 execs=0 runs=0 left=$seconds deadline=$((SECONDS + seconds))
  # A long run starts the target again after a finding (it stops at each one) until its
  # time is used up; the executions of all its runs add up.
  while [ "$left" -gt 0 ]; do
    local run_status=0
    run_once "$target" "$left" "$log.run" || run_status=$?
    cat "$log.run" >>"$log"
    execs=$((execs + $(executions "$log.run")))
    runs=$((runs + 1))
    [ "$run_status" -ne 0 ] && status=$run_status
    # An input that fails at once (a seed, say) must not spin: a hundred restarts at most.
    [ "$long" = 1 ] && [ "$run_status" -ne 0 ] && [ "$runs" -lt 100 ] || break
    left=$((deadline - SECONDS))
  done
  rm -f "$log.run"

  local findings cov ft
  findings=$(keep_findings "$target" "$artifacts")
  read -r cov ft < <(coverage "$target")
  echo "SUMMARY $target: execs=$execs exec/s=$((execs / (seconds > 0 ? seconds : 1))) cov=$cov ft=$ft" \
       "corpus=$(find "$dir/work/$target" -type f | wc -l) findings=$findings runs=$runs exit=$status"
  TOTAL_EXECS=$((TOTAL_EXECS + execs))
  TOTAL_FINDINGS=$((TOTAL_FINDINGS + findings))
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    FAILED=1
    grep -m 1 -A 30 -E '==ERROR|runtime error|invariant broken|ERROR: libFuzzer' "$log" >&2 || tail -n 30 "$log" >&2
  fi
}

main() {
  local long=0 build=1 seconds=60
  if [ "${1:-}" = "--no-build" ]; then build=0; shift; fi
  if [ "${1:-}" = "--long" ]; then long=1; shift; fi
  if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
  [ "$seconds" -gt 0 ] || usage
  local targets=("$@") t
  [ ${#targets[@]} -gt 0 ] || targets=("${TARGETS[@]}")
  for t in "${targets[@]}"; do
    [[ " ${TARGETS[*]} " == *" $t "* ]] || { echo "unknown target: $t" >&2; usage; }
  done
  if [ "$build" = 1 ]; then
    deps
    build
  fi
  for t in "${targets[@]}"; do
    run_target "$t" "$seconds" "$long"
  done
  echo "SUMMARY total: execs=$TOTAL_EXECS findings=$TOTAL_FINDINGS seconds=$((seconds * ${#targets[@]}))"
  [ "$FAILED" -eq 0 ]
}

main "$@"
