// The station as an operator and a lab PC meet it, each a child process
// (tests/reliability/station_child.cpp, the station's own main()):
//  - a second start on the same data folder raises the first station's window
//    and exits 0 without making a station; a station killed with SIGKILL
//    leaves no lock that blocks the next start
//  - a signal during the end ends the process at once; an end held up (a disk
//    that holds a sync) is cut off within 5 s of the signal
//  - --resume opens the port of the last successful "打开" with no click; on a
//    silent line with writes queued, SIGTERM leaves Rdatabj.db holding every
//    row, logs the writes that never went out, and the process is gone within 5 s
// And the port held by one program: the open of a held port fails as busy,
// names the holder and sends nothing; the tty's exclusive mode stops a process
// without CAP_SYS_ADMIN that takes no lock.
#include "link/libmodbusbackend.h"
#include "link/linkerror.h"
#include "link/portlock.h"

#include "common/datadir.h"
#include "common/stationlock.h"
#include "app/singlestation.h"
#include "record/export/copy.h"
#include "sim/simulator.h"

#include "tests/record/dbprobe.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace station;
using test::DbProbe;

namespace {

constexpr int kStartMs = 15000;  // the splash, the load, a first row; under load

// A folder of its own for the data, the configuration and the raise socket.
struct Home {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Home()
    {
        QDir(dir.path()).mkpath("config");
        QDir(dir.path()).mkpath("run");
        QFile::setPermissions(dir.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert("XDG_DATA_HOME", dir.path());
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("STATION_CHILD_WRITES");
        env.remove("STATION_CHILD_STALL_END");
    }
    QString db() const { return dir.filePath("lx6100-station/Rdatabj.db"); }
    qint64 pointer() const
    {
        if (!QFile::exists(db()))
            return -1;
        DbProbe probe(db());
        return probe.pointer();
    }
};

struct Child {
    QProcess process;
    QByteArray out;
    explicit Child(const QProcessEnvironment &env)
    {
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                         [this] { out += process.readAllStandardOutput(); });
    }
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    void start(const QStringList &args = {}) { process.start(QStringLiteral(STATION_CHILD), args); }
    bool said(const QByteArray &line) const { return out.split('\n').contains(line); }
    bool signal(int number) const { return ::kill(pid_t(process.processId()), number) == 0; }
};

} // namespace

class TestStationStartEnd : public QObject {
    Q_OBJECT

private slots:
    void aSecondStartRaisesTheFirstAndAKilledStationBlocksNothing()
    {
        Home home;
        Child first(home.env);
        first.start();
        QTRY_VERIFY_WITH_TIMEOUT(first.said("started") && home.pointer() >= 1, kStartMs);

        // The second start: the first raises its window, the second exits 0 and
        // never became a station (no "started": no window, no recorder, no line).
        Child second(home.env);
        second.start();
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(!second.said("started"));
        QTRY_VERIFY_WITH_TIMEOUT(first.said("raised"), 2000);
        QCOMPARE(first.process.state(), QProcess::Running);

        // Killed: its lock goes with it, the next start is a station.
        QVERIFY(first.signal(SIGKILL));
        QVERIFY(first.process.waitForFinished(5000));
        const qint64 before = home.pointer();
        home.env.insert("STATION_CHILD_STALL_END", "10000");
        Child third(home.env);
        third.start();
        QTRY_VERIFY_WITH_TIMEOUT(third.said("started") && home.pointer() > before, kStartMs);

        // A second signal while the end runs (held here) ends it at once, by that signal.
        QVERIFY(third.signal(SIGTERM));
        QTRY_VERIFY_WITH_TIMEOUT(third.said("ending"), 5000);
        QElapsedTimer sinceSecond;
        sinceSecond.start();
        QVERIFY(third.signal(SIGTERM));
        QVERIFY(third.process.waitForFinished(5000));
        QVERIFY2(sinceSecond.elapsed() < 1000, qPrintable(QString::number(sinceSecond.elapsed())));
        QCOMPARE(third.process.exitStatus(), QProcess::CrashExit);
    }

    void resumeOpensAtOnceAndTheEndOnASilentLineSavesAndEndsWithin5s()
    {
        // A station whose end is held up past every bound, beside it.
        Home stalled;
        stalled.env.insert("STATION_CHILD_STALL_END", "10000");
        Child held(stalled.env);
        held.start();

        // The settings of a run that opened port 1 at 9600, no parity, address 1.
        Home home;
        QDir(home.dir.filePath("config")).mkpath("lx6100-station");
        QFile conf(home.dir.filePath("config/lx6100-station/last-open.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[link]\nport=1\nbaud=9600\nparity=none\naddress=1\n");
        conf.close();
        qputenv("XDG_DATA_HOME", home.dir.path().toLocal8Bit());
        sim::Simulator controller(1, 1);
        QVERIFY(controller.start());
        controller.setFault(sim::Fault::Silent);

        home.env.insert("STATION_CHILD_WRITES", "2");
        Child station(home.env);
        station.process.setProcessChannelMode(QProcess::SeparateChannels);
        station.start({"--resume"});
        QTRY_VERIFY_WITH_TIMEOUT(station.said("started"), kStartMs);
        QVERIFY(controller.waitForRequests(1, 5000));  // opened with no click
        QTRY_VERIFY_WITH_TIMEOUT(home.pointer() >= 2 && held.said("started") && stalled.pointer() >= 1, kStartMs);

        QElapsedTimer sinceSignal;
        sinceSignal.start();
        QVERIFY(held.signal(SIGTERM));
        QVERIFY(station.signal(SIGTERM));
        QVERIFY(station.process.waitForFinished(6000));
        QVERIFY(held.process.waitForFinished(6000));
        QVERIFY2(sinceSignal.elapsed() < 5000, qPrintable(QString::number(sinceSignal.elapsed())));
        QCOMPARE(station.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(station.process.exitCode(), 0);
        QCOMPARE(held.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(held.process.exitCode(), 1);  // cut off by the last resort

        // The writes that never went out, with register and value.
        const QByteArray log = station.process.readAllStandardError();
        QVERIFY2(log.contains("write to register 3 = 11") && log.contains("write to register 4 = 12"), log.constData());
        // Rdatabj.db alone holds every stored row.
        const QString copy = home.dir.filePath("copy.db");
        QVERIFY(QFile::copy(home.db(), copy));
        qint64 stored = 0;
        {
            DbProbe all(home.db());
            stored = all.pointer();
        }
        DbProbe alone(copy);
        QCOMPARE(alone.integrity(), QString("ok"));
        QCOMPARE(alone.pointer(), stored);
    }

    // A station that holds the folder and does not answer (hung): a second
    // start says so in one line on standard error and exits 1, within the
    // time it asks (kAskMs), and never becomes a station.
    void aSecondStartThatCannotReachTheFirstSaysSoAndExits1()
    {
        Home home;
        const QString folder = home.dir.filePath("lx6100-station");
        StationLock hung(folder);
        QVERIFY(hung.tryLock());
        QLocalServer silent;  // listens, never answers
        qputenv("XDG_RUNTIME_DIR", home.dir.filePath("run").toLocal8Bit());
        QVERIFY(silent.listen(raiseSocketPath(folder)));
        Child second(home.env);
        second.process.setProcessChannelMode(QProcess::SeparateChannels);
        second.start();
        QVERIFY(second.process.waitForFinished(kAskMs + 5000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 1);
        const QList<QByteArray> lines = second.process.readAllStandardError().trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains("does not answer") && lines[0].contains(QByteArray::number(::getpid())),
                 lines[0].constData());
        QVERIFY(!second.said("started"));
    }

    // lx6100-export --restore refuses while a station holds the folder, even
    // at a moment when the station has no connection open (its start, a file
    // set aside): the lock says it, not the -shm.
    void restoreRefusesWhileAStationHoldsTheFolder()
    {
        QTemporaryDir folder;
        StationLock station(folder.path());
        QVERIFY(station.tryLock());
        const QString backup = folder.filePath("backup.db");
        QFile file(backup);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not looked at") > 0);
        file.close();
        const exporttool::Outcome refused = exporttool::restore(backup, folder.filePath("Rdatabj.db"));
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.message.contains("in use"), qPrintable(refused.message));
        station.unlock();
        const exporttool::Outcome checked = exporttool::restore(backup, folder.filePath("Rdatabj.db"));
        QVERIFY2(checked.message.contains("not a whole SQLite database"), qPrintable(checked.message));
    }

    void aHeldPortIsBusyNamesItsHolderAndSendsNothing()
    {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        sim::Simulator controller(2, 1);
        QVERIFY(controller.start());
        const QString port = dataDir() + QStringLiteral("/serial/com2");
        const int other = link::claimPort(QFile::encodeName(port));  // another station holds it
        QVERIFY(other >= 0);

        link::LibmodbusBackend &backend = link::LibmodbusBackend::instance();
        std::int32_t value = 0;
        QVERIFY(backend.openPort(2, 2, 0) != 0);
        QCOMPARE(backend.lastFailure().fault, link::LinkFault::DeviceBusy);
        QVERIFY(backend.readInputRegisters(2, 1, 1, 1, &value) != 0);  // tries the open again
        const link::LinkFailure failure = backend.lastFailure();
        QCOMPARE(failure.fault, link::LinkFault::DeviceBusy);
        const QString text = link::failureText(failure);
        QVERIFY2(text.startsWith(QStringLiteral("串口被占用")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("进程 %1").arg(::getpid())), qPrintable(text));
        QCOMPARE(controller.requestCount(), std::uint64_t(0));

        link::releasePort(other, -1);

        // A terminal program that takes no lock and sets the exclusive mode:
        // not used either, by root too (the open lets root through).
        const int terminal = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(terminal >= 0);
        QCOMPARE(::ioctl(terminal, TIOCEXCL), 0);
        QVERIFY(backend.readInputRegisters(2, 1, 1, 1, &value) != 0);
        QCOMPARE(backend.lastFailure().fault, link::LinkFault::DeviceBusy);
        QCOMPARE(controller.requestCount(), std::uint64_t(0));
        ::ioctl(terminal, TIOCNXCL);
        ::close(terminal);

        // Let go: the next exchange takes the port over.
        QCOMPARE(backend.readInputRegisters(2, 1, 1, 1, &value), 0);
        QVERIFY(controller.requestCount() >= 1);

        // The tty's exclusive mode stops a program that takes no lock, when it
        // lacks CAP_SYS_ADMIN (root has it and is let through).
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv (util-linux) is not installed");
        const auto openFromOutside = [&port] {
            QProcess p;
            p.start("setpriv", {"--bounding-set=-sys_admin", "--", "/bin/sh", "-c", "exec 3<>\"$0\"", port});
            return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        QVERIFY(openFromOutside() != 0);
        backend.closePort(2);
        QCOMPARE(openFromOutside(), 0);
    }
};

STATION_TEST_MAIN_CORE(TestStationStartEnd)
#include "tst_station_start_end.moc"
