#!/usr/bin/env bash
# Installs what is missing, builds the station and runs it against the
# controller simulator on port 1 (port 1, "9600" and "无校验" are chosen: press
# "打开").
#
# The demo keeps its data apart from the operator's: it runs in a new folder
# below ${TMPDIR:-/tmp} (printed at start, removed when the demo ends), so the
# real ~/.local/share/lx6100-station, its port links and its Rdatabj.db are
# never touched. The folder starts with DEMO_HISTORY seconds (default 300) of
# recorded history of the simulated controller, so the chart has curves and
# dates at once.
#
# The station runs as lx6100-station-demo: lx6100-station that, once its window
# is up, enters the simulated controller's Y range (800, its values are in
# tenths) into "Y轴最大" and presses "修改Y", so the demo opens with its curves
# on the chart. A plain lx6100-station keeps the Y span of 60.
#
# STATION_BIN_DIR=<folder holding lx6100-station-demo and lx6100-sim> skips the
# package check and the build (an installed station: STATION_BIN_DIR=/usr/local/bin).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: run the demo as  xvfb-run -a scripts/demo.sh  (apt-get install xvfb xauth)"
  exit 1
fi

if [ -n "${STATION_BIN_DIR:-}" ]; then
  sim_bin=$STATION_BIN_DIR/lx6100-sim
  station_bin=$STATION_BIN_DIR/lx6100-station-demo
else
  scripts/install-deps.sh
  build=${BUILD_DIR:-build-demo}
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTATION_BUILD_TESTS=OFF -DSTATION_BUILD_BENCH=OFF
  cmake --build "$build" -j"$(nproc)" --target lx6100-station-demo lx6100-sim
  sim_bin=$build/sim/lx6100-sim
  station_bin=$build/app/lx6100-station-demo
fi

demo_home=$(mktemp -d "${TMPDIR:-/tmp}/lx6100-demo.XXXXXX")
sim=""
cleanup() {
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  rm -rf -- "$demo_home"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# The station and the simulator find their data folder through XDG_DATA_HOME.
export XDG_DATA_HOME=$demo_home
# Its configuration too: the demo's "打开" is not what lx6100-station --resume
# of the operator opens.
export XDG_CONFIG_HOME=$demo_home/config
echo "Demo data folder: $demo_home/lx6100-station (removed when the demo ends)"

"$sim_bin" --port 1 --seed-history "${DEMO_HISTORY:-300}" >"$demo_home/sim.out" &
sim=$!
# The simulator prints its link once the history is stored and it serves.
for _ in $(seq 600); do
  [ -s "$demo_home/sim.out" ] && break
  if ! kill -0 "$sim" 2>/dev/null; then
    wait "$sim" || true
    sim=""
    echo "The simulated controller did not start." >&2
    exit 1
  fi
  sleep 0.1
done
echo "Simulated controller on $(cat "$demo_home/sim.out")"
"$station_bin"
