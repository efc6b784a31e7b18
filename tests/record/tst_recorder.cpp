// The recorder mscom on a healthy database: the ring, one row per clock second,
// clock changes, stored values, restarts, the new-sample flag, the query texts
// and the single transaction for row and pointer.
#include "record/recorder.h"
#include "record/sampledb.h"

#include "link/registerimage.h"
#include "tests/record/dbprobe.h"
#include "tests/record/manualclock.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTest>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace station;
using station::test::DbProbe;
using station::test::ManualClock;

namespace {

const QDate kDay(2024, 3, 15);

// Day number and day fraction worked out here, apart from the code under test.
double dayOf(const QDate &d)
{
    return double(QDate(1899, 12, 30).daysTo(d));
}

double fractionOf(int h, int m, int s)
{
    return (h * 3600 + m * 60 + s) / 86400.0;
}

double fractionOf(const QTime &t)
{
    return fractionOf(t.hour(), t.minute(), t.second());
}

std::array<float, 10> sampleWith(float base)
{
    std::array<float, 10> v{};
    for (int i = 0; i < 10; ++i)
        v[size_t(i)] = base + float(i);
    return v;
}

quint64 inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

} // namespace

class TestRecorder : public QObject {
    Q_OBJECT

private:
    QString m_path;

    std::unique_ptr<Recorder> makeRecorder(ManualClock &clock)
    {
        auto r = std::make_unique<Recorder>(clock, m_path);
        r->stop();  // the test ticks by hand
        r->settle();
        return r;
    }
    // One tick, and what it handed to the recorder thread is done.
    static void tickOnce(Recorder &r)
    {
        r.tick();
        QVERIFY(r.settle());
    }
    // One tick, then the clock moves on by one timer period.
    static void tickAndAdvance(Recorder &r, ManualClock &clock)
    {
        tickOnce(r);
        clock.advanceMs(Recorder::kTickMs);
    }
    static bool takeFlag()
    {
        const bool raised = sampleFlags().newSample;
        sampleFlags().newSample = false;
        return raised;
    }

private slots:
    void init()
    {
        m_path = sampledb::defaultPath();
        for (const char *suffix : {"", "-wal", "-shm", ".new"})
            QFile::remove(m_path + QLatin1String(suffix));
        sampleFlags() = SampleFlags{true, false};
        registerImage().liveSample = {};
    }

    void freshFolderCreatesDatabaseWithPointerZero()
    {
        QVERIFY(!QFile::exists(m_path));
        ManualClock clock(kDay, QTime(9, 0, 0));
        auto rec = makeRecorder(clock);
        QVERIFY(QFile::exists(m_path));
        {
            DbProbe db(m_path);
            QCOMPARE(db.control(), QVariantList({0, 0, 0}));
            QCOMPARE(db.scalar("SELECT count(*) FROM sl_void").toInt(), 1);
            QCOMPARE(db.rowCount(), 0);
        }
        tickOnce(*rec);
        DbProbe db(m_path);
        QCOMPARE(db.pointer(), 1);
        QVERIFY(db.row(1));
    }

    void existingFileIsUsedAsItIs()
    {
        // Other names for the columns no query names, an extra table and a
        // spare value: the recorder writes by position and leaves everything
        // else alone.
        {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            DbProbe db(m_path);
            QVERIFY(db.exec(
                "CREATE TABLE pv_data (w_id INTEGER PRIMARY KEY, d REAL, t REAL, a0 REAL, a1 REAL, a2 REAL,"
                " a3 REAL, a4 REAL, a5 REAL, a6 REAL, a7 REAL, a8 REAL, a9 REAL);"
                "CREATE TABLE sl_void (p INTEGER, p2 INTEGER, spare INTEGER);"
                "CREATE TABLE keepme (x TEXT); INSERT INTO keepme VALUES ('installed');"
                "INSERT INTO sl_void VALUES (1234, 1234, 77);"
                "INSERT INTO pv_data VALUES (1234, 1, 0.25, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9);"
                "INSERT INTO pv_data VALUES (1235, 1, 0.5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8);"));
        }
        const quint64 inode = inodeOf(m_path);
        ManualClock clock(kDay, QTime(10, 20, 30));
        registerImage().liveSample = sampleWith(500);
        auto rec = makeRecorder(clock);
        tickOnce(*rec);
        rec.reset();

        QCOMPARE(inodeOf(m_path), inode);
        DbProbe db(m_path);
        // Two columns added behind the thirteen, and nothing else changed.
        const auto columns = db.rows("SELECT name FROM pragma_table_info('pv_data') ORDER BY cid");
        QVERIFY(columns);
        QCOMPARE(columns->size(), 15);
        QCOMPARE(columns->at(1).first().toString(), QString("d"));
        QCOMPARE(columns->at(13).first().toString(), QString("w_live"));
        QCOMPARE(columns->at(14).first().toString(), QString("w_utc"));
        QCOMPARE(db.rows("SELECT w_live, w_utc FROM pv_data WHERE w_id=1234")->first(), QVariantList({{}, {}}));
        QCOMPARE(db.control(), QVariantList({1235, 1235, 77}));
        QCOMPARE(db.scalar("SELECT x FROM keepme").toString(), QString("installed"));
        QCOMPARE(db.rowCount(), 2);
        const auto old = db.row(1234);
        QVERIFY(old);
        QCOMPARE(old->values[0], 9.0);
        const auto row = db.row(1235);
        QVERIFY(row);
        QCOMPARE(row->date, dayOf(kDay));
        QCOMPARE(row->time, fractionOf(10, 20, 30));
        for (int i = 0; i < 10; ++i)
            QCOMPARE(row->values[size_t(i)], 500.0 + i);
    }

    void pointerRules_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expectedId");
        QTest::newRow("fresh ring 0 gives 1") << "0" << 1;
        QTest::newRow("41 gives 42") << "41" << 42;
        QTest::newRow("65499 gives 65500") << "65499" << 65500;
        QTest::newRow("65500 restarts at 1") << "65500" << 1;
        QTest::newRow("above the ring restarts") << "70000" << 1;
        QTest::newRow("negative restarts") << "-3" << 1;
        QTest::newRow("NULL keeps the previous 0") << "NULL" << 1;
        QTest::newRow("2.5 rounds to even 2") << "2.5" << 3;
        QTest::newRow("3.5 rounds to even 4") << "3.5" << 5;
        QTest::newRow("numeric text") << "'12'" << 13;
    }
    void pointerRules()
    {
        QFETCH(QString, stored);
        QFETCH(int, expectedId);
        QVERIFY(test::writeDatabase(m_path, 0));
        {
            DbProbe db(m_path);
            QVERIFY(db.exec(QString("UPDATE sl_void SET sl_pointer=%1").arg(stored)));
        }
        ManualClock clock(kDay, QTime(8, 0, 0));
        auto rec = makeRecorder(clock);
        tickOnce(*rec);
        DbProbe db(m_path);
        QCOMPARE(db.control()->mid(0, 2), QVariantList({expectedId, expectedId}));
        QCOMPARE(db.rowCount(), 1);
        QVERIFY(db.row(expectedId));
    }

    // An sl_void without its row gets it back, and the ring starts at 1.
    void emptyControlTableRecordsFromOne()
    {
        QVERIFY(test::writeDatabase(m_path, 7, 1, 7, -1));
        {
            DbProbe db(m_path);
            QVERIFY(db.exec("DELETE FROM sl_void"));
        }
        ManualClock clock(kDay, QTime(6, 0, 0, 50));
        registerImage().liveSample = sampleWith(30);
        auto rec = makeRecorder(clock);
        for (int second = 1; second <= 3; ++second) {
            for (int i = 0; i < 10; ++i)
                tickAndAdvance(*rec, clock);
            QVERIFY(takeFlag());
            DbProbe db(m_path);
            QCOMPARE(db.scalar("SELECT count(*) FROM sl_void").toInt(), 1);
            QCOMPARE(db.control(), QVariantList({second, second, 0}));
            QCOMPARE(db.row(second)->time, fractionOf(6, 0, second - 1));
            QCOMPARE(db.row(second)->values[0], 30.0);
        }
        DbProbe db(m_path);
        QCOMPARE(db.rowCount(), 7);  // rows 1..3 overwritten in place
        QCOMPARE(db.row(4)->values[0], -1.0);
    }

    // A pointer read that fails once (the pointer is read on the recorder
    // thread for each row): the pointer of the previous row is advanced and
    // saved with the row, and the next second's row follows without a gap.
    void failedPointerReadUsesThePreviousPointer_data()
    {
        QTest::addColumn<int>("failingTick");  // of the second's ten ticks
        QTest::newRow("set in the tick that writes") << 0;
        QTest::newRow("set in a tick that writes nothing: the next row's read") << 4;
    }
    void failedPointerReadUsesThePreviousPointer()
    {
        QFETCH(int, failingTick);
        QVERIFY(test::writeDatabase(m_path, 5));
        ManualClock clock(kDay, QTime(4, 0, 0, 50));
        auto rec = makeRecorder(clock);
        for (int i = 0; i < 10; ++i)
            tickAndAdvance(*rec, clock);
        QCOMPARE(rec->pointer(), 6);

        // The next SELECT on the recorder's connection may not read sl_void.
        struct Refusal {
            int budget = 0;
            bool current = false;
            int refused = 0;
        } refusal;
        const auto authorize = [](void *ctx, int action, const char *table, const char *, const char *,
                                  const char *) {
            auto *r = static_cast<Refusal *>(ctx);
            if (action == SQLITE_SELECT)
                r->current = r->budget-- > 0;
            if (action == SQLITE_READ && r->current && table && qstrcmp(table, "sl_void") == 0) {
                ++r->refused;
                return SQLITE_DENY;
            }
            return SQLITE_OK;
        };
        sqlite3 *handle = nullptr;
        rec->inspect([&](QSqlDatabase conn) {
            handle = *static_cast<sqlite3 *const *>(conn.driver()->handle().constData());
            sqlite3_set_authorizer(handle, authorize, &refusal);
        });
        QVERIFY(handle);

        registerImage().liveSample = sampleWith(70);
        for (int i = 0; i < 10; ++i) {
            if (i == failingTick)
                refusal.budget = 1;
            tickAndAdvance(*rec, clock);
        }
        for (int i = 0; i < 10; ++i)
            tickAndAdvance(*rec, clock);
        QCOMPARE(refusal.refused, 1);
        rec->inspect([&](QSqlDatabase conn) {
            if (conn.isOpen() && *static_cast<sqlite3 *const *>(conn.driver()->handle().constData()) == handle)
                sqlite3_set_authorizer(handle, nullptr, nullptr);  // the same connection is still open
        });

        DbProbe db(m_path);
        QCOMPARE(db.control()->mid(0, 2), QVariantList({8, 8}));
        QCOMPARE(db.row(7)->time, fractionOf(4, 0, 1));
        QCOMPARE(db.row(7)->values[0], 70.0);
        QCOMPARE(db.row(8)->time, fractionOf(4, 0, 2));
    }

    void ringWrapsAndOverwritesRowOne()
    {
        QVERIFY(test::writeDatabase(m_path, 65499, 1, 3, -1));
        ManualClock clock(kDay, QTime(7, 0, 0, 500));
        auto rec = makeRecorder(clock);

        registerImage().liveSample = sampleWith(10);
        tickOnce(*rec);
        {
            DbProbe db(m_path);
            QCOMPARE(db.control()->mid(0, 2), QVariantList({65500, 65500}));
            QCOMPARE(db.rowCount(), 4);  // 65500 appended
            QCOMPARE(db.row(65500)->values[0], 10.0);
        }
        clock.advanceMs(1000);
        registerImage().liveSample = sampleWith(20);
        tickOnce(*rec);
        DbProbe db(m_path);
        QCOMPARE(db.control()->mid(0, 2), QVariantList({1, 1}));
        QCOMPARE(db.rowCount(), 4);  // row 1 overwritten in place
        const auto one = db.row(1);
        QCOMPARE(one->values[0], 20.0);
        QCOMPARE(one->values[9], 29.0);
        QCOMPARE(one->time, fractionOf(7, 0, 1));
        QCOMPARE(db.row(2)->values[0], -1.0);
        QCOMPARE(db.row(65500)->values[0], 10.0);
    }

    void oneRowPerClockSecond_data()
    {
        QTest::addColumn<QTime>("start");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QList<int>>("writingTicks");
        QTest::addColumn<QList<QTime>>("rowTimes");
        QTest::addColumn<QList<int>>("rowDayOffsets");
        QTest::newRow("mid-second start")
            << QTime(12, 0, 0, 50) << 50 << QList<int>{0, 10, 20, 30, 40}
            << QList<QTime>{QTime(12, 0, 0), QTime(12, 0, 1), QTime(12, 0, 2), QTime(12, 0, 3), QTime(12, 0, 4)}
            << QList<int>{0, 0, 0, 0, 0};
        QTest::newRow("late in the second")
            << QTime(12, 0, 0, 950) << 22 << QList<int>{0, 1, 11, 21}
            << QList<QTime>{QTime(12, 0, 0), QTime(12, 0, 1), QTime(12, 0, 2), QTime(12, 0, 3)}
            << QList<int>{0, 0, 0, 0};
        QTest::newRow("across midnight")
            << QTime(23, 59, 58, 500) << 30 << QList<int>{0, 5, 15, 25}
            << QList<QTime>{QTime(23, 59, 58), QTime(23, 59, 59), QTime(0, 0, 0), QTime(0, 0, 1)}
            << QList<int>{0, 0, 1, 1};
    }
    void oneRowPerClockSecond()
    {
        QFETCH(QTime, start);
        QFETCH(int, ticks);
        QFETCH(QList<int>, writingTicks);
        QFETCH(QList<QTime>, rowTimes);
        QFETCH(QList<int>, rowDayOffsets);

        ManualClock clock(kDay, start);
        auto rec = makeRecorder(clock);
        QList<int> wrote;
        for (int i = 0; i < ticks; ++i) {
            const std::int32_t before = rec->pointer();
            tickAndAdvance(*rec, clock);
            const bool raised = takeFlag();
            QCOMPARE(raised, rec->pointer() != before);
            if (raised)
                wrote << i;
        }
        QCOMPARE(wrote, writingTicks);

        DbProbe db(m_path);
        QCOMPARE(db.rowCount(), rowTimes.size());
        for (int i = 0; i < rowTimes.size(); ++i) {
            const auto row = db.row(i + 1);
            QVERIFY(row);
            QCOMPARE(row->time, fractionOf(rowTimes[i]));
            QCOMPARE(row->date, dayOf(kDay.addDays(rowDayOffsets[i])));
        }
    }

    void clockChange_data()
    {
        QTest::addColumn<QDateTime>("setTo");
        QTest::addColumn<bool>("writesAtOnce");
        // Three rows are written first, the last at 12:00:02; then the clock is set.
        QTest::newRow("back an hour") << QDateTime(kDay, QTime(11, 0, 2, 300), Qt::UTC) << true;
        QTest::newRow("back one second") << QDateTime(kDay, QTime(12, 0, 1, 300), Qt::UTC) << true;
        QTest::newRow("forward a day") << QDateTime(kDay.addDays(1), QTime(12, 0, 2, 300), Qt::UTC) << true;
        QTest::newRow("back within the second") << QDateTime(kDay, QTime(12, 0, 2, 100), Qt::UTC) << false;
    }
    void clockChange()
    {
        QFETCH(QDateTime, setTo);
        QFETCH(bool, writesAtOnce);
        ManualClock clock(kDay, QTime(12, 0, 0, 0));
        auto rec = makeRecorder(clock);
        for (int i = 0; i < 25; ++i)  // 12:00:00.0 .. 12:00:02.4
            tickAndAdvance(*rec, clock);
        QCOMPARE(rec->pointer(), 3);
        takeFlag();

        clock.set(setTo);
        tickOnce(*rec);
        QCOMPARE(takeFlag(), writesAtOnce);
        const int afterSet = writesAtOnce ? 4 : 3;
        QCOMPARE(rec->pointer(), afterSet);

        // The rest of that second writes nothing; the next second writes one row.
        const QTime setTime = setTo.time();
        const int ticksLeft = (999 - setTime.msec()) / Recorder::kTickMs;
        for (int i = 0; i < ticksLeft; ++i) {
            clock.advanceMs(Recorder::kTickMs);
            tickOnce(*rec);
        }
        QCOMPARE(rec->pointer(), afterSet);
        QVERIFY(!takeFlag());
        clock.advanceMs(Recorder::kTickMs);
        tickOnce(*rec);
        QCOMPARE(rec->pointer(), afterSet + 1);

        DbProbe db(m_path);
        const QDateTime next = setTo.addSecs(1);
        const auto last = db.row(afterSet + 1);
        QVERIFY(last);
        QCOMPARE(last->time, fractionOf(next.time()));
        QCOMPARE(last->date, dayOf(next.date()));
        if (writesAtOnce) {
            QCOMPARE(db.row(4)->time, fractionOf(setTime));
            QCOMPARE(db.row(4)->date, dayOf(setTo.date()));
        }
    }

    void valuesStoredAsTheyStand()
    {
        // Raw image values: retransmission output 1 in tenths of a percent stays
        // 875; fractional floats keep their exact float value.
        const std::array<float, 10> first{251, -15, 300, 305, 875, 1000, 3, 5, 100, 0};
        const std::array<float, 10> second{0.1f, 16777215.0f, -0.5f, 1e-3f, 2, 3, 4, 5, 0, 100};
        ManualClock clock(kDay, QTime(6, 30, 0));
        auto rec = makeRecorder(clock);
        registerImage().liveSample = first;
        tickOnce(*rec);
        clock.advanceMs(1000);
        registerImage().liveSample = second;
        tickOnce(*rec);
        registerImage().liveSample = sampleWith(999);  // after the tick: not stored

        DbProbe db(m_path);
        const auto types = db.rows("SELECT typeof(w_id), typeof(w_date), typeof(w_time), typeof(v0),"
                                   " typeof(v4), typeof(v9) FROM pv_data WHERE w_id=2");
        QVERIFY(types);
        QCOMPARE(types->first(), QVariantList({"integer", "real", "real", "real", "real", "real"}));
        const auto r1 = db.row(1);
        const auto r2 = db.row(2);
        QVERIFY(r1 && r2);
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(r1->values[size_t(i)], double(first[size_t(i)]));
            QCOMPARE(r2->values[size_t(i)], double(second[size_t(i)]));
            QCOMPARE(float(r2->values[size_t(i)]), second[size_t(i)]);
        }
        QCOMPARE(r1->values[4], 875.0);
    }

    void restartContinuesTheRing_data()
    {
        QTest::addColumn<int>("initialPointer");  // -1: no file yet
        QTest::addColumn<QList<int>>("firstRunIds");
        QTest::addColumn<int>("secondRunId");
        QTest::newRow("fresh folder") << -1 << QList<int>{1, 2} << 3;
        QTest::newRow("at the end of the ring") << 65499 << QList<int>{65500, 1} << 2;
    }
    void restartContinuesTheRing()
    {
        QFETCH(int, initialPointer);
        QFETCH(QList<int>, firstRunIds);
        QFETCH(int, secondRunId);
        if (initialPointer >= 0)
            QVERIFY(test::writeDatabase(m_path, initialPointer));
        {
            ManualClock clock(kDay, QTime(14, 0, 0));
            auto rec = makeRecorder(clock);
            for (int id : firstRunIds) {
                tickOnce(*rec);
                QCOMPARE(rec->pointer(), id);
                clock.advanceMs(1000);
            }
        }
        // A new start, hours later: the first tick writes at once and goes on
        // from the stored pointer.
        ManualClock clock(kDay, QTime(18, 0, 0));
        registerImage().liveSample = sampleWith(77);
        auto rec = makeRecorder(clock);
        tickOnce(*rec);
        DbProbe db(m_path);
        QCOMPARE(db.pointer(), secondRunId);
        QCOMPARE(db.row(secondRunId)->values[0], 77.0);
        QCOMPARE(db.row(secondRunId)->time, fractionOf(18, 0, 0));
    }

    void newSampleFlag_data()
    {
        QTest::addColumn<bool>("notifyEnabled");
        QTest::newRow("notify enabled") << true;
        QTest::newRow("notify disabled") << false;
    }
    void newSampleFlag()
    {
        QFETCH(bool, notifyEnabled);
        sampleFlags().notifyEnabled = notifyEnabled;
        ManualClock clock(kDay, QTime(16, 0, 0, 50));
        auto rec = makeRecorder(clock);
        int raised = 0;
        for (int i = 0; i < 30; ++i) {
            tickAndAdvance(*rec, clock);
            if (takeFlag())
                ++raised;
        }
        QCOMPARE(raised, notifyEnabled ? 3 : 0);
        DbProbe db(m_path);
        QCOMPARE(db.pointer(), 3);  // rows are stored either way
    }

    void queryTexts()
    {
        QVERIFY(test::writeDatabase(m_path, 6));
        ManualClock clock(kDay, QTime(5, 0, 0, 0));
        auto rec = makeRecorder(clock);
        sqlite3 *handle = nullptr;
        QStringList texts;  // filled on the recorder thread, read here after it settled
        rec->inspect([&](QSqlDatabase conn) {
            if (!conn.isOpen())
                return;
            handle = *static_cast<sqlite3 *const *>(conn.driver()->handle().constData());
            sqlite3_trace_v2(
                handle, SQLITE_TRACE_STMT,
                [](unsigned, void *ctx, void *, void *x) {
                    static_cast<QStringList *>(ctx)->append(QString::fromUtf8(static_cast<const char *>(x)));
                    return 0;
                },
                &texts);
        });
        QVERIFY(handle);

        tickOnce(*rec);  // writes row 7
        QCOMPARE(texts.first(), QString("select * from  sl_void"));
        QVERIFY2(texts.contains("select * from  pv_data where w_id=7"), qPrintable(texts.join(" | ")));
        QCOMPARE(texts.count("select * from  sl_void"), 2);  // the pointer read, and the pointer write

        texts.clear();
        clock.advanceMs(Recorder::kTickMs);
        tickOnce(*rec);  // same second: the pointer is read with the next row, not here
        QCOMPARE(texts, QStringList{});
        rec->inspect([handle](QSqlDatabase) { sqlite3_trace_v2(handle, 0, nullptr, nullptr); });
    }

    // Row and pointer are one transaction: when either half cannot be saved,
    // both stay as they were and the same id is tried in the next second.
    void failedSaveKeepsRowAndPointer_data()
    {
        QTest::addColumn<int>("existingRows");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("row insert refused") << 2
            << "CREATE TRIGGER refuse BEFORE INSERT ON pv_data WHEN NEW.w_id=3"
               " BEGIN SELECT RAISE(ABORT, 'refused'); END";
        QTest::newRow("row update refused") << 5
            << "CREATE TRIGGER refuse BEFORE UPDATE ON pv_data WHEN NEW.w_id=3"
               " BEGIN SELECT RAISE(ABORT, 'refused'); END";
        QTest::newRow("pointer update refused") << 5
            << "CREATE TRIGGER refuse BEFORE UPDATE ON sl_void WHEN NEW.sl_pointer=3"
               " BEGIN SELECT RAISE(ABORT, 'refused'); END";
    }
    void failedSaveKeepsRowAndPointer()
    {
        QFETCH(int, existingRows);
        QFETCH(QString, trigger);
        QVERIFY(test::writeDatabase(m_path, 2, 1, existingRows, -1));
        {
            DbProbe db(m_path);
            QVERIFY(db.exec(trigger));
        }
        ManualClock clock(kDay, QTime(3, 0, 0, 50));
        registerImage().liveSample = sampleWith(40);
        auto rec = makeRecorder(clock);
        for (int second = 0; second < 3; ++second) {
            for (int i = 0; i < 10; ++i)
                tickAndAdvance(*rec, clock);
            QVERIFY(takeFlag());  // the live chart still advances
        }
        {
            DbProbe db(m_path);
            QCOMPARE(db.integrity(), QString("ok"));
            QCOMPARE(db.control()->mid(0, 2), QVariantList({2, 2}));
            QCOMPARE(db.rowCount(), existingRows);
            if (existingRows >= 3)
                QCOMPARE(db.row(3)->values[0], -1.0);
            QVERIFY(db.exec("DROP TRIGGER refuse"));
        }
        for (int i = 0; i < 10; ++i)
            tickAndAdvance(*rec, clock);
        DbProbe db(m_path);
        QCOMPARE(db.control()->mid(0, 2), QVariantList({3, 3}));  // no id skipped
        QCOMPARE(db.row(3)->values[0], 40.0);
        QCOMPARE(db.row(3)->time, fractionOf(3, 0, 3));
    }

    void timerDrivesTheTicks()
    {
        ManualClock clock(kDay, QTime(1, 0, 0));
        Recorder rec(clock, m_path);
        QCOMPARE(rec.objectName(), QString("mscom"));
        QVERIFY(rec.isRunning());
        QCOMPARE(rec.interval(), 100);
        QTRY_COMPARE_WITH_TIMEOUT(rec.pointer(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(sampleFlags().newSample, 5000);
        sampleFlags().newSample = false;
        clock.advanceMs(1000);
        QTRY_COMPARE_WITH_TIMEOUT(rec.pointer(), 2, 5000);
        rec.stop();
        QVERIFY(!rec.isRunning());
        DbProbe db(m_path);
        QCOMPARE(db.pointer(), 2);
    }
};

STATION_TEST_MAIN_CORE(TestRecorder)
#include "tst_recorder.moc"
