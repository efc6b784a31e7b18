// The whole station in this process, in live view with the link open, against
// the demo controller lx6100-sim in a process of its own, measured from /proc:
//
//   CPU time per wall second   utime + stime of /proc/self/stat over the wall
//                              time of the measurement (aim: under 2 % of one core)
//   peak resident memory       VmHWM of /proc/self/status (aim: under 80 MiB)
//   longest GUI-thread stall   the longest gap between two ticks of a 10 ms
//                              timer on the GUI thread (stallprobe.h) (aim: under
//                              20 ms: no exchange runs on the GUI thread)
//
//   bench_station [--seconds N | --minutes N] [--wire-timing] [--silent]
//                 [--write-every MS] [--empty-ring] [--sim PATH]
//
// The station starts as the operator starts it: splash, main window (loading
// the newest samples of the database into the chart), poller and recorder;
// then "打开" is pressed with the window's default choices (port 1, address 1,
// 9600, 无校验). Unless --empty-ring, the database is a full ring of 65500 rows
// before the start, as after 18 hours of recording.
//
// The simulator answers at pty speed by default, as in the demo: a cycle takes
// about a millisecond, so the poller runs every 100 ms tick, the most work the
// station ever does. With --wire-timing it holds each reply back as long as a
// 9600 baud line of the station's format needs: a cycle then takes 412.5 ms
// (bench_poll) and the next one starts as soon as it ends (the ticks that fell
// due meanwhile are deferred). With --silent the controller reads every request
// and answers none: each exchange costs the link thread a wait for a quiet
// line and a response time-out. --write-every MS presses "设定SV1" (holding
// register 1) every MS milliseconds, a write with its retry on a dead line.
// The exchanges run on the link thread; the stall figure shows what is left
// on the GUI thread.
//
// The probe costs CPU itself (100 wake-ups a second). The measurement is cut
// into 10 s blocks that run with and without the probe in turn: the CPU figure
// comes from the blocks without it, the stall figures from the blocks with it,
// and the difference is printed as the probe's own cost. In the blocks with
// the probe every event delivered is timed as well (eventtimer.h), which names
// the handlers behind the longest gaps.
//
// Everything lives below a temporary XDG_DATA_HOME (the simulator inherits it):
// the operator's data folder is never touched. The platform is offscreen
// unless QT_QPA_PLATFORM says otherwise.
#include "bench/station/eventtimer.h"
#include "bench/station/procstat.h"
#include "bench/station/stallprobe.h"

#include "app/mainwindow.h"
#include "app/station.h"
#include "app/status/statuspanel.h"
#include "common/datadir.h"
#include "common/datenum.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"
#include "record/recorder.h"
#include "record/sampledb.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

#ifndef STATION_SIM_PATH
#define STATION_SIM_PATH "lx6100-sim"
#endif

namespace {

using station::bench::CpuTime;

constexpr int kBlockSeconds = 10;
constexpr int kSettleMs = 3000;        // after "打开": the first cycles, the first rows
constexpr int kSimReadyMs = 10000;
constexpr int kStartedMs = 15000;      // splash (about 1.5 s) and the main window's load
constexpr int kWireBaud = 9600;        // the station's default choice
constexpr double kWireBoundMs = 412.5; // 360 characters of 11 bits at 9600 (bench/README.md)
constexpr double kStallBudgetMs = 20;       // nothing on the GUI thread waits for the line
constexpr double kCpuAimPercent = 2.0;
constexpr double kMemoryAimMiB = 80.0;
constexpr char kBenchConnection[] = "bench";
constexpr std::size_t kSourcesShown = 8;

bool waitFor(const std::function<bool()> &condition, int deadlineMs)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > deadlineMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A full ring: rows 1..65500, one a second, the newest (65500, where the
// pointer stands) one second ago, so the station's next row wraps to id 1.
bool fillRing(const QString &path)
{
    if (!station::sampledb::create(path))
        return false;
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        if (db.open()) {
            const QDateTime now = QDateTime::currentDateTime();
            const long long newest = (long long)station::dayNumber(now.date()) * 86400LL
                                     + now.time().msecsSinceStartOfDay() / 1000 - 1;
            const int ring = station::sampledb::kRingSize;
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("BEGIN"))
                 && q.exec(QStringLiteral(
                               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1),"
                               " s(i, t) AS (SELECT i, %2 - (%1 - i) FROM n)"
                               " INSERT INTO pv_data SELECT i, t / 86400, (t % 86400) / 86400.0,"
                               " 250 + i % 50, 600 - i % 40, 250, 600, 500, 300, 0, 0, 100 * (i % 2), 0 FROM s")
                               .arg(ring)
                               .arg(newest))
                 && q.exec(QStringLiteral("UPDATE sl_void SET sl_pointer=%1, sl_copy=%1").arg(ring))
                 && q.exec(QStringLiteral("COMMIT"));
            if (!ok)
                std::fprintf(stderr, "filling the ring: %s\n", qPrintable(q.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

// The recorder's pointer, read on a connection of our own (WAL: readers never
// block the recorder); -1 when unreadable.
int ringPointer()
{
    QSqlDatabase db = QSqlDatabase::database(QLatin1String(kBenchConnection));
    QSqlQuery q(db);
    if (!q.exec(QLatin1String(station::sampledb::kSelectControl)) || !q.next())
        return -1;
    return q.value(station::sampledb::col::kPointer).toInt();
}

struct Span {
    double wallMs = 0;
    long long ticks = 0;
    double percent() const { return wallMs > 0 ? 100.0 * CpuTime{ticks}.seconds() * 1000.0 / wallMs : 0; }
};

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(q * double(v.size() - 1) + 0.5))];
}

long countAbove(const std::vector<double> &v, double ms)
{
    return long(std::count_if(v.begin(), v.end(), [ms](double g) { return g > ms; }));
}

// The offscreen platform cannot honour a window's size hints and says so for
// every window shown; the rest goes to Qt's own handler.
QtMessageHandler g_qtHandler = nullptr;
void quietOffscreen(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    g_qtHandler(type, context, message);
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_station: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dataHome;
    if (!dataHome.isValid())
        return fail("no temporary folder");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = dataHome.filePath(QStringLiteral("runtime"));
        QDir().mkdir(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    g_qtHandler = qInstallMessageHandler(quietOffscreen);
    station::bench::EventTimer app(argc, argv);
    station::useStationApplicationName();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The whole station against lx6100-sim, measured from /proc."));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Measured time (default 60)."),
                                           QStringLiteral("N"), QStringLiteral("60"));
    const QCommandLineOption minutesOption(QStringLiteral("minutes"), QStringLiteral("Measured time in minutes."),
                                           QStringLiteral("N"));
    const QCommandLineOption wireOption(QStringLiteral("wire-timing"),
                                        QStringLiteral("The simulator answers as slowly as a 9600 baud line."));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
                                          QStringLiteral("The simulator answers nothing (a dead line)."));
    const QCommandLineOption writeOption(QStringLiteral("write-every"),
                                         QStringLiteral("Press 设定SV1 every MS milliseconds."), QStringLiteral("MS"));
    const QCommandLineOption emptyOption(QStringLiteral("empty-ring"),
                                         QStringLiteral("Start with no database instead of a full ring."));
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("The simulator program."),
                                       QStringLiteral("PATH"), QStringLiteral(STATION_SIM_PATH));
    parser.addOptions({secondsOption, minutesOption, wireOption, silentOption, writeOption, emptyOption, simOption});
    parser.process(app);
    const int seconds = parser.isSet(minutesOption) ? parser.value(minutesOption).toInt() * 60
                                                    : parser.value(secondsOption).toInt();
    if (seconds < 2 * kBlockSeconds)
        return fail("measure at least 20 s (two blocks)");
    const bool wireTiming = parser.isSet(wireOption);
    const bool silent = parser.isSet(silentOption);
    const int writeEveryMs = parser.isSet(writeOption) ? parser.value(writeOption).toInt() : 0;

    // The operator's database, before the station starts.
    const QString dbPath = station::sampledb::defaultPath();
    if (!parser.isSet(emptyOption) && !fillRing(dbPath))
        return fail("cannot fill the ring");

    // The controller.
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList simArgs{QStringLiteral("--port"), QStringLiteral("1")};
    if (wireTiming)
        simArgs << QStringLiteral("--wire-timing") << QStringLiteral("--baud") << QString::number(kWireBaud)
                << QStringLiteral("--parity") << QStringLiteral("N");
    if (silent)
        simArgs << QStringLiteral("--silent");
    sim.start(parser.value(simOption), simArgs);
    // It prints its link path once it serves.
    if (!sim.waitForStarted(kSimReadyMs) || !sim.waitForReadyRead(kSimReadyMs))
        return fail("the simulator did not start");
    const pid_t simPid = pid_t(sim.processId());

    // The station.
    QElapsedTimer startUp;
    startUp.start();
    station::Station stationApp;
    bool started = false;
    QObject::connect(&stationApp, &station::Station::started, [&started] { started = true; });
    stationApp.start();
    if (!waitFor([&] { return started; }, kStartedMs))
        return fail("the station did not start");
    const double startUpMs = double(startUp.elapsed());

    station::MainWindow *window = stationApp.mainWindow();
    auto *open = window->findChild<QPushButton *>(QStringLiteral("Command9"));
    auto *close = window->findChild<QPushButton *>(QStringLiteral("Command10"));
    if (!open || !close)
        return fail("no 打开/关闭 buttons");
    open->click();
    if (!stationApp.poller()->isPolling())
        return fail("polling did not start");

    QSqlDatabase bench = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kBenchConnection));
    bench.setDatabaseName(dbPath);
    bench.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    bench.open();

    waitFor([] { return false; }, kSettleMs);

    // The operator writes a set value now and then.
    int writes = 0;
    QTimer writer;
    if (writeEveryMs > 0) {
        QLineEdit *entry = window->statusPanel()->setValueEntry(0);
        QPushButton *button = window->statusPanel()->setValueButton(0);
        if (!entry || !button)
            return fail("no 设定SV1 panel");
        QObject::connect(&writer, &QTimer::timeout, [entry, button, &writes] {
            entry->setText(QString::number(200 + writes % 100));
            button->click();
            ++writes;
        });
        writer.start(writeEveryMs);
    }

    // The measurement: blocks of kBlockSeconds, probe on in the even ones.
    station::bench::StallProbe probe;
    app.nameMembers(stationApp.poller(), sizeof(station::Poller), QStringLiteral("poll timer (Met1)"));
    app.nameMembers(stationApp.recorder(), sizeof(station::Recorder), QStringLiteral("recorder timer (mscom)"));
    app.nameMembers(&probe, sizeof(probe), QStringLiteral("stall probe"));
    Span withProbe, withoutProbe;
    const int blocks = seconds / kBlockSeconds;
    const int cyclesBefore = stationApp.poller()->completedCycles();
    const int deferredBefore = stationApp.poller()->deferredTicks();
    const int pointerBefore = ringPointer();
    const auto simBefore = station::bench::cpuTime(simPid);
    QElapsedTimer wall;
    wall.start();
    for (int b = 0; b < blocks; ++b) {
        const bool probing = b % 2 == 0;
        const auto cpu0 = station::bench::cpuTime();
        QElapsedTimer block;
        block.start();
        if (probing)
            probe.start();
        app.setEnabled(probing);
        QEventLoop loop;
        QTimer::singleShot(kBlockSeconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        app.setEnabled(false);
        probe.stop();
        const auto cpu1 = station::bench::cpuTime();
        Span &span = probing ? withProbe : withoutProbe;
        span.wallMs += double(block.nsecsElapsed()) / 1e6;
        span.ticks += cpu1 && cpu0 ? cpu1->ticks - cpu0->ticks : 0;
    }
    writer.stop();
    const double wallS = double(wall.nsecsElapsed()) / 1e9;
    const auto simAfter = station::bench::cpuTime(simPid);
    const int cycles = stationApp.poller()->completedCycles() - cyclesBefore;
    const int deferred = stationApp.poller()->deferredTicks() - deferredBefore;
    const int pointerAfter = ringPointer();
    const auto mem = station::bench::memory();
    const auto simMem = station::bench::memory(simPid);
    const QString pv1 = window->findChild<QLabel *>(QStringLiteral("D_3W_0"))
                            ? window->findChild<QLabel *>(QStringLiteral("D_3W_0"))->text()
                            : QString();
    const int rows = pointerBefore < 0 || pointerAfter < 0
                         ? -1
                         : (pointerAfter - pointerBefore + station::sampledb::kRingSize) % station::sampledb::kRingSize;

    close->click();
    bench.close();
    sim.terminate();
    sim.waitForFinished(kSimReadyMs);

    const auto &gaps = probe.gaps();
    const double maxGap = gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    const double all = (withProbe.percent() * withProbe.wallMs + withoutProbe.percent() * withoutProbe.wallMs)
                       / (withProbe.wallMs + withoutProbe.wallMs);

    std::printf("bench_station: the whole station in live view, link open, against lx6100-sim\n");
    std::printf("machine: %s; platform %s\n", station::bench::machine().constData(),
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("line: %s%s; database: %s\n",
                silent ? "a silent controller on a pty"
                       : wireTiming ? "9600 8N2 with wire timing (a cycle 412.5 ms on the wire)"
                                    : "pty, no wire timing (the demo)",
                writeEveryMs > 0 ? qPrintable(QStringLiteral(", 设定SV1 pressed every %1 ms (%2 times)").arg(writeEveryMs).arg(writes))
                                 : "",
                parser.isSet(emptyOption) ? "created at start" : "full ring of 65500 rows");
    std::printf("measured %.1f s in %d blocks of %d s, after start-up (%.0f ms to the main window) and %d s settling\n",
                wallS, blocks, kBlockSeconds, startUpMs, kSettleMs / 1000);
    std::printf("  polling cycles            %d (%.2f a second), ticks deferred %d; PV1 shown \"%s\"\n", cycles,
                cycles / wallS, deferred, qPrintable(pv1));
    if (wireTiming && !silent && cycles > 0)
        std::printf("  poll period               %.1f ms = %.3f x the wire bound of a cycle (%.1f ms)   aim <= 1.05\n",
                    1000.0 * wallS / cycles, 1000.0 * wallS / cycles / kWireBoundMs, kWireBoundMs);
    std::printf("  rows recorded             %d in %.1f s\n", rows, wallS);
    std::printf("  CPU, blocks without probe %6.3f %% of one core   aim < %.0f %%   (%lld ticks of %.0f ms in %.0f s)\n",
                withoutProbe.percent(), kCpuAimPercent, withoutProbe.ticks, CpuTime{1}.seconds() * 1000,
                withoutProbe.wallMs / 1000);
    std::printf("  CPU, blocks with probe    %6.3f %% (the probe's own cost %.3f %%)\n", withProbe.percent(),
                withProbe.percent() - withoutProbe.percent());
    std::printf("  CPU, whole measurement    %6.3f %%\n", all);
    if (mem)
        std::printf("  peak resident (VmHWM)     %6.1f MiB (VmRSS at the end %.1f MiB)   aim < %.0f MiB\n",
                    double(mem->peakKiB) / 1024, double(mem->currentKiB) / 1024, kMemoryAimMiB);
    std::printf("  GUI thread, %.0f s probed: longest gap between 10 ms ticks %.1f ms   aim < %.0f ms\n",
                probe.probedSeconds(), maxGap, kStallBudgetMs);
    std::printf("    gap median %.2f ms, p99 %.2f ms, p99.9 %.2f ms; gaps > 50 ms: %ld, > 100 ms: %ld, > %.0f ms: %ld\n",
                quantile(gaps, 0.5), quantile(gaps, 0.99), quantile(gaps, 0.999), countAbove(gaps, 50),
                countAbove(gaps, 100), kStallBudgetMs, countAbove(gaps, kStallBudgetMs));
    std::printf("    longest stretches without a nested event, by handler (blocks with the probe):\n");
    const auto sources = app.sources();
    for (std::size_t i = 0; i < std::min<std::size_t>(kSourcesShown, sources.size()); ++i)
        std::printf("      %-44s %7lld events  longest %7.2f ms  %7.3f ms a second\n",
                    qPrintable(sources[i].name), sources[i].events, sources[i].longestMs,
                    sources[i].totalMs / probe.probedSeconds());
    if (simBefore && simAfter && simMem)
        std::printf("  simulator process (not the station): CPU %.3f %%, VmHWM %.1f MiB\n",
                    100.0 * CpuTime{simAfter->ticks - simBefore->ticks}.seconds() / wallS,
                    double(simMem->peakKiB) / 1024);

    const bool live = cycles > 0 && rows > 0;
    if (silent)
        return rows > 0 ? 0 : 1;
    if (!live)
        std::fprintf(stderr, "bench_station: the station was not live (no cycles or no rows)\n");
    return live ? 0 : 1;
}
