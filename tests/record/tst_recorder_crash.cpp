// Crash safety: a child process records on a slow disk (every sync takes
// kCrashSyncMs) as fast as its commits allow and is killed (SIGKILL) at a
// random moment, 60 times over the same file, most often while a commit is
// under way on the recorder thread. After every kill the database must pass
// its integrity check, hold exactly one sl_void row whose two pointer copies
// agree, and the pointer must name a row whose date, time and ten values all
// come from one write. No committed row may be lost: the pointer is at least
// the last row the child reported stored before it died. The ring only moves
// forward.
//
// The kill moments come from a seeded generator; the seed is printed, and
// STATION_CRASH_SEED=<n> repeats a run.
#include "record/sampledb.h"

#include "common/datenum.h"
#include "tests/record/crashsample.h"
#include "tests/record/dbprobe.h"
#include "tests/support/testenv.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

using namespace station;
using station::test::DbProbe;

namespace {

constexpr int kRounds = 60;
// The checks below assume the ring never wraps during the test.
static_assert(kRounds * test::kCrashRowsPerRun < sampledb::kRingSize);
constexpr int kEarlyKillEvery = 5;   // every 5th round dies during start-up
constexpr int kMaxKillDelayMs = 100;

} // namespace

class TestRecorderCrash : public QObject {
    Q_OBJECT

private slots:
    void killedAtRandomMomentsLeavesAConsistentRing()
    {
        const QString path = sampledb::defaultPath();
        for (const char *suffix : {"", "-wal", "-shm", ".new"})
            QFile::remove(path + QLatin1String(suffix));

        const quint32 seed = qEnvironmentVariableIsSet("STATION_CRASH_SEED")
            ? quint32(qEnvironmentVariableIntValue("STATION_CRASH_SEED"))
            : 20240611u;
        qInfo("crash test seed %u", seed);
        QRandomGenerator rng(seed);

        const double baseDay = dayNumber(test::crashSampleTime(0).date());
        QString rowMismatch = QStringLiteral(
            "SELECT count(*) FROM pv_data WHERE v0 <> 10 * CAST(v0 / 10 AS INTEGER)");
        for (int k = 1; k < 10; ++k)
            rowMismatch += QStringLiteral(" OR v%1 <> v0 + %1").arg(k);
        // The date and time of a row are those of its sample number.
        rowMismatch += QStringLiteral(" OR abs((w_date - %1) * 86400 + w_time * 86400 - v0 / 10) > 0.001")
                           .arg(baseDay, 0, 'f', 1);
        const QString orderMismatch = QStringLiteral(
            "SELECT count(*) FROM pv_data a JOIN pv_data b ON b.w_id = a.w_id + 1 WHERE b.v0 <= a.v0");

        QElapsedTimer elapsed;
        elapsed.start();
        qint64 lastPointer = 0;
        bool fileSeen = false;
        int roundsThatWrote = 0;

        for (int round = 0; round < kRounds; ++round) {
            const bool early = round % kEarlyKillEvery == 1;
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QStringLiteral(RECORD_CRASH_CHILD),
                        {QString::number(round * test::kCrashSamplesPerRun)});
            QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
            if (!early) {
                const QDeadlineTimer deadline(10000);
                while (!child.canReadLine() && !deadline.hasExpired())
                    child.waitForReadyRead(int(deadline.remainingTime()));
                QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
            }
            // The kill moment itself is what the test varies.
            QThread::msleep(early ? rng.bounded(30) : rng.bounded(5, kMaxKillDelayMs));
            QCOMPARE(child.state(), QProcess::Running);
            child.kill();
            QVERIFY(child.waitForFinished(5000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            // What it printed before it died: the rows whose commit had come back.
            qint64 lastStored = 0;
            for (const QByteArray &line : child.readAllStandardOutput().split('\n'))
                if (line.startsWith("stored "))
                    lastStored = std::max(lastStored, line.mid(7).toLongLong());

            const QString where = QStringLiteral("round %1").arg(round);
            if (!QFile::exists(path)) {
                // Killed before its first creation finished: nothing half made.
                QVERIFY2(!fileSeen, qPrintable(where + ": the database vanished"));
                continue;
            }
            fileSeen = true;
            DbProbe db(path);
            QVERIFY2(db.isOpen(), qPrintable(where + ": " + db.error()));
            QCOMPARE(db.integrity(), QString("ok"));
            QCOMPARE(db.scalar("SELECT count(*) FROM sl_void").toInt(), 1);
            const auto control = db.control();
            QVERIFY(control);
            const qint64 pointer = control->at(0).toLongLong();
            QCOMPARE(control->at(1).toLongLong(), pointer);
            QVERIFY2(pointer >= lastPointer, qPrintable(where + ": the ring went back"));
            QVERIFY2(pointer >= lastStored, qPrintable(where + QStringLiteral(": row %1 was reported stored, the "
                                                                              "pointer stands at %2").arg(lastStored).arg(pointer)));
            QCOMPARE(db.rowCount(), pointer);  // ids 1..pointer, none lost, none extra
            QCOMPARE(db.scalar(rowMismatch).toInt(), 0);
            QCOMPARE(db.scalar(orderMismatch).toInt(), 0);
            if (pointer > 0) {
                const auto newest = db.row(pointer);
                QVERIFY(newest);
                const qint64 n = qint64(newest->values[0]) / 10;
                const auto expected = test::crashSampleValues(n);
                for (int k = 0; k < 10; ++k)
                    QCOMPARE(newest->values[size_t(k)], double(expected[size_t(k)]));
                QCOMPARE(newest->date, dayNumber(test::crashSampleTime(n).date()));
                QCOMPARE(newest->time, dayFraction(test::crashSampleTime(n).time()));
            }
            if (pointer > lastPointer)
                ++roundsThatWrote;
            lastPointer = pointer;
        }
        qInfo("%d rounds, %d of them killed while writing, %lld rows, %lld ms", kRounds, roundsThatWrote,
              lastPointer, qint64(elapsed.elapsed()));
        // Most kills must have hit a child that was writing, or the test proved little.
        QVERIFY(roundsThatWrote >= kRounds / 2);
        QVERIFY(lastPointer <= kRounds * test::kCrashRowsPerRun);
    }
};

STATION_TEST_MAIN_CORE(TestRecorderCrash)
#include "tst_recorder_crash.moc"
