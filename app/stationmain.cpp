#include "app/stationmain.h"

#include "app/lastopen.h"
#include "app/singlestation.h"
#include "app/station.h"
#include "app/stationjournal.h"

#include "common/datadir.h"
#include "common/exitsignals.h"
#include "common/stationlock.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace station {

namespace {

constexpr char kProgram[] = "lx6100-station";

enum class Option { Resume, Help, Version };

struct OptionRow {
    Option option;
    const char *names[2];
    const char *help;
};

constexpr OptionRow kOptions[] = {
    {Option::Resume, {"--resume", nullptr},
     "choose the port, baud rate, parity and address of the last successful 打开 and open the link at once"},
    {Option::Help, {"--help", "-h"}, "show this help and exit"},
    {Option::Version, {"--version", "-v"}, "show the version and exit"},
};

const OptionRow *optionNamed(const char *arg)
{
    for (const OptionRow &row : kOptions)
        for (const char *name : row.names)
            if (name && std::strcmp(arg, name) == 0)
                return &row;
    return nullptr;
}

void printHelp()
{
    std::printf("Usage: %s [--resume]\n\n"
                "The LX6100 monitoring and configuration station. Data folder: %s\n\n",
                kProgram, qPrintable(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
    for (const OptionRow &row : kOptions)
        std::printf("  %-22s %s\n",
                    row.names[1] ? qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(row.names[1]),
                                                                           QLatin1String(row.names[0])))
                                 : row.names[0],
                    row.help);
    std::printf("\nA second start on the same data folder brings the running station's window to the front.\n");
}

int badCommandLine(const char *arg)
{
    std::fprintf(stderr, "%s: unknown argument %s (see --help)\n", kProgram, arg);
    return 2;
}

} // namespace

int stationMain(int argc, char **argv, const StationHooks &hooks)
{
    useStationApplicationName();
    // The station's own options, before anything needs a display.
    bool resume = false;
    for (int i = 1; i < argc; ++i) {
        if (const OptionRow *row = optionNamed(argv[i])) {
            switch (row->option) {
            case Option::Help: printHelp(); return 0;
            case Option::Version: std::printf("%s %s\n", kProgram, STATION_VERSION); return 0;
            case Option::Resume: resume = true; break;
            }
        } else if (std::strncmp(argv[i], "--", 2) == 0) {
            return badCommandLine(argv[i]);
        }
    }

    // One station per data folder.
    const QString folder = dataDir();
    StationLock lock(folder);
    const Claim claim = claimDataFolder(folder, lock);
    if (claim.kind == StartClaim::Raised)
        return 0;
    if (claim.kind == StartClaim::Unreachable) {
        std::fprintf(stderr, "%s: %s\n", kProgram, qPrintable(claim.message));
        return 1;
    }

    QApplication app(argc, argv);
    // What Qt did not take is ours, or a bad command line.
    for (int i = 1; i < argc; ++i)
        if (!optionNamed(argv[i]))
            return badCommandLine(argv[i]);

    Station station;
    if (resume) {
        if (const std::optional<LinkSettings> last = loadLastOpen())
            station.setResume(*last);
        else
            std::fprintf(stderr, "%s: --resume: no settings of a successful 打开 in %s; nothing is opened\n", kProgram,
                         qPrintable(lastOpenPath()));
    }
    RaiseServer raise;
    if (!raise.listen(folder))
        std::fprintf(stderr, "%s: a second start cannot reach this station (%s)\n", kProgram,
                     qPrintable(raiseSocketPath(folder)));
    QObject::connect(&raise, &RaiseServer::raiseRequested, &station, &Station::raiseWindows);
    // SIGTERM, SIGINT and SIGHUP end the station as "退出" does.
    ExitSignals exitSignals;
    QObject::connect(&exitSignals, &ExitSignals::received, &noteExitSignal);  // for the journal's end event
    QObject::connect(&exitSignals, &ExitSignals::received, &station,
                     [&station](int signalNumber) { station.shutDown(endWayOfSignal(signalNumber)); });
    QObject::connect(&station, &Station::ending, &raise, [&station, &raise] {
        // A second start now waits for the lock; nothing outlives the last resort.
        raise.close();
        ExitSignals::armDeadline(station.endBegan() + Station::kLastResort, 1);
    });
    if (hooks.made)
        hooks.made(station);
    station.start();
    const int code = app.exec();
    if (station.leftThreadsRunning()) {
        // A thread still in an exchange or on the disk must not meet the
        // static destructors; what needed saving is saved.
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}

} // namespace station
