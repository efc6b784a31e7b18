// The LX6100 monitoring and configuration station.
#include "app/station.h"

#include "common/datadir.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    station::useStationApplicationName();
    station::Station station;
    station.start();
    return app.exec();
}
