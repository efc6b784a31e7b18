// lx6100-sim: a simulated controller for the station to talk to. It serves
// Modbus RTU on a pseudo-terminal linked as <data folder>/serial/com<port>,
// runs the controller model every 100 ms and stops on SIGINT or SIGTERM,
// removing its link. It never replaces a link that is not a simulator's.
// With --seed-history S it first runs its program for S seconds of simulated
// time and stores one sample a second into the data folder's sample database,
// the last one a second ago (rows already there stay).
//
//   lx6100-sim [--port N] [--station A] [--wire-timing [--baud B] [--parity N|O|E]]
//              [--seed-history S]

#include "common/datadir.h"
#include "sim/controllermodel.h"
#include "sim/registermap.h"
#include "sim/seedhistory.h"
#include "record/sampledb.h"
#include "sim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>

#include <csignal>

namespace {

constexpr int kStepMs = 100;
constexpr int kMinPort = 1;
constexpr int kMaxPort = 20;
constexpr int kMinStation = 1;
constexpr int kMaxStation = 247;
constexpr int kMaxSeedSeconds = 86400;
constexpr int kMaxLateMs = 60000;

volatile std::sig_atomic_t quitRequested = 0;

void onSignal(int)
{
    quitRequested = 1;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "lx6100-sim: " << message << Qt::endl;
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // First thing, so that a signal sent right after launch still ends the
    // run cleanly (the first timer tick sees it).
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QCoreApplication app(argc, argv);
    station::useStationApplicationName();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated two-loop controller on a pseudo-terminal."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port number N (link serial/comN)."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption stationOption(QStringLiteral("station"), QStringLiteral("Station address answered."),
                                           QStringLiteral("A"), QStringLiteral("1"));
    const QCommandLineOption wireOption(QStringLiteral("wire-timing"),
                                        QStringLiteral("Hold replies back as long as a real line would."));
    const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("Baud rate for --wire-timing."),
                                        QStringLiteral("B"), QStringLiteral("9600"));
    const QCommandLineOption parityOption(QStringLiteral("parity"),
                                          QStringLiteral("Parity for --wire-timing: N, O or E."),
                                          QStringLiteral("P"), QStringLiteral("N"));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
                                          QStringLiteral("Read every request and answer none (a dead controller)."));
    const QCommandLineOption lateOption(QStringLiteral("late"),
                                        QStringLiteral("Answer every request MS milliseconds late (a slow gateway)."),
                                        QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption seedOption(QStringLiteral("seed-history"),
                                        QStringLiteral("Store S seconds of the running program as recorded history first."),
                                        QStringLiteral("S"), QStringLiteral("0"));
    parser.addOptions({portOption, stationOption, wireOption, baudOption, parityOption, silentOption, lateOption, seedOption});
    parser.process(app);

    bool ok = false;
    const int port = parser.value(portOption).toInt(&ok);
    if (!ok || port < kMinPort || port > kMaxPort)
        return fail(QStringLiteral("--port must be %1..%2").arg(kMinPort).arg(kMaxPort));
    const int address = parser.value(stationOption).toInt(&ok);
    if (!ok || address < kMinStation || address > kMaxStation)
        return fail(QStringLiteral("--station must be %1..%2").arg(kMinStation).arg(kMaxStation));
    const int baud = parser.value(baudOption).toInt(&ok);
    if (!ok || baud <= 0)
        return fail(QStringLiteral("--baud must be a positive number"));
    const QString parity = parser.value(parityOption).toUpper();
    if (parity != QLatin1String("N") && parity != QLatin1String("O") && parity != QLatin1String("E"))
        return fail(QStringLiteral("--parity must be N, O or E"));

    const int lateMs = parser.value(lateOption).toInt(&ok);
    if (!ok || lateMs < 0 || lateMs > kMaxLateMs)
        return fail(QStringLiteral("--late must be 0..%1").arg(kMaxLateMs));
    if (lateMs > 0 && parser.isSet(silentOption))
        return fail(QStringLiteral("--late and --silent exclude each other"));

    const int seedSeconds = parser.value(seedOption).toInt(&ok);
    if (!ok || seedSeconds < 0 || seedSeconds > kMaxSeedSeconds)
        return fail(QStringLiteral("--seed-history must be 0..%1").arg(kMaxSeedSeconds));

    station::sim::Simulator sim(port, address);
    sim.setWireTiming(parser.isSet(wireOption), baud, parity.at(0).toLatin1());
    if (parser.isSet(silentOption))
        sim.setFault(station::sim::Fault::Silent);
    if (lateMs > 0) {
        sim.setSlowDelay(std::chrono::milliseconds(lateMs));
        sim.setFault(station::sim::Fault::Slow);
    }
    station::sim::ControllerModel model(sim);
    model.installDefaults(address);
    if (!sim.start())
        return fail(sim.startError().isEmpty() ? QStringLiteral("cannot serve on %1").arg(sim.linkPath())
                                               : sim.startError());

    if (seedSeconds > 0) {
        // The demo program runs from the start of the recorded past on.
        sim.applyWrite(station::sim::reg::kRunCommand, static_cast<std::int16_t>(station::sim::RunCommand::Run));
        const QString db = station::sampledb::defaultPath();
        const int stored = station::sim::seedHistory(model, sim, db, seedSeconds, QDateTime::currentDateTime());
        if (stored < seedSeconds) {
            sim.stop();
            return fail(QStringLiteral("stored %1 of %2 seconds of history in %3").arg(stored).arg(seedSeconds).arg(db));
        }
    }

    QTextStream(stdout) << sim.linkPath() << Qt::endl;

    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &app, [&] {
        if (quitRequested) {
            QCoreApplication::quit();
            return;
        }
        model.step(clock.restart() / 1000.0);
    });
    timer.start(kStepMs);

    const int rc = app.exec();
    sim.stop();
    return rc;
}
