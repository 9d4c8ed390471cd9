#!/usr/bin/env bash
# Installs the build into a temporary folder, moves that folder, and checks that the moved
# tree still works: rtcm3dump runs on the installed sample, and a consumer project finds the
# package with find_package(nuvrixrtcm3), builds, links and runs against it.
#   check_install.sh BUILD_DIR CONSUMER_SOURCE_DIR CMAKE CXX_COMPILER [CXX_FLAGS]
set -euo pipefail
build=$1 consumer=$2 cmake=$3 cxx=$4 flags=${5:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_install: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/first" >/dev/null || fail "install failed"
mv "$work/first" "$work/moved"
prefix=$work/moved

sample=$prefix/share/nuvrixrtcm3/sample.rtcm3
[ -s "$sample" ] || fail "no sample stream at share/nuvrixrtcm3/sample.rtcm3"
stats=$("$prefix/bin/rtcm3dump" --stats "$sample") || fail "moved rtcm3dump failed"
grep -q 1006 <<<"$stats" || fail "rtcm3dump --stats shows no station message (1006) of the sample"

"$cmake" -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" >"$work/configure.log" 2>&1 \
    || { cat "$work/configure.log" >&2; fail "find_package(nuvrixrtcm3) against the moved tree failed"; }
"$cmake" --build "$work/consumer" >"$work/build.log" 2>&1 \
    || { cat "$work/build.log" >&2; fail "the consumer did not build against the moved tree"; }
# No help from the environment: the consumer must find every library by itself.
env -u LD_LIBRARY_PATH "$work/consumer/consumer" || fail "the consumer failed to run"
