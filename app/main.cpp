// The LX6100 monitoring and configuration station.
#include "app/stationmain.h"

int main(int argc, char **argv)
{
    return station::stationMain(argc, argv);
}
