// The station's data folder: the sample database and the serial port links
// (serial/comN) live there.
#pragma once

#include <QString>

namespace station {

inline constexpr char kApplicationName[] = "lx6100-station";

// Sets the application name (and no organization) so that the standard
// application data location is the station's folder. Every program and test of
// the project calls this once after creating its QCoreApplication.
void useStationApplicationName();

// <AppDataLocation>, created when missing.
QString dataDir();

// <dataDir>/serial, the folder of the port links comN, created when missing
// (the station makes it at start, so an operator can put a link there).
QString serialDir();

} // namespace station
