#!/bin/sh
# Renders the trend chart component with a live-looking chamber run on the
# offscreen platform and writes it as a PNG (for the README).
#
#   chart/tools/screenshot-chart.sh [build-dir] [output.png]
#
# build-dir defaults to ./build, output to <build-dir>/docs/screenshot-chart.png.
# The picture comes from the screenshot() case of tst_trendchart, which builds
# its own sample database in a private data folder.
set -eu
build=${1:-build}
out=${2:-$build/docs/screenshot-chart.png}
case $out in
  /*) ;;
  *) out=$(pwd)/$out ;;
esac
cmake --build "$build" --target tst_trendchart
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
QT_QPA_PLATFORM=offscreen STATION_TEST_DATA_HOME="$data" STATION_CHART_SCREENSHOT="$out" \
  "$build/tests/chart/tst_trendchart" screenshot
echo "$out"
