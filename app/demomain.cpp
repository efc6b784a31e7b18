// lx6100-station-demo: the station as scripts/demo.sh runs it, with the Y range
// of the simulated controller entered once the main window is up (app/demo.h).
#include "app/demo.h"
#include "app/mainwindow.h"
#include "app/station.h"

#include "common/datadir.h"
#include "common/exitsignals.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    station::useStationApplicationName();
    station::Station station;
    station::ExitSignals exitSignals;
    QObject::connect(&exitSignals, &station::ExitSignals::received, &station, &station::Station::shutDown);
    QObject::connect(&station, &station::Station::started, &station, [&station] {
        station::demo::showSimulatedRange(*station.mainWindow());
    });
    station.start();
    return app.exec();
}
