#!/usr/bin/env bash
# Fuzz the codec: build the libFuzzer targets with clang and the sanitizers, write the seed
# corpora from our own encoder, run every target for a bounded time and keep what it finds.
#
#   fuzz/run.sh [SECONDS]          each target for SECONDS (default 60); stops a target at its
#                                  first finding; exits 1 if anything was found
#   fuzz/run.sh --long [SECONDS]   long run: goes on past crashes, leaks and timeouts (fork
#                                  mode) and reports executions and coverage; same exit rule
#
# Findings (crash-*, leak-*, timeout-*, oom-*) are copied into fuzz/regressions/<target>/,
# where the test suite replays them (test_fuzzreplay): commit them with the fix.
# One line per target, and one for the whole run, starts with "SUMMARY": executions, their
# rate, and the edges (cov) and features (ft) covered by all inputs gathered so far.
#
# Build directory: $NUVRIX_FUZZ_BUILD, by default build-fuzz beside the checkout. By hand:
#   cmake -S . -B ../build-fuzz -DNUVRIX_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${NUVRIX_FUZZ_BUILD:-$(dirname "$ROOT")/build-fuzz}
JOBS=${JOBS:-2}
TARGETS=(fuzz_codec_decode fuzz_codec_reencode)
PACKAGES=(cmake make python3 qt6-base-dev clang libclang-rt-14-dev)

usage() {
  echo "usage: fuzz/run.sh [--long] [SECONDS]" >&2
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
        -DNUVRIX_FUZZ=ON -DNUVRIX_BUILD_TESTS=OFF -DNUVRIX_BUILD_BENCH=OFF -DNUVRIX_BUILD_APPS=OFF >/dev/null
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
# it, so runs in either mode report the same measure (fork mode counts features as cov).
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

run_target() {
  local target=$1 seconds=$2 long=$3
  local dir="$BUILD/fuzz"
  local work="$dir/work/$target" artifacts="$dir/artifacts/$target" log="$dir/logs/$target.log"
  mkdir -p "$work" "$artifacts" "$dir/logs"
  rm -f "$artifacts"/*
  local args=(-dict="$ROOT/fuzz/rtcm3.dict" -max_total_time="$seconds" -timeout=10 -max_len=4096
              -artifact_prefix="$artifacts/" -print_final_stats=1)
  [ "$long" = 1 ] && args+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  echo "fuzzing $target for ${seconds}s (log: $log)"
  local status=0
  # New inputs go into the work folder; the generated seeds are only read.
  "$dir/$target" "${args[@]}" "$work" "$dir/corpus/$target" >"$log" 2>&1 || status=$?

  local findings execs cov ft
  findings=$(keep_findings "$target" "$artifacts")
  execs=$(executions "$log")
  read -r cov ft < <(coverage "$target")
  echo "SUMMARY $target: execs=$execs exec/s=$(last_number "$log" 'exec/s:?') cov=$cov ft=$ft" \
       "corpus=$(find "$work" -type f | wc -l) findings=$findings exit=$status"
  TOTAL_EXECS=$((TOTAL_EXECS + execs))
  TOTAL_FINDINGS=$((TOTAL_FINDINGS + findings))
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    FAILED=1
    grep -m 1 -A 30 -E '==ERROR|runtime error|invariant broken|ERROR: libFuzzer' "$log" >&2 || tail -n 30 "$log" >&2
  fi
}

main() {
  local long=0
  if [ "${1:-}" = "--long" ]; then long=1; shift; fi
  local seconds=${1:-60}
  [[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || usage
  [ $# -le 1 ] || usage
  deps
  build
  for target in "${TARGETS[@]}"; do
    run_target "$target" "$seconds" "$long"
  done
  echo "SUMMARY total: execs=$TOTAL_EXECS findings=$TOTAL_FINDINGS seconds=$((seconds * ${#TARGETS[@]}))"
  [ "$FAILED" -eq 0 ]
}

main "$@"
