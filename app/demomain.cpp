// lx6100-station-demo: the station as scripts/demo.sh runs it, with the Y range
// of the simulated controller entered once the main window is up (app/demo.h).
#include "app/demo.h"
#include "app/mainwindow.h"
#include "app/station.h"
#include "app/stationmain.h"

int main(int argc, char **argv)
{
    station::StationHooks hooks;
    hooks.made = [](station::Station &station) {
        QObject::connect(&station, &station::Station::started, &station, [&station] {
            station::demo::showSimulatedRange(*station.mainWindow());
        });
    };
    return station::stationMain(argc, argv, hooks);
}
