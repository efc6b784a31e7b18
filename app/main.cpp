// The LX6100 monitoring and configuration station.
#include "common/exitsignals.h"
#include "app/station.h"
#include "app/stationjournal.h"

#include "common/datadir.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    station::useStationApplicationName();
    station::Station station;
    // SIGTERM, SIGINT and SIGHUP end the station as "退出" does.
    station::ExitSignals exitSignals;
    QObject::connect(&exitSignals, &station::ExitSignals::received, &station::noteExitSignal);
    QObject::connect(&exitSignals, &station::ExitSignals::received, &station, &station::Station::shutDown);
    station.start();
    return app.exec();
}
