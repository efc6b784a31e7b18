#!/usr/bin/env bash
# Installs what is missing, builds the station and runs the whole test suite:
# every test binary, then the fuzz targets for a bounded time (libFuzzer, clang).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh clang libclang-rt-14-dev
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300

# The fuzz targets, built with clang, libFuzzer and the sanitizers; each runs a
# fixed number of inputs from its kept corpus (about 40 s to build, 40 s to run).
fuzz=${FUZZ_BUILD_DIR:-build-fuzz}
cmake -S . -B "$fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSTATION_FUZZ=ON -DSTATION_BUILD_BENCH=OFF
cmake --build "$fuzz" -j"$(nproc)" --target fuzz_leadingnumber fuzz_numbertext fuzz_parametercoding \
  fuzz_statustexts fuzz_linkreply
ctest --test-dir "$fuzz" --output-on-failure -L fuzz
