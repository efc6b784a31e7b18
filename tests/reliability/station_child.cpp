// lx6100-station as the process-level tests run it: the station's own main()
// with a few hooks, chosen by the environment, and a line on standard output
// for each moment a test waits for ("started", "raised", "ending"). The
// splash is sped up.
//
//   STATION_CHILD_WRITES=N       once started, queue N writes (registers 3, 4, ...
//                                value 11, 12, ...) as a panel would
//   STATION_CHILD_STALL_END=MS   hold the GUI thread MS milliseconds when the end
//                                begins, as a disk that holds a sync would
#include "app/station.h"
#include "app/stationmain.h"

#include "link/registerimage.h"

#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const int writes = qEnvironmentVariableIntValue("STATION_CHILD_WRITES");
    const int stallMs = qEnvironmentVariableIntValue("STATION_CHILD_STALL_END");
    station::StationHooks hooks;
    hooks.made = [writes, stallMs](station::Station &s) {
        // The splash sped up: its timers run once the event loop does.
        QTimer::singleShot(0, &s, [&s] {
            if (s.splash())
                s.splash()->timer1().setInterval(1);
        });
        QObject::connect(&s, &station::Station::started, &s, [writes] {
            for (int i = 0; i < writes; ++i)
                station::writeWithRetry(3 + i, 11 + i);
            say("started");
        });
        QObject::connect(&s, &station::Station::windowsRaised, &s, [] { say("raised"); });
        QObject::connect(&s, &station::Station::ending, &s, [stallMs] {
            say("ending");
            if (stallMs > 0)
                QThread::msleep(stallMs);
        });
    };
    return station::stationMain(argc, argv, hooks);
}
