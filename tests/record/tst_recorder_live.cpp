// Whether a stored row is live: its values come from a polling cycle whose
// live-sample reads (input registers 1..8 and the discrete inputs) were
// answered since the row before the previous one. The poller runs against a
// fake link; the recorder is ticked by hand on a clock the test moves.
#include "record/recorder.h"
#include "record/sampledb.h"

#include "link/poller.h"
#include "link/registerimage.h"
#include "tests/record/dbprobe.h"
#include "tests/record/manualclock.h"
#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QTest>

using namespace station;
using station::test::DbProbe;
using station::test::ManualClock;

namespace {

const QDate kDay(2024, 3, 16);

} // namespace

class TestRecorderLive : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(sampledb::defaultPath() + QLatin1String(suffix));
        sampleFlags() = SampleFlags{true, false};
    }

    // Per second the row is taken first, then that second's cycles run: P one
    // answered cycle, S a cycle the silent controller does not answer, . none
    // (before "打开", after "关闭").
    void liveState_data()
    {
        QTest::addColumn<QString>("cycles");
        QTest::addColumn<QString>("live");
        QTest::newRow("before the link is opened") << "...." << "0000";
        QTest::newRow("a healthy line") << "PPPPP" << "01111";
        QTest::newRow("the controller falls silent") << "PPSSSS" << "011100";
        QTest::newRow("a slow line: a cycle every other second") << "P.P.P." << "011111";
        QTest::newRow("the link closed, then opened again") << "P...PP" << "011001";
    }
    void liveState()
    {
        QFETCH(QString, cycles);
        QFETCH(QString, live);
        test::FakeLink link;
        Poller poller;
        ManualClock clock(kDay, QTime(15, 0, 0, 50));
        Recorder rec(clock, sampledb::defaultPath());
        rec.stop();
        for (const QChar c : cycles) {
            rec.tick();
            QVERIFY(rec.settle());
            link.readsFail = c == QLatin1Char('S');
            if (c != QLatin1Char('.'))
                QVERIFY(poller.runCycle());
            clock.advanceMs(1000);
        }
        link.readsFail = false;
        DbProbe db(sampledb::defaultPath());
        const auto rows = db.rows("SELECT w_live, w_utc FROM pv_data ORDER BY w_id");
        QVERIFY(rows);
        QString stored;
        for (const QVariantList &row : *rows)
            stored += row.at(0).toString();
        QCOMPARE(stored, live);
        QCOMPARE(rows->first().at(1).toLongLong(), QDateTime(kDay, QTime(15, 0, 0), Qt::UTC).toSecsSinceEpoch());
    }
};

STATION_TEST_MAIN_CORE(TestRecorderLive)
#include "tst_recorder_live.moc"
