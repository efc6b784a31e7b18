// lx6100-station's main(): the command line, one station per data folder, the
// application and the station, the signals, and the end of the process.
//
//   lx6100-station            a plain start: the lists at their first entries,
//                             nothing opened (as it always was)
//   lx6100-station --resume   the settings of the last successful "打开"
//                             (app/lastopen.h) chosen, and the link opened
//   --help, --version         answered without a display
//
// Options of Qt's own (-platform, -display, ...) are left to QApplication; any
// other argument is a bad command line (one line on standard error, exit 2).
// A second start on the same data folder raises the first station's window and
// exits 0, or says in one line that it cannot reach it and exits 1
// (app/singlestation.h).
#pragma once

#include <functional>

namespace station {

class Station;

struct StationHooks {
    // Runs with the station made, before it starts (the demo's extras).
    std::function<void(Station &)> made;
};

int stationMain(int argc, char **argv, const StationHooks &hooks = {});

} // namespace station
