// What the demo adds to a plain start of the station. scripts/demo.sh runs
// lx6100-station-demo against the simulated controller, whose values are in
// tenths (PV1 and SV1 200..400 for 20.0..40.0 degC, PV2 and SV2 450..700 for
// 45.0..70.0 %RH): above the Y span of 60 that every start of the station
// sets, so its curves would lie above the plot. The demo enters the range an
// operator would type, 800 into "Y轴最大", and presses "修改Y", so it opens
// with its curves on the chart and the entry shows how they got there.
// lx6100-station itself never does this.
#pragma once

namespace station {

class MainWindow;

namespace demo {

inline constexpr int kYMaximum = 800;

// Enters kYMaximum into "Y轴最大" and presses "修改Y", as the operator would.
void showSimulatedRange(MainWindow &window);

} // namespace demo
} // namespace station
