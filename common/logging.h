// Logging categories. All are off by default; a maintainer turns them on with
// QT_LOGGING_RULES, for example QT_LOGGING_RULES="station.link*=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)     // station.link: opens, closes, failed exchanges
Q_DECLARE_LOGGING_CATEGORY(lcWire)     // station.link.wire: every call with its arguments and result
Q_DECLARE_LOGGING_CATEGORY(lcPoll)     // station.poll: polling cycles
Q_DECLARE_LOGGING_CATEGORY(lcRecord)   // station.record: recorder ticks and database faults
Q_DECLARE_LOGGING_CATEGORY(lcChart)    // station.chart: history loads
Q_DECLARE_LOGGING_CATEGORY(lcConfig)   // station.config: configuration writes
Q_DECLARE_LOGGING_CATEGORY(lcProgram)  // station.program: program editor reads and writes
Q_DECLARE_LOGGING_CATEGORY(lcSim)      // station.sim: the controller simulator
Q_DECLARE_LOGGING_CATEGORY(lcPublish)  // station.publish: lx6100-publish, its reads, connections and acknowledgements
