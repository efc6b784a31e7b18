#include "common/logging.h"

Q_LOGGING_CATEGORY(lcLink, "station.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWire, "station.link.wire", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPoll, "station.poll", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecord, "station.record", QtWarningMsg)
Q_LOGGING_CATEGORY(lcChart, "station.chart", QtWarningMsg)
Q_LOGGING_CATEGORY(lcConfig, "station.config", QtWarningMsg)
Q_LOGGING_CATEGORY(lcProgram, "station.program", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSim, "station.sim", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPublish, "station.publish", QtWarningMsg)
