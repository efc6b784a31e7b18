// The sample database fails under the whole station while it records: the
// station starts the real way (splash, main window, poller, recorder), polls
// the simulator, and then its database file is deleted, made read-only,
// replaced by garbage and refused more space (disk full), each for a few
// seconds. Throughout, the GUI thread keeps processing events and the live
// chart takes one sample a second; a deleted or garbage file gives way to a
// fresh ring at once (the garbage set aside), and once a read-only or full
// file is usable again the recorder stores one row a second again by itself;
// and no row is ever half-written:
// the file passes integrity_check and every row's ten values come from one
// polled sample.
//
// One sample is recognisable: a driver on the GUI thread moves the simulator's
// inputs every 50 ms to n x 10 + 1 .. n x 10 + 8 (inputs 1..8) and sets
// discrete inputs 1 and 2 both to n's parity, so a row whose values came from
// two samples, or from two halves of a row, does not fit the pattern. The
// driver runs on the GUI thread, between two exchanges of the poller, so no
// request is ever answered from a half-moved set of registers.
#include "app/mainwindow.h"
#include "app/station.h"

#include "chart/trendchart.h"
#include "common/datadir.h"
#include "link/libmodbusbackend.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"
#include "record/recorder.h"
#include "record/sampledb.h"

#include "sim/simulator.h"

#include "tests/reliability/guiprobe.h"
#include "tests/reliability/recordcheck.h"
#include "tests/support/sqlitefaults.h"
#include "tests/support/testenv.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <unistd.h>

using namespace station;
using reliability::GuiProbe;

namespace {

constexpr int kPort = 1;
constexpr int kStation = 1;
constexpr std::int32_t kBaudCode = 1;  // 9600, the window's default
constexpr int kDriverMs = 50;
constexpr int kSequenceSpan = 3000;     // n x 10 + 8 stays a 16-bit register value

// Each fault is held this long, and the healthy stretch after it too.
constexpr int kFaultMs = 3000;
constexpr int kHealthyMs = 2500;
// After a file becomes usable the recorder tries it at its next attempt, at
// most once a clock second (recorder.h); a row follows in the same tick.
constexpr int kResumeMs = 2500;
// The longest the GUI thread may go without events. Against a healthy line an
// exchange holds it for its wire time (52 ms at most at 9600); the recorder's
// commit costs one fsync, and a file another process locks one busy time-out
// (200 ms, sampledb.h) at most once a second. 400 ms leaves room for a loaded
// machine and stays far below the second that would cost a row.
constexpr qint64 kGapBoundMs = 400;

std::int16_t sequenceInput(int n, int i) { return std::int16_t(n * 10 + 1 + i); }  // i = 0..7

// The sample n a row was taken from, or -1 when its values are not one sample.
// A row of zeros is the image before the first poll (n = 0).
int sampleOf(const reliability::RecordedRow &row)
{
    const auto &v = row.values;
    if (v[8] != v[9] || (v[8] != 0 && v[8] != 100))
        return -1;
    if (std::all_of(v.begin(), v.end(), [](double x) { return x == 0; }))
        return 0;
    const double n = (v[0] - 1) / 10;
    if (n != std::floor(n) || n < 1)
        return -1;
    for (int i = 0; i < 8; ++i)
        if (v[size_t(i)] != sequenceInput(int(n), i))
            return -1;
    return int(n);
}

enum class Fault { Deleted, ReadOnly, Garbage, DiskFull };

struct Measured {
    QString name;
    qint64 longestGapMs = 0;
    qint64 faultSeconds = 0;
    qint64 chartAppendsInFault = 0;
    qint64 rowsInFault = 0;
    qint64 resumeMs = 0;        // from "usable again" to the first stored row
    qint64 healthySeconds = 0;
    qint64 rowsHealthy = 0;
    int refused = 0;            // writes the fault layer refused
};

} // namespace

class TestDatabaseFaults : public QObject {
    Q_OBJECT

    QString m_path;
    int m_n = 0;

    static std::optional<qint64> storedPointer(const QString &path)
    {
        const auto p = reliability::storedPointer(path);
        return p ? std::optional<qint64>(p->first) : std::nullopt;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(dataDir()));
        test::installSqliteFaults(dataDir());
        m_path = sampledb::defaultPath();
    }

    void faultsWhileTheStationRecords()
    {
        registerImage() = RegisterImage{};
        sim::Simulator controller(kPort, kStation);
        controller.setWireTiming(true, link::baudRate(kBaudCode), 'N');
        QVERIFY(controller.start());
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            m_n = m_n % kSequenceSpan + 1;
            for (int i = 0; i < 8; ++i)
                controller.setInput(1 + i, sequenceInput(m_n, i));
            controller.setDiscrete(1, m_n % 2 == 1);
            controller.setDiscrete(2, m_n % 2 == 1);
        });
        driver.start(kDriverMs);

        Station station;
        QSignalSpy started(&station, &Station::started);
        station.start();
        QVERIFY(started.wait(5000));
        MainWindow *w = station.mainWindow();
        auto *recorder = qobject_cast<Recorder *>(station.recorder());
        QVERIFY(w && recorder && station.poller());
        QVERIFY(QFileInfo::exists(m_path));
        w->findChild<QPushButton *>(QStringLiteral("Command9"))->click(); // 打开
        QCOMPARE(linkSettings().baudCode, kBaudCode);
        QVERIFY(reliability::waitFor([] { return registerImage().inputWords[0] % 10 == 1 && registerImage().inputWords[0] > 0; }, 3000));

        // The live chart: every append moves curve end (it runs 241..261 and
        // back to 241 when the window reloads at the right edge).
        GuiProbe probe;
        const chart::Chart &chart = w->trendChart()->chart();
        qint64 appends = 0;
        int lastCurveEnd = chart.view().curveEnd;
        QString chartFault;
        probe.setWatch([&] {
            const int end = chart.view().curveEnd;
            if (end == lastCurveEnd)
                return;
            lastCurveEnd = end;
            ++appends;
            // The appended slot holds the polled sample of the moment.
            const auto &values = chart.buffer()[std::size_t(end)].values;
            if (chartFault.isEmpty() && (values[0] < 1 || values[7] != values[0] + 7))
                chartFault = QStringLiteral("slot %1 holds %2 .. %3").arg(end).arg(values[0]).arg(values[7]);
        });
        probe.start();

        // A healthy start: one row a second.
        {
            const qint64 p0 = recorder->pointer();
            const qint64 s0 = reliability::clockSecondNow();
            reliability::holdFor(kHealthyMs);
            const qint64 rows = recorder->pointer() - p0;
            const qint64 seconds = reliability::clockSecondNow() - s0;
            QVERIFY2(std::abs(rows - seconds) <= 1, qPrintable(QStringLiteral("%1 rows in %2 s").arg(rows).arg(seconds)));
        }

        const std::pair<Fault, const char *> faults[] = {
            {Fault::Deleted, "file deleted"},
            {Fault::ReadOnly, "made read-only"},
            {Fault::Garbage, "replaced by garbage"},
            {Fault::DiskFull, "disk full"},
        };
        QList<Measured> results;
        for (const auto &[fault, name] : faults) {
            Measured m;
            m.name = QLatin1String(name);
            probe.resetLongest();
            const int refusedBefore = test::refusedWrites();
            const std::optional<qint64> pointerBefore = storedPointer(m_path);
            QVERIFY(pointerBefore);
            const QByteArray junk = test::garbageBytes(64 * 1024, 0x2545F491);
            const QString saved = m_path + QStringLiteral(".saved");

            // The fault.
            switch (fault) {
            case Fault::Deleted:
                // As a file manager does: the database only; its -wal and -shm stay.
                QVERIFY(QFile::remove(m_path));
                break;
            case Fault::ReadOnly:
                QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
                test::sqliteFaults().readOnly = true;
                break;
            case Fault::Garbage: {
                // The good file is kept aside under another name (the same
                // inode, so its -wal still belongs to it), and junk is moved
                // over the database's name as a copy tool replaces a file.
                QVERIFY(::link(QFile::encodeName(m_path).constData(), QFile::encodeName(saved).constData()) == 0);
                QFile f(m_path + QStringLiteral(".junk"));
                QVERIFY(f.open(QIODevice::WriteOnly));
                QCOMPARE(f.write(junk), junk.size());
                f.close();
                QCOMPARE(std::rename(qPrintable(m_path + QStringLiteral(".junk")), qPrintable(m_path)), 0);
                break;
            }
            case Fault::DiskFull:
                test::sqliteFaults().diskFull = true;
                break;
            }

            const qint64 appendsBefore = appends;
            const qint64 faultStart = reliability::clockSecondNow();
            reliability::holdFor(kFaultMs);
            m.faultSeconds = reliability::clockSecondNow() - faultStart;
            m.chartAppendsInFault = appends - appendsBefore;
            m.refused = test::refusedWrites() - refusedBefore;
            QVERIFY2(std::abs(m.chartAppendsInFault - m.faultSeconds) <= 1,
                     qPrintable(QStringLiteral("%1: %2 chart samples in %3 s").arg(m.name).arg(m.chartAppendsInFault).arg(m.faultSeconds)));

            // What the fault left.
            switch (fault) {
            case Fault::Deleted: {
                // A new file, and recording went on in it at once.
                const auto p = storedPointer(m_path);
                QVERIFY2(p, "a new database file");
                m.rowsInFault = *p;
                QVERIFY2(*p >= m.faultSeconds - 1, qPrintable(QStringLiteral("%1 rows in %2 s").arg(*p).arg(m.faultSeconds)));
                break;
            }
            case Fault::ReadOnly:
            case Fault::DiskFull:
                QVERIFY2(m.refused > 0, "the fault really refused writes");
                m.rowsInFault = storedPointer(m_path).value_or(-1) - *pointerBefore;
                QCOMPARE(storedPointer(m_path), pointerBefore);
                QCOMPARE(reliability::integrity(m_path), QStringLiteral("ok"));
                break;
            case Fault::Garbage: {
                // The junk is never written into: it is set aside with what
                // stood beside it, and recording went on in a fresh ring at
                // once. The good file kept under another name is sound.
                QStringList aside = QDir(dataDir()).entryList({QStringLiteral("Rdatabj.db.bad-*")}, QDir::Files);
                aside.removeIf([](const QString &n) { return n.endsWith(QLatin1String("-wal")) || n.endsWith(QLatin1String("-shm")); });
                QCOMPARE(aside.size(), 1);
                QCOMPARE(test::readFileBytes(QDir(dataDir()).filePath(aside.first())), junk);
                QCOMPARE(reliability::integrity(saved), QStringLiteral("ok"));
                const auto p = storedPointer(m_path);
                QVERIFY2(p, "a fresh database file");
                m.rowsInFault = *p;
                QVERIFY2(*p >= m.faultSeconds - 1, qPrintable(QStringLiteral("%1 rows in %2 s").arg(*p).arg(m.faultSeconds)));
                break;
            }
            }

            // Usable again.
            switch (fault) {
            case Fault::Deleted:
                break;
            case Fault::ReadOnly:
                test::sqliteFaults().readOnly = false;
                QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner));
                break;
            case Fault::Garbage:
                break;  // recording went on by itself
            case Fault::DiskFull:
                test::sqliteFaults().diskFull = false;
                break;
            }
            const std::optional<qint64> pointerUsable = storedPointer(m_path);
            QVERIFY(pointerUsable);
            QElapsedTimer resume;
            resume.start();
            QVERIFY2(reliability::waitFor([&] { return storedPointer(m_path) != pointerUsable; }, kResumeMs),
                     qPrintable(m.name + QStringLiteral(": recording did not resume")));
            m.resumeMs = resume.elapsed();

            // And records one row a second again.
            const qint64 p0 = *storedPointer(m_path);
            const qint64 s0 = reliability::clockSecondNow();
            reliability::holdFor(kHealthyMs);
            m.rowsHealthy = *storedPointer(m_path) - p0;
            m.healthySeconds = reliability::clockSecondNow() - s0;
            m.longestGapMs = probe.longestIntervalMs();
            results << m;
            QVERIFY2(std::abs(m.rowsHealthy - m.healthySeconds) <= 1,
                     qPrintable(QStringLiteral("%1: %2 rows in %3 s").arg(m.name).arg(m.rowsHealthy).arg(m.healthySeconds)));
            QCOMPARE(reliability::integrity(m_path), QStringLiteral("ok"));
            QVERIFY2(m.longestGapMs <= kGapBoundMs,
                     qPrintable(QStringLiteral("%1: the GUI thread went %2 ms without events").arg(m.name).arg(m.longestGapMs)));
            QVERIFY2(chartFault.isEmpty(), qPrintable(chartFault));
        }
        probe.stop();
        probe.setWatch({});
        driver.stop();

        for (const Measured &m : results)
            qInfo("%-20s longest GUI gap %4lld ms; fault %lld s: %lld chart samples, %lld rows, %d writes refused; "
                  "resumed after %4lld ms, then %lld rows in %lld s",
                  qPrintable(m.name), m.longestGapMs, m.faultSeconds, m.chartAppendsInFault, m.rowsInFault, m.refused,
                  m.resumeMs, m.rowsHealthy, m.healthySeconds);

        // No row is half-written: a sound file, every row one sample, samples
        // in clock order, the pointer on the newest row.
        QCOMPARE(reliability::integrity(m_path), QStringLiteral("ok"));
        const auto rows = reliability::readRows(m_path);
        QVERIFY(rows && !rows->isEmpty());
        QList<reliability::RecordedRow> byTime = *rows;
        std::sort(byTime.begin(), byTime.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
        int lastSample = -1;
        for (qsizetype k = 0; k < byTime.size(); ++k) {
            const auto &row = byTime[k];
            const int n = sampleOf(row);
            QVERIFY2(n >= 0, qPrintable(QStringLiteral("row %1 mixes samples: %2 %3 .. %4 %5 %6")
                                            .arg(row.id).arg(row.values[0]).arg(row.values[1]).arg(row.values[7])
                                            .arg(row.values[8]).arg(row.values[9])));
            if (k > 0) // (the message is built before the check, so only where a predecessor exists)
                QVERIFY2(row.second > byTime[k - 1].second,
                         qPrintable(QStringLiteral("rows %1 and %2 share a second").arg(byTime[k - 1].id).arg(row.id)));
            QVERIFY2(n > lastSample || (n == 0 && lastSample <= 0),
                     qPrintable(QStringLiteral("row %1 holds sample %2 after sample %3").arg(row.id).arg(n).arg(lastSample)));
            lastSample = n;
        }
        const auto pointer = reliability::storedPointer(m_path);
        QVERIFY(pointer);
        QCOMPARE(pointer->first, pointer->second);
        QCOMPARE(pointer->first, byTime.last().id);
        qInfo("%lld rows in the final file, ids %lld..%lld", qint64(rows->size()), rows->first().id, rows->last().id);

        w->findChild<QPushButton *>(QStringLiteral("Command10"))->click(); // 关闭
        ClosePort_Modbus(kPort);
    }
};

STATION_TEST_MAIN(TestDatabaseFaults)
#include "tst_database_faults.moc"
