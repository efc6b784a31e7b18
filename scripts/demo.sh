#!/usr/bin/env bash
# Installs what is missing, builds the station and runs it against the
# controller simulator on port 1 (choose port 1 and press "打开").
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: run the demo as  xvfb-run -a scripts/demo.sh  (apt-get install xvfb xauth)"
  exit 1
fi

scripts/install-deps.sh
build=${BUILD_DIR:-build-demo}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTATION_BUILD_TESTS=OFF -DSTATION_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)" --target lx6100-station lx6100-sim

"$build/sim/lx6100-sim" --port 1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
"$build/app/lx6100-station"
