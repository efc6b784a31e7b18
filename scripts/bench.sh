#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (RelWithDebInfo, build-bench)
# and runs them one after the other, never two at once, printing their outputs.
# Results and how to read them: bench/README.md.
#
#   scripts/bench.sh           every benchmark, about eight minutes
#   scripts/bench.sh --soak    and then the station for ten minutes (not part of CI)
#
# BUILD_DIR overrides the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

soak=0
for arg in "$@"; do
  case "$arg" in
    --soak) soak=1 ;;
    *) echo "usage: scripts/bench.sh [--soak]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTATION_BUILD_TESTS=OFF -DSTATION_BUILD_BENCH=ON

# Each benchmark folder that exists, with its target and its runs.
targets=()
runs=()
add() { # folder target command...
  local folder=$1 target=$2
  shift 2
  if [ -f "bench/$folder/CMakeLists.txt" ]; then
    targets+=("$target")
    runs+=("$*")
  else
    echo "bench/$folder is missing: $target left out"
  fi
}
add link bench_poll "$build/bench/link/bench_poll"
add record bench_recorder "$build/bench/record/bench_recorder"
add record bench_journal "$build/bench/record/bench_journal"
add chart bench_chart "$build/bench/chart/bench_chart"
add station bench_station "$build/bench/station/bench_station"
add station bench_station "$build/bench/station/bench_station --wire-timing"
add station bench_station "$build/bench/station/bench_station --silent"
add station bench_station "$build/bench/station/bench_station --silent --write-every 3000"
# The same station on a disk whose every sync takes 200 ms (bench/station/slowsync.c).
add station bench_station "env LD_PRELOAD=$PWD/$build/bench/station/libslowsync.so SLOWSYNC_MS=200 $build/bench/station/bench_station"
add publish bench_publish "$build/bench/publish/bench_publish"
if [ "$soak" = 1 ]; then
  add station bench_station "$build/bench/station/bench_station --minutes 10"
fi

# shellcheck disable=SC2046
cmake --build "$build" -j"$(nproc)" --target $(printf '%s\n' "${targets[@]}" | sort -u)

echo
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)"
echo "commit:  $(git rev-parse --short HEAD 2>/dev/null || echo '?')  $(date -u '+%Y-%m-%d %H:%M UTC')"

failed=0
for cmd in "${runs[@]}"; do
  echo
  echo "== $cmd"
  # shellcheck disable=SC2086
  if ! $cmd; then
    echo "== FAILED: $cmd"
    failed=1
  fi
done
exit "$failed"
