#!/usr/bin/env bash
# Builds the station and its whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer (STATION_SANITIZE) in build-asan, runs the suite
# there with leak detection, and prints the time each step took.
#
#   scripts/sanitize.sh                    # clang, build-asan, 2 jobs
#   BUILD_DIR=... JOBS=4 CXX=g++ CC=gcc scripts/sanitize.sh
#   scripts/sanitize.sh -R tst_poller      # extra arguments go to ctest
#
# A leak fails the test that shows it (the suite needs no suppressions; should
# a system library ever need one, LSAN_OPTIONS=suppressions=<file> adds it).
# Undefined behaviour stops the test at once.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-asan}
jobs=${JOBS:-2}
export CC=${CC:-clang}
export CXX=${CXX:-clang++}

# Benchmarks are no tests; they stay out to keep the build short.
start=$(date +%s)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTATION_SANITIZE=ON \
    -DSTATION_BUILD_TESTS=ON -DSTATION_BUILD_BENCH=OFF ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$jobs"
built=$(date +%s)

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_init_order=1:check_initialization_order=1${ASAN_EXTRA:+:$ASAN_EXTRA}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 600 "$@" || status=$?
tested=$(date +%s)

echo
echo "sanitizer build: $((built - start)) s, test suite: $((tested - built)) s ($CXX, $jobs jobs)"
exit $status
