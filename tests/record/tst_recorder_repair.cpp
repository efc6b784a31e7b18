// The recorder on a file it cannot use as a sample database: it sets the whole
// set aside under a dated name (never deleted), starts a fresh ring and
// records on within the same second; it goes on after its last row when the
// pointer row vanishes; it replaces a read-only -shm that only it uses; it
// never checkpoints into an empty or overwritten file; and its end waits,
// bounded, for a reader to leave so that one file holds every row.
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
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <future>
#include <sqlite3.h>
#include <thread>

using namespace station;
using station::test::DbProbe;
using station::test::ManualClock;

namespace {

const QDate kDay(2024, 7, 2);

enum class Damage {
    Garbage,          // not a database, there at the start
    Empty,            // 0 bytes at the start
    GarbageInPlace,   // overwritten with garbage while recording (same file)
    TruncatedInPlace, // truncated to nothing while recording
    RestoredOverWal,  // an older backup copied over a killed run's file, its -wal beside
    CopiedOver,       // another database copied over the live file while recording
};

double fractionOf(const QTime &t)
{
    return (t.hour() * 3600 + t.minute() * 60 + t.second()) / 86400.0;
}

bool takeFlag()
{
    const bool raised = sampleFlags().newSample;
    sampleFlags().newSample = false;
    return raised;
}

void runSecond(Recorder &r, ManualClock &clock)
{
    for (int i = 0; i < 10; ++i) {
        r.tick();
        QVERIFY(r.settle());
        clock.advanceMs(Recorder::kTickMs);
    }
}

// Writes bytes over the file in place (the same inode, as cp does), to their length.
bool overwriteInPlace(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.write(bytes) == bytes.size() && f.resize(bytes.size());
}

// The sets set aside in the data folder, by the name of their file.
QStringList badSets()
{
    QStringList sets;
    for (const QString &name : QDir(dataDir()).entryList({QStringLiteral("Rdatabj.db.bad-*")}, QDir::Files))
        if (!name.endsWith(QLatin1String("-wal")) && !name.endsWith(QLatin1String("-shm")))
            sets << QDir(dataDir()).filePath(name);
    return sets;
}

QList<RecorderHealthKind> kinds(const QSignalSpy &spy)
{
    QList<RecorderHealthKind> result;
    for (const QList<QVariant> &args : spy)
        result << args.at(0).value<RecorderHealth>().kind;
    return result;
}

// A ring of 3000 rows, checkpointed, whose copy then is `backup`; the ring
// then goes on (500 more rows, 499 changed, a checkpoint, 60 rows in the
// -wal) until it is killed: the file, its -wal and its -shm as the kill left
// them. Returns the -wal's bytes.
QByteArray killedRingWithOlderBackup(const QString &path, const QString &backup)
{
    const auto rows = [](int first, int last) {
        return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i+1 FROM n WHERE i<%2)"
                              " INSERT INTO pv_data SELECT i, 45000, i / 86400.0, i,i,i,i,i,i,i,i,i,i FROM n;")
            .arg(first)
            .arg(last);
    };
    if (!sampledb::create(path))
        return {};
    QByteArray wal;
    {
        DbProbe run(path);
        if (!run.exec("PRAGMA wal_autocheckpoint=0") || !run.exec(rows(1, 3000))
            || !run.exec("UPDATE sl_void SET sl_pointer=3000, sl_copy=3000; PRAGMA wal_checkpoint(TRUNCATE)")
            || !QFile::copy(path, backup) || !run.exec(rows(3001, 3500))
            || !run.exec("UPDATE pv_data SET v0=-1 WHERE w_id<500; PRAGMA wal_checkpoint(PASSIVE)")
            || !run.exec(rows(3501, 3560)) || !run.exec("UPDATE sl_void SET sl_pointer=3560, sl_copy=3560"))
            return {};
        wal = test::readFileBytes(path + "-wal");
        if (!run.endAsKilled(true))
            return {};
    }
    return wal;
}

} // namespace

Q_DECLARE_METATYPE(Damage)

class TestRecorderRepair : public QObject {
    Q_OBJECT

private:
    QString m_path;

    void removeFiles()
    {
        QDir dir(dataDir());
        for (const QString &name : dir.entryList({QStringLiteral("Rdatabj*"), QStringLiteral("backup*"),
                                                 QStringLiteral("other*")},
                                                QDir::Files)) {
            QFile::setPermissions(dir.filePath(name), QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(dir.filePath(name));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(dataDir()));
        test::installSqliteFaults(dataDir());
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

    void unusableFileIsSetAside_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::newRow("not a database") << Damage::Garbage;
        QTest::newRow("an empty file") << Damage::Empty;
        QTest::newRow("overwritten with garbage while recording") << Damage::GarbageInPlace;
        QTest::newRow("truncated to nothing while recording") << Damage::TruncatedInPlace;
        QTest::newRow("a backup restored over a killed run's -wal") << Damage::RestoredOverWal;
        QTest::newRow("another database copied over the live file") << Damage::CopiedOver;
    }
    void unusableFileIsSetAside()
    {
        QFETCH(Damage, damage);
        const QByteArray junk = test::garbageBytes(8192);
        const QString other = QDir(dataDir()).filePath("other.db");
        QByteArray asideBytes;  // what the file set aside must hold
        QByteArray asideWal;    // and its -wal, when known beforehand
        switch (damage) {
        case Damage::Garbage:
            QVERIFY(overwriteInPlace(m_path, junk));
            asideBytes = junk;
            break;
        case Damage::Empty:
            QVERIFY(overwriteInPlace(m_path, {}));
            break;
        case Damage::RestoredOverWal:
            asideWal = killedRingWithOlderBackup(m_path, other);
            QVERIFY(!asideWal.isEmpty());
            asideBytes = test::readFileBytes(other);
            QVERIFY(overwriteInPlace(m_path, asideBytes));  // cp backup.db Rdatabj.db
            break;
        case Damage::CopiedOver:
            QVERIFY(test::writeDatabase(m_path, 3000, 1, 3000, 7));
            break;
        case Damage::GarbageInPlace:
        case Damage::TruncatedInPlace:
            break;
        }

        ManualClock clock(kDay, QTime(9, 0, 0, 50));
        registerImage().liveSample = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
        Recorder rec(clock, m_path);
        QSignalSpy health(&rec, &Recorder::healthChanged);
        rec.stop();
        rec.startJournal({});
        QVERIFY(rec.settle());
        const bool whileRecording = damage == Damage::GarbageInPlace || damage == Damage::TruncatedInPlace
            || damage == Damage::CopiedOver;
        if (whileRecording) {
            for (int s = 0; s < 3; ++s)
                runSecond(rec, clock);
            QVERIFY(rec.pointer() > 0);
            QVERIFY(QFileInfo(m_path + "-wal").size() > 0);  // the rows wait in the -wal
            QVERIFY(badSets().isEmpty());
            switch (damage) {
            case Damage::GarbageInPlace:
                asideBytes = junk;
                break;
            case Damage::CopiedOver:
                QVERIFY(test::writeDatabase(other, 20, 1, 20, 2));
                asideBytes = test::readFileBytes(other);
                break;
            default:
                break;
            }
            QVERIFY(overwriteInPlace(m_path, asideBytes));
            takeFlag();
        }

        // Within the next second: the set aside, a fresh ring, this second's row in it.
        const QTime second = clock.now().time();
        runSecond(rec, clock);
        QVERIFY(takeFlag());
        QCOMPARE(rec.pointer(), 1);
        const QStringList aside = badSets();
        QCOMPARE(aside.size(), 1);
        QVERIFY2(QFileInfo(aside.first()).fileName().startsWith("Rdatabj.db.bad-20240702-09000"),
                 qPrintable(aside.first()));
        QCOMPARE(test::readFileBytes(aside.first()), asideBytes);
        if (!asideWal.isEmpty())
            QCOMPARE(test::readFileBytes(aside.first() + "-wal"), asideWal);
        if (whileRecording)
            QVERIFY(QFileInfo(aside.first() + "-wal").size() > 0);  // the rows of the -wal kept with it
        QVERIFY(kinds(health).contains(RecorderHealthKind::FileSetAside));
        runSecond(rec, clock);
        QCOMPARE(rec.pointer(), 2);
        DbProbe db(m_path);
        QCOMPARE(db.integrity(), QString("ok"));
        QCOMPARE(db.control()->mid(0, 2), QVariantList({2, 2}));
        QCOMPARE(db.row(1)->time, fractionOf(second));
        QCOMPARE(db.row(1)->values[0], 4.0);
        // The fresh file's journal starts with the set-aside, which says where the old set went.
        const auto first = db.rows(QStringLiteral("SELECT e_seq, e_kind, e_details FROM event_log ORDER BY e_seq LIMIT 1"));
        QVERIFY(first && first->size() == 1);
        QCOMPARE(first->at(0).at(0).toLongLong(), 1);
        QCOMPARE(first->at(0).at(1).toString(), QStringLiteral("recorder"));
        const QJsonObject details = QJsonDocument::fromJson(first->at(0).at(2).toByteArray()).object();
        QCOMPARE(details["what"].toString(), QStringLiteral("file-set-aside"));
        QCOMPARE(details["aside"].toString(), aside.first());
    }

    // The station ends right after the file was emptied or overwritten under
    // it: the rows of the -wal are not copied into it.
    void damagedFileIsNeverCheckpointedInto_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("truncated to nothing") << QByteArray();
        QTest::newRow("overwritten with garbage") << test::garbageBytes(8192);
    }
    void damagedFileIsNeverCheckpointedInto()
    {
        QFETCH(QByteArray, bytes);
        ManualClock clock(kDay, QTime(10, 0, 0, 50));
        Recorder rec(clock, m_path);
        rec.stop();
        for (int s = 0; s < 3; ++s)
            runSecond(rec, clock);
        QVERIFY(QFileInfo(m_path + "-wal").size() > 0);
        QVERIFY(overwriteInPlace(m_path, bytes));
        QSignalSpy health(&rec, &Recorder::healthChanged);
        const Recorder::FinishReport report = rec.finish();
        QCOMPARE(test::readFileBytes(m_path), bytes);
        QVERIFY(!report.walFolded);
        QVERIFY(QFileInfo(m_path + "-wal").size() > 0);
        QCOMPARE(kinds(health), QList<RecorderHealthKind>{RecorderHealthKind::ExitIncomplete});
    }

    // The pointer row vanishes while the station records: the ring goes on
    // after the last row stored (in a full ring the next row must not
    // overwrite the newest rows at 1, 2, ...).
    void vanishedPointerRowContinuesTheRing()
    {
        QVERIFY(test::writeDatabase(m_path, 5002, 1, 5002, -1));
        ManualClock clock(kDay, QTime(6, 30, 0, 50));
        Recorder rec(clock, m_path);
        rec.stop();
        runSecond(rec, clock);
        QCOMPARE(rec.pointer(), 5003);
        {
            DbProbe db(m_path);
            QVERIFY(db.exec("DELETE FROM sl_void"));
        }
        runSecond(rec, clock);
        runSecond(rec, clock);
        DbProbe db(m_path);
        QCOMPARE(db.control(), QVariantList({5005, 5005, 0}));
        QCOMPARE(db.row(5004)->time, fractionOf(QTime(6, 30, 1)));
        QCOMPARE(db.row(5005)->time, fractionOf(QTime(6, 30, 2)));
        QCOMPARE(db.row(1)->values[0], -1.0);  // the oldest rows stay
        QCOMPARE(db.rowCount(), 5005);
    }

    // A killed run's file was read-only for a while: SQLite made its -shm
    // read-only then, with the file's mode. Once the file is writable again,
    // the recorder replaces that -shm and records on, in the same ring.
    void readOnlyIndexIsReplaced()
    {
        {
            QVERIFY(sampledb::create(m_path));
            DbProbe run(m_path);
            QVERIFY(run.exec("PRAGMA wal_autocheckpoint=0"));
            QVERIFY(run.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<5)"
                             " INSERT INTO pv_data SELECT i, 45000, i / 86400.0, 1,2,3,4,5,6,7,8,9,10 FROM n;"
                             "UPDATE sl_void SET sl_pointer=5, sl_copy=5"));
            QVERIFY(run.endAsKilled(false));
        }
        QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        test::sqliteFaults().modeBits = true;  // as for a user who is not root

        const auto viewPointer = [] {
            QSqlQuery q(sampledb::openMainWindowConnection());
            return q.exec(sampledb::kSelectControl) && q.next() ? q.value(0).toInt() : -1;
        };
        ManualClock clock(kDay, QTime(11, 0, 0, 50));
        Recorder rec(clock, m_path);
        QSignalSpy health(&rec, &Recorder::healthChanged);
        rec.stop();
        for (int s = 0; s < 2; ++s) {
            runSecond(rec, clock);
            QCOMPARE(viewPointer(), 5);  // the main window reads it, read-only
        }
        QCOMPARE(rec.pointer(), 5);
        QVERIFY(QFileInfo::exists(m_path + "-shm"));

        QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(!(QFile::permissions(m_path + "-shm") & QFile::WriteOwner));
        runSecond(rec, clock);
        QCOMPARE(rec.pointer(), 6);
        QVERIFY(kinds(health).contains(RecorderHealthKind::IndexReplaced));
        QVERIFY(badSets().isEmpty());
        runSecond(rec, clock);
        QCOMPARE(viewPointer(), 7);
        sampledb::closeMainWindowConnection();
        test::sqliteFaults().modeBits = false;
        DbProbe db(m_path);
        QCOMPARE(db.integrity(), QString("ok"));
        QCOMPARE(db.rowCount(), 7);
    }

    // A reader beside the station (an export) holds the -wal when the station
    // ends: the end waits for it, bounded, and says when it could not.
    void endWaitsForAReader_data()
    {
        QTest::addColumn<int>("readerHoldsMs");  // -1: until the end has returned
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<bool>("folded");
        QTest::newRow("the reader leaves within the wait") << 350 << Recorder::kExitReaderWaitMs << true;
        QTest::newRow("the reader stays past the wait") << -1 << 250 << false;
    }
    void endWaitsForAReader()
    {
        QFETCH(int, readerHoldsMs);
        QFETCH(int, waitMs);
        QFETCH(bool, folded);
        ManualClock clock(kDay, QTime(12, 0, 0, 50));
        Recorder rec(clock, m_path);
        rec.stop();
        rec.setExitReaderWaitMs(waitMs);
        for (int s = 0; s < 3; ++s)
            runSecond(rec, clock);

        std::promise<void> reading;
        std::promise<void> ended;
        std::thread reader([this, readerHoldsMs, &reading, endedLater = ended.get_future()] {
            sqlite3 *db = nullptr;
            sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db, SQLITE_OPEN_READONLY, "unix");
            sqlite3_exec(db, "BEGIN; SELECT count(*) FROM pv_data;", nullptr, nullptr, nullptr);
            reading.set_value();
            if (readerHoldsMs < 0)
                endedLater.wait();
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(readerHoldsMs));  // the export's read
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        });
        reading.get_future().wait();
        QSignalSpy health(&rec, &Recorder::healthChanged);
        const Recorder::FinishReport report = rec.finish();
        ended.set_value();
        reader.join();
        QCOMPARE(report.walFolded, folded);
        QCOMPARE(kinds(health).contains(RecorderHealthKind::ExitIncomplete), !folded);
        if (folded) {
            QCOMPARE(QFileInfo(m_path + "-wal").size(), 0);
            // The file alone, as an operator copies it.
            QVERIFY(QFile::copy(m_path, m_path + ".alone"));
            DbProbe alone(m_path + ".alone");
            QCOMPARE(alone.pointer(), 3);
            QCOMPARE(alone.rowCount(), 3);
        }
        DbProbe db(m_path);
        QCOMPARE(db.rowCount(), 3);  // nothing lost either way
    }
};

STATION_TEST_MAIN_CORE(TestRecorderRepair)
#include "tst_recorder_repair.moc"
