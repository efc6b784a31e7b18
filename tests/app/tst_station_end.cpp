// The station's end and what it remembers, in one process with a fake link:
// "退出" saves first (the WAL folded into Rdatabj.db), then lets the queued
// writes out; a successful "打开" is kept for --resume, an unanswered one is not.
#include "app/connectionpanel.h"
#include "app/lastopen.h"
#include "app/mainwindow.h"
#include "app/station.h"

#include "common/datadir.h"
#include "link/linkstate.h"
#include "link/registerimage.h"
#include "record/recorder.h"
#include "record/recorderhealth.h"

#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

using namespace station;
using test::FakeLink;
using test::LinkCall;
using test::LinkOp;

class TestStationEnd : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        linkSettings() = LinkSettings{};
        sampleFlags() = SampleFlags{};
    }

    // Moved here from the main window's tests when the end moved into the
    // station: the writes queued at "退出" still reach the line, but only once
    // the WAL is folded (a signal's end on a slow line saves first). The
    // recorder's end folds the WAL and closes the last connection, which
    // removes the -wal; while it records, the -wal is there (32 bytes of
    // header at the least).
    void exitSavesFirstThenLetsQueuedWritesOut()
    {
        const QString wal = dataDir() + QStringLiteral("/Rdatabj.db-wal");
        FakeLink fake;
        std::atomic<bool> ending{false};
        std::atomic<qint64> walAtLastWrite{-2};  // -1: no -wal
        fake.beforeCall = [&](const LinkCall &call) {
            if (call.op != LinkOp::Write)
                return;
            // The first write is on the line when the end begins.
            const QDeadlineTimer deadline(8000);
            while (call.first == 3 && !ending && !deadline.hasExpired())
                QThread::msleep(1);
            if (call.first == 257) {
                const QFileInfo file(wal);
                walAtLastWrite = file.exists() ? file.size() : -1;
            }
        };
        Station station;
        QSignalSpy started(&station, &Station::started);
        connect(&station, &Station::ending, this, [&ending] { ending = true; });
        station.start();
        station.splash()->timer1().setInterval(1);
        QVERIFY(started.wait(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(wal).size() > 0, 5000);  // rows only in the WAL

        writeWithRetry(3, 1);
        writeWithRetry(257, 5);
        MainWindow *w = station.mainWindow();
        QTimer::singleShot(0, w, [w] { w->exitProgram(); });
        QTimer failsafe;
        failsafe.setSingleShot(true);
        connect(&failsafe, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        failsafe.start(8000);
        QCOMPARE(QCoreApplication::exec(), 0);
        // No settle: the end itself waited.
        QCOMPARE(fake.calls, (QList<LinkCall>{{LinkOp::Write, 0, 0, 3, 1}, {LinkOp::Write, 0, 0, 257, 5}}));
        QCOMPARE(walAtLastWrite.load(), qint64(-1));
        QVERIFY(station.endReport() && station.endReport()->walFolded);
        QCOMPARE(station.endReport()->way, EndWay::Command);
    }

    void aSuccessfulOpenIsKeptForResume()
    {
        QTemporaryDir config;
        const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        FakeLink fake;
        fake.readsFail = true;
        Station station;
        QSignalSpy started(&station, &Station::started);
        station.start();
        station.splash()->timer1().setInterval(1);
        QVERIFY(started.wait(5000));
        ConnectionPanel *panel = station.mainWindow()->connectionPanel();

        // What the recorder says about itself goes under the link state's tooltip.
        const RecorderHealth slow = recorderHealth(RecorderHealthKind::DiskSlow, QStringLiteral("a commit of 2 s"));
        emit static_cast<Recorder *>(station.recorder())->healthChanged(slow);
        QVERIFY2(panel->linkStateLabel()->toolTip().contains(slow.text), qPrintable(panel->linkStateLabel()->toolTip()));

        // The controls show what --resume chose.
        const LinkSettings chosen{3, 2, 2, 7, 0};
        panel->choose(chosen);
        const LinkSettings shown = panel->chosenSettings();
        QCOMPARE((QList<int>{shown.port, shown.baudCode, shown.parityCode, shown.station}), (QList<int>{3, 2, 2, 7}));

        // Unanswered: nothing kept.
        panel->openButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel->linkStateLabel()->text(), link::linkStateText(link::LinkState::Lost), 5000);
        QVERIFY(!loadLastOpen());
        QVERIFY(!QFileInfo::exists(lastOpenPath()));

        // Answered: kept, as chosen.
        fake.readsFail = false;
        QTRY_VERIFY_WITH_TIMEOUT(loadLastOpen().has_value(), 5000);
        const LinkSettings kept = *loadLastOpen();
        QCOMPARE((QList<int>{kept.port, kept.baudCode, kept.parityCode, kept.station}), (QList<int>{3, 2, 2, 7}));
        station.shutDown();
        qputenv("XDG_CONFIG_HOME", configHome);
    }
};

STATION_TEST_MAIN(TestStationEnd)
#include "tst_station_end.moc"
