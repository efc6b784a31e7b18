// The recorder on a database it cannot use: it keeps running, raises the
// new-sample flag each second, touches the file at most once a second, leaves
// what is there intact, and records again once the file is usable.
#include "record/recorder.h"
#include "record/sampledb.h"

#include "common/datadir.h"
#include "link/registerimage.h"
#include "tests/record/dbprobe.h"
#include "tests/record/manualclock.h"
#include "tests/support/sqlitefaults.h"
#include "tests/support/testenv.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <cstdio>
#include <memory>

using namespace station;
using station::test::DbProbe;
using station::test::ManualClock;

namespace {

enum class Fault { Directory, ParentIsFile, ReadOnly, Locked, DiskFull };

const QDate kDay(2024, 7, 1);

double fractionOf(const QTime &t)
{
    return (t.hour() * 3600 + t.minute() * 60 + t.second()) / 86400.0;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestRecorderFaults : public QObject {
    Q_OBJECT

private:
    QString m_path;

    static bool takeFlag()
    {
        const bool raised = sampleFlags().newSample;
        sampleFlags().newSample = false;
        return raised;
    }
    // One clock second of ten ticks.
    static void runSecond(Recorder &r, ManualClock &clock)
    {
        for (int i = 0; i < 10; ++i) {
            r.tick();
            QVERIFY(r.settle());
            clock.advanceMs(Recorder::kTickMs);
        }
    }
    void removeFiles()
    {
        const QString dir = dataDir();
        QFile::setPermissions(QDir(dir).filePath(sampledb::kFileName),
                              QFile::ReadOwner | QFile::WriteOwner);
        QDir(QDir(dir).filePath(sampledb::kFileName)).removeRecursively();
        for (const char *name : {"Rdatabj.db", "Rdatabj.db-wal", "Rdatabj.db-shm", "blocked"})
            QFile::remove(QDir(dir).filePath(QLatin1String(name)));
        QDir(QDir(dir).filePath("blocked")).removeRecursively();
    }

private slots:
    void initTestCase()
    {
        test::installSqliteFaults();
    }

    void init()
    {
        removeFiles();
        test::sqliteFaults() = test::SqliteFaults{};
        sampleFlags() = SampleFlags{true, false};
        registerImage().liveSample = {};
        m_path = sampledb::defaultPath();
    }

    void cleanup()
    {
        sampledb::closeMainWindowConnection();
        test::sqliteFaults() = test::SqliteFaults{};
        removeFiles();
    }

    void unusableDatabase_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("resumeId");  // the id written once the file is usable again
        QTest::addColumn<bool>("journal");  // the journal's table and rows wait in the -wal: the file must grow
        QTest::newRow("path is a folder") << Fault::Directory << 1 << false;
        QTest::newRow("folder cannot be created") << Fault::ParentIsFile << 1 << false;
        QTest::newRow("read-only file") << Fault::ReadOnly << 4 << false;
        QTest::newRow("locked by another writer") << Fault::Locked << 4 << false;
        QTest::newRow("disk full") << Fault::DiskFull << 4 << false;
        QTest::newRow("disk full, new pages in the -wal") << Fault::DiskFull << 4 << true;
    }
    void unusableDatabase()
    {
        QFETCH(Fault, fault);
        QFETCH(int, resumeId);
        QFETCH(bool, journal);
        const QString dir = dataDir();
        if (fault == Fault::ParentIsFile)
            m_path = QDir(dir).filePath("blocked/Rdatabj.db");

        // Faults that are there before the recorder starts.
        switch (fault) {
        case Fault::Directory:
            QVERIFY(QDir().mkdir(m_path));
            break;
        case Fault::ParentIsFile: {
            QFile f(QDir(dir).filePath("blocked"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            break;
        }
        case Fault::ReadOnly:
            QVERIFY(test::writeDatabase(m_path, 3));
            QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
            test::sqliteFaults().readOnly = true;  // mode bits do not stop root
            break;
        case Fault::Locked:
        case Fault::DiskFull:
            break;
        }

        ManualClock clock(kDay, QTime(20, 0, 0, 50));
        registerImage().liveSample = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        Recorder rec(clock, m_path);
        rec.stop();
        if (journal)
            rec.startJournal({});
        QVERIFY(rec.settle());

        // Faults that arrive while it records.
        std::unique_ptr<DbProbe> locker;
        if (fault == Fault::Locked || fault == Fault::DiskFull) {
            for (int s = 0; s < 3; ++s)
                runSecond(rec, clock);
            QCOMPARE(rec.pointer(), 3);
            takeFlag();
            if (fault == Fault::Locked) {
                locker = std::make_unique<DbProbe>(m_path);
                QVERIFY(locker->exec("BEGIN IMMEDIATE"));
                QVERIFY(locker->exec("UPDATE sl_void SET sl_spare=sl_spare"));
            } else {
                test::sqliteFaults().diskFull = true;
            }
        }

        test::watchOpens(m_path);
        for (int s = 1; s <= 3; ++s) {
            runSecond(rec, clock);
            QVERIFY2(takeFlag(), "the flag is raised each second");
            QVERIFY2(test::watchedOpens() <= s, "at most one open attempt a second");
        }

        // Nothing was written, nothing was damaged.
        switch (fault) {
        case Fault::Directory:
            QVERIFY(QFileInfo(m_path).isDir());
            break;
        case Fault::ParentIsFile:
            QVERIFY(!QFileInfo::exists(m_path));
            break;
        case Fault::ReadOnly: {
            // The main window still shows the history, read-only.
            QSqlQuery q(sampledb::openMainWindowConnection());
            QVERIFY(q.exec(sampledb::kSelectControl) && q.next());
            QCOMPARE(q.value(0).toInt(), 3);
        }
            [[fallthrough]];
        case Fault::Locked:
        case Fault::DiskFull: {
            DbProbe db(m_path);
            QCOMPARE(db.control()->mid(0, 2), QVariantList({3, 3}));
            QCOMPARE(db.rowCount(), fault == Fault::ReadOnly ? 0 : 3);
            QCOMPARE(db.integrity(), QString("ok"));
            break;
        }
        }

        // The file becomes usable again.
        switch (fault) {
        case Fault::Directory:
            QVERIFY(QDir().rmdir(m_path));
            break;
        case Fault::ParentIsFile:
            QVERIFY(QFile::remove(QDir(dir).filePath("blocked")));
            break;
        case Fault::ReadOnly:
            test::sqliteFaults().readOnly = false;
            QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner));
            break;
        case Fault::Locked:
            QVERIFY(locker->exec("ROLLBACK"));
            locker.reset();
            break;
        case Fault::DiskFull:
            test::sqliteFaults().diskFull = false;
            break;
        }
        registerImage().liveSample = {11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
        const QTime resumeSecond = clock.now().time();
        runSecond(rec, clock);
        QVERIFY(takeFlag());
        QCOMPARE(rec.pointer(), resumeId);

        DbProbe db(m_path);
        QVERIFY2(db.isOpen(), qPrintable(db.error()));
        QCOMPARE(db.integrity(), QString("ok"));
        QCOMPARE(db.control()->mid(0, 2), QVariantList({resumeId, resumeId}));
        const auto row = db.row(resumeId);
        QVERIFY(row);
        QCOMPARE(row->time, fractionOf(resumeSecond));
        for (int i = 0; i < 10; ++i)
            QCOMPARE(row->values[size_t(i)], 11.0 + i);
    }

    // Commits slower than the sampling: the GUI thread hands each second's
    // sample over and goes on; the samples wait in order and every one is
    // stored with its own second; the flag of a sample still waiting is
    // raised when the next is taken.
    void slowDiskKeepsEverySecondInOrder()
    {
        ManualClock clock(kDay, QTime(19, 0, 0, 50));
        Recorder rec(clock, m_path);
        rec.stop();
        QVERIFY(rec.settle());
        test::sqliteFaults().slowSyncMs = 150;  // a commit syncs once
        constexpr int kSeconds = 4;
        int flags = 0;
        for (int s = 0; s < kSeconds; ++s) {
            registerImage().liveSample.fill(float(10 * (s + 1)));
            rec.tick();  // the first tick of the second takes the sample
            flags += takeFlag() ? 1 : 0;
            clock.advanceMs(1000);
        }
        QCOMPARE(rec.waiting(), kSeconds);
        QCOMPARE(flags, kSeconds - 1);  // each for the sample before
        {
            // The ticks did not wait for the commits (150 ms each at least).
            DbProbe db(m_path);
            QVERIFY2(db.pointer() <= kSeconds - 2, qPrintable(QString::number(db.pointer())));
        }
        QVERIFY(rec.settle());
        QCOMPARE(rec.waiting(), 0);
        QCOMPARE(flags + (takeFlag() ? 1 : 0), kSeconds);
        test::sqliteFaults().slowSyncMs = 0;
        DbProbe db(m_path);
        QCOMPARE(db.control()->mid(0, 2), QVariantList({kSeconds, kSeconds}));
        for (int s = 0; s < kSeconds; ++s) {
            QCOMPARE(db.row(s + 1)->time, fractionOf(QTime(19, 0, s)));
            QCOMPARE(db.row(s + 1)->values[0], 10.0 * (s + 1));
        }
    }

    // A disk that holds a commit past the slow-commit time is told, samples
    // beyond the queue's bound are dropped and told, and the recovery is told
    // with the seconds lost; the samples that waited are stored in order.
    void stuckDiskIsToldAndBounded()
    {
        ManualClock clock(kDay, QTime(19, 30, 0, 50));
        Recorder rec(clock, m_path);
        rec.stop();
        QVERIFY(rec.settle());
        rec.setSlowCommitMs(100);
        rec.setQueueLimit(2);
        QSignalSpy health(&rec, &Recorder::healthChanged);
        const auto told = [&health](RecorderHealthKind kind) {
            for (const QList<QVariant> &args : health)
                if (args.at(0).value<RecorderHealth>().kind == kind)
                    return args.at(0).value<RecorderHealth>().details;
            return QString();
        };
        test::sqliteFaults().slowSyncMs = 400;
        rec.tick();  // the sample of 19:30:00, whose commit now takes 400 ms
        // The ticks of the same second take no sample but watch the commit.
        QTRY_VERIFY_WITH_TIMEOUT((rec.tick(), !told(RecorderHealthKind::DiskSlow).isEmpty()), 5000);
        for (int s = 1; s <= 2; ++s) {
            clock.advanceMs(1000);
            rec.tick();
        }
        QVERIFY(told(RecorderHealthKind::SamplesDropped).contains("19:30:02"));
        QVERIFY(rec.settle());
        test::sqliteFaults().slowSyncMs = 0;
        QCOMPARE(told(RecorderHealthKind::DiskRecovered), QString("seconds not recorded: 1"));
        DbProbe db(m_path);
        QCOMPARE(db.control()->mid(0, 2), QVariantList({2, 2}));
        QCOMPARE(db.row(2)->time, fractionOf(QTime(19, 30, 1)));
    }

    void deletedWhileRunning_data()
    {
        QTest::addColumn<bool>("withWal");
        QTest::newRow("database file only") << false;
        QTest::newRow("database, -wal and -shm") << true;
    }
    void deletedWhileRunning()
    {
        QFETCH(bool, withWal);
        ManualClock clock(kDay, QTime(21, 0, 0, 50));
        Recorder rec(clock, m_path);
        rec.stop();
        QVERIFY(rec.settle());
        for (int s = 0; s < 3; ++s)
            runSecond(rec, clock);
        QCOMPARE(rec.pointer(), 3);
        takeFlag();
        // The main window's connection is open on the same file.
        {
            QSqlQuery q(sampledb::openMainWindowConnection());
            QVERIFY(q.exec(sampledb::kSelectControl) && q.next());
            QCOMPARE(q.value(0).toInt(), 3);
        }

        QVERIFY(QFile::remove(m_path));
        if (withWal) {
            QFile::remove(m_path + "-wal");
            QFile::remove(m_path + "-shm");
        }
        registerImage().liveSample = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
        const QTime recreated = clock.now().time();
        runSecond(rec, clock);
        QVERIFY(takeFlag());
        QVERIFY(QFile::exists(m_path));
        QCOMPARE(rec.pointer(), 1);  // a new file starts a new ring
        {
            DbProbe db(m_path);
            QCOMPARE(db.integrity(), QString("ok"));
            QCOMPARE(db.control()->mid(0, 2), QVariantList({1, 1}));
            QCOMPARE(db.row(1)->time, fractionOf(recreated));
            QCOMPARE(db.row(1)->values[0], 5.0);
        }

        // The main window's connection, still on the deleted file, closes: the
        // new file's WAL must survive that.
        sampledb::closeMainWindowConnection();
        runSecond(rec, clock);
        runSecond(rec, clock);
        QCOMPARE(rec.pointer(), 3);
        {
            DbProbe db(m_path);
            QCOMPARE(db.integrity(), QString("ok"));
            QCOMPARE(db.pointer(), 3);
            QCOMPARE(db.rowCount(), 3);
        }
        // And opened again it reads the new file.
        QSqlQuery q(sampledb::openMainWindowConnection());
        QVERIFY(q.exec(sampledb::kSelectControl) && q.next());
        QCOMPARE(q.value(0).toInt(), 3);
        q = QSqlQuery();
        sampledb::closeMainWindowConnection();
    }

    // Another database renamed over the file while the station records (mv,
    // rsync, a restore), with the main window's connection open on the old
    // file and reconnecting as its history loads do: no row stored in the new
    // file is lost, whichever connection notices the replacement first.
    void replacedByRenameLosesNoRow_data()
    {
        QTest::addColumn<bool>("mainWindowFirst");
        QTest::newRow("the recorder notices first") << false;
        QTest::newRow("the main window notices first") << true;
    }
    void replacedByRenameLosesNoRow()
    {
        QFETCH(bool, mainWindowFirst);
        ManualClock clock(kDay, QTime(22, 0, 0, 50));
        Recorder rec(clock, m_path);
        rec.stop();
        QVERIFY(rec.settle());
        const auto mainWindowPointer = [] {
            QSqlQuery q(sampledb::openMainWindowConnection());
            return q.exec(sampledb::kSelectControl) && q.next() ? q.value(0).toInt() : -1;
        };
        for (int s = 0; s < 3; ++s)
            runSecond(rec, clock);
        QCOMPARE(mainWindowPointer(), 3);

        QVERIFY(test::writeDatabase(m_path + ".other", 10, 1, 10, 2));
        QCOMPARE(std::rename(qPrintable(m_path + ".other"), qPrintable(m_path)), 0);
        if (mainWindowFirst)
            QCOMPARE(mainWindowPointer(), 10);
        for (int s = 1; s <= 20; ++s) {
            runSecond(rec, clock);
            if (s % 5 == 0)  // the live view's reloads
                QCOMPARE(mainWindowPointer(), 10 + s);
        }
        QCOMPARE(rec.pointer(), 30);
        sampledb::closeMainWindowConnection();
        {
            DbProbe db(m_path);
            QCOMPARE(db.integrity(), QString("ok"));
            QCOMPARE(db.control()->mid(0, 2), QVariantList({30, 30}));
            QCOMPARE(db.rowCount(), 30);
            QCOMPARE(db.scalar("SELECT count(*) FROM pv_data WHERE w_id > 10 AND v0 <> 2").toInt(), 20);
        }
    }

    // A killed run left -wal and -shm behind, and the folder is read-only (a
    // read-only mount: the -shm cannot be opened for writing either). The
    // main window still pages the history, the recorder stores nothing and
    // keeps trying, and once the folder is writable again it records on.
    void readOnlyAfterAKilledRun()
    {
        {
            // Five rows that live only in the WAL, frozen as a kill leaves them.
            QVERIFY(sampledb::create(m_path));
            DbProbe run(m_path);
            QVERIFY(run.exec("PRAGMA wal_autocheckpoint=0"));
            QVERIFY(run.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<5)"
                             " INSERT INTO pv_data SELECT i, 45000, i / 86400.0, 1,2,3,4,5,6,7,8,9,10 FROM n;"
                             "UPDATE sl_void SET sl_pointer=5, sl_copy=5"));
            QVERIFY(run.endAsKilled(true));
        }
        QVERIFY(QFileInfo(m_path + "-wal").size() > 0);
        test::sqliteFaults().readOnly = true;
        test::sqliteFaults().readOnlyIndex = true;

        const auto view = [] {
            QSqlQuery q(sampledb::openMainWindowConnection());
            if (!q.exec(sampledb::kSelectControl) || !q.next())
                return QVariantList();
            const int pointer = q.value(0).toInt();
            if (!q.exec("select count(*) from pv_data") || !q.next())
                return QVariantList();
            return QVariantList({pointer, q.value(0).toInt()});
        };
        QCOMPARE(view(), QVariantList({5, 5}));

        ManualClock clock(kDay, QTime(23, 0, 0, 50));
        registerImage().liveSample = {3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
        Recorder rec(clock, m_path);
        rec.stop();
        QVERIFY(rec.settle());
        for (int s = 1; s <= 3; ++s) {
            runSecond(rec, clock);
            QVERIFY(takeFlag());
            QCOMPARE(view(), QVariantList({5, 5}));  // viewed between the recorder's attempts
        }
        QCOMPARE(rec.pointer(), 5);

        test::sqliteFaults() = test::SqliteFaults{};
        runSecond(rec, clock);
        QCOMPARE(rec.pointer(), 6);
        runSecond(rec, clock);
        QCOMPARE(rec.pointer(), 7);
        QCOMPARE(view(), QVariantList({7, 7}));
        sampledb::closeMainWindowConnection();
        DbProbe db(m_path);
        QCOMPARE(db.integrity(), QString("ok"));
        QCOMPARE(db.control()->mid(0, 2), QVariantList({7, 7}));
        QCOMPARE(db.row(6)->values[0], 3.0);
    }

    void mainWindowConnectionFollowsAReplacedFile()
    {
        QVERIFY(test::writeDatabase(m_path, 7));
        {
            QSqlQuery q(sampledb::openMainWindowConnection());
            QVERIFY(q.exec(sampledb::kSelectControl) && q.next());
            QCOMPARE(q.value(0).toInt(), 7);
        }
        QVERIFY(test::writeDatabase(m_path + ".new2", 99));
        QCOMPARE(std::rename(qPrintable(m_path + ".new2"), qPrintable(m_path)), 0);
        QSqlQuery q(sampledb::openMainWindowConnection());
        QVERIFY(q.exec(sampledb::kSelectControl) && q.next());
        QCOMPARE(q.value(0).toInt(), 99);
        q = QSqlQuery();
        sampledb::closeMainWindowConnection();
    }
};

STATION_TEST_MAIN_CORE(TestRecorderFaults)
#include "tst_recorder_faults.moc"
