// One recorder write on the write path, with a full ring of 65500 rows, beside
// the same insert-or-update written directly against SQLite's C API with
// prepared statements, in one run and on one disk. A recorder write is the
// tick that takes the sample on the GUI thread and the commit on the recorder
// thread, timed until its result is back (Recorder::settle()); the GUI
// thread's own part, the tick alone, is printed beside it.
//
//   bench_recorder [samples per side, default 600] [folder, default a temporary one]
//
// Each write tick: read the pointer from sl_void, then in one transaction find
// the row for pointer + 1, overwrite it (the ring is full, so it exists), set
// both pointer copies, commit. Both sides run with the recorder's settings (WAL,
// synchronous=FULL, so one fsync a commit) and, as a second measure of the code
// around SQLite, with synchronous=NORMAL (no fsync a commit). The sides take
// turns in blocks so that a change of disk speed during the run hits both.
//
// Then the recorder's checkpoint after every 60 stored rows beside the same
// recorder leaving the WAL to SQLite's automatic checkpoint at 1000 pages
// (what it did before: the file alone lagged up to 500 rows), each on its own
// full ring, synchronous=FULL, taking turns a minute of rows at a time. The
// mean carries the checkpoints; the median does not.
#include "record/recorder.h"
#include "record/sampledb.h"

#include "bench/record/fullring.h"

#include "link/registerimage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <sqlite3.h>
#include <vector>

namespace {

using station::bench::execAll;
using station::bench::quantileOfSorted;
using station::bench::StepClock;
using station::bench::timed;

constexpr int kBlocks = 6;
constexpr int kWarmUp = 20;
constexpr std::int32_t kStartPointer = 32000;  // mid-ring: every write overwrites a row

// The insert-or-update of one tick, straight on the C API.
class DirectWriter {
public:
    explicit DirectWriter(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(m_db, station::sampledb::kBusyTimeoutMs);
        execAll(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
        prepare(m_readPointer, "select * from  sl_void");
        prepare(m_findRow, "SELECT 1 FROM pv_data WHERE w_id=?");
        prepare(m_update, "UPDATE pv_data SET w_id=?1, w_date=?2, w_time=?3, v0=?4, v1=?5, v2=?6, v3=?7,"
                          " v4=?8, v5=?9, v6=?10, v7=?11, v8=?12, v9=?13 WHERE w_id=?1");
        prepare(m_insert, "INSERT INTO pv_data VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
        prepare(m_setPointer, "UPDATE sl_void SET sl_pointer=?1, sl_copy=?1"
                              " WHERE rowid=(SELECT min(rowid) FROM sl_void)");
        prepare(m_begin, "BEGIN IMMEDIATE");
        prepare(m_commit, "COMMIT");
    }
    ~DirectWriter()
    {
        for (sqlite3_stmt *s : {m_readPointer, m_findRow, m_update, m_insert, m_setPointer, m_begin, m_commit})
            sqlite3_finalize(s);
        sqlite3_close(m_db);
    }
    void setSynchronous(const char *pragma) { execAll(m_db, pragma); }

    bool tick(double date, double time, const std::array<float, 10> &values)
    {
        std::int32_t pointer = 0;
        if (sqlite3_step(m_readPointer) == SQLITE_ROW)
            pointer = sqlite3_column_int(m_readPointer, 0);
        sqlite3_reset(m_readPointer);
        if (pointer >= station::sampledb::kRingSize || pointer < 0)
            pointer = 0;
        const std::int32_t id = pointer + 1;

        if (!stepDone(m_begin))
            return false;
        sqlite3_bind_int(m_findRow, 1, id);
        const bool exists = sqlite3_step(m_findRow) == SQLITE_ROW;
        sqlite3_reset(m_findRow);
        sqlite3_stmt *write = exists ? m_update : m_insert;
        sqlite3_bind_int(write, 1, id);
        sqlite3_bind_double(write, 2, date);
        sqlite3_bind_double(write, 3, time);
        for (int i = 0; i < 10; ++i)
            sqlite3_bind_double(write, 4 + i, double(values[size_t(i)]));
        sqlite3_bind_int(m_setPointer, 1, id);
        if (stepDone(write) && stepDone(m_setPointer) && stepDone(m_commit))
            return true;
        execAll(m_db, "ROLLBACK");
        return false;
    }

private:
    void prepare(sqlite3_stmt *&s, const char *sql) { sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr); }
    static bool stepDone(sqlite3_stmt *s)
    {
        const bool ok = sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
        return ok;
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_readPointer = nullptr, *m_findRow = nullptr, *m_update = nullptr, *m_insert = nullptr,
                 *m_setPointer = nullptr, *m_begin = nullptr, *m_commit = nullptr;
};

struct Stats {
    double mean = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
    long over1ms = 0;  // checkpoints and syncs show up here
};

Stats statsOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const long slow = long(std::count_if(ms.begin(), ms.end(), [](double v) { return v > 1.0; }));
    double sum = 0;
    for (double v : ms)
        sum += v;
    return {sum / double(ms.size()), quantileOfSorted(ms, 0.5), quantileOfSorted(ms, 0.99), ms.back(), slow};
}

void printRow(const char *name, const Stats &s)
{
    std::printf("  %-34s %10.3f %10.3f %10.3f %10ld\n", name, s.median, s.p99, s.max, s.over1ms);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(100, QByteArray(argv[1]).toInt()) : 600;
    QTemporaryDir temporary;
    const QString dir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    const QString recorderPath = QDir(dir).filePath("recorder/Rdatabj.db");
    const QString directPath = QDir(dir).filePath("direct/Rdatabj.db");
    const QString periodicPath = QDir(dir).filePath("periodic/Rdatabj.db");
    const QString automaticPath = QDir(dir).filePath("automatic/Rdatabj.db");
    const std::array<QString, 4> paths{recorderPath, directPath, periodicPath, automaticPath};
    for (const QString &p : paths)
        station::bench::removeDatabase(p);
    if (!std::all_of(paths.begin(), paths.end(),
                     [](const QString &p) { return station::bench::makeFullRing(p, kStartPointer); })) {
        std::fprintf(stderr, "cannot build the databases in %s\n", qPrintable(dir));
        return 1;
    }

    StepClock recorderClock;
    StepClock directClock;
    int failures = 0;
    {
        station::Recorder recorder(recorderClock, recorderPath);
        recorder.stop();
        recorder.settle();
        DirectWriter direct(directPath);
        float n = 0;

        std::vector<double> tickMs;
        const auto recorderWrite = [&] {
            recorderClock.advanceSeconds(1);
            station::registerImage().liveSample.fill(++n);
            const std::int32_t before = recorder.pointer();
            const double ms = timed([&] {
                tickMs.push_back(timed([&] { recorder.tick(); }));
                recorder.settle();
            });
            failures += recorder.pointer() == before;
            return ms;
        };
        const auto directWrite = [&] {
            directClock.advanceSeconds(1);
            station::registerImage().liveSample.fill(++n);
            const QDateTime now = directClock.now();
            const std::array<float, 10> values = station::registerImage().liveSample;
            return timed([&] {
                failures += !direct.tick(station::dayNumber(now.date()), station::dayFraction(now.time()), values);
            });
        };

        const auto measure = [&](const char *title) {
            for (int i = 0; i < kWarmUp; ++i) {
                recorderWrite();
                directWrite();
            }
            std::vector<double> recorderMs, directMs;
            tickMs.clear();
            for (int block = 0; block < kBlocks; ++block) {
                for (int i = 0; i < samples / kBlocks; ++i)
                    recorderMs.push_back(recorderWrite());
                for (int i = 0; i < samples / kBlocks; ++i)
                    directMs.push_back(directWrite());
            }
            const Stats r = statsOf(recorderMs);
            const Stats d = statsOf(directMs);
            std::printf("%s, %zu write ticks each (ms)\n", title, recorderMs.size());
            std::printf("  %-34s %10s %10s %10s %10s\n", "", "median", "p99", "max", "> 1 ms");
            printRow("Recorder write (Qt Sql, thread)", r);
            printRow("  of it the GUI thread's tick", statsOf(tickMs));
            printRow("C API, prepared statements", d);
            std::printf("  %-34s %10.2f %10.2f\n\n", "ratio recorder / C API", r.median / d.median, r.p99 / d.p99);
        };

        std::printf("full ring of %d rows, pointer from %d, folder %s\n\n", station::sampledb::kRingSize,
                    kStartPointer, qPrintable(dir));
        measure("synchronous=FULL (as recorded)");

        recorder.inspect([](QSqlDatabase db) { QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL")); });
        direct.setSynchronous("PRAGMA synchronous=NORMAL");
        measure("synchronous=NORMAL (no fsync a commit: the code around SQLite)");

        // The nine ticks of a second that take no sample: no database work at all.
        std::vector<double> idle;
        for (int i = 0; i < samples; ++i)
            idle.push_back(timed([&] { recorder.tick(); }));
        const Stats s = statsOf(idle);
        std::printf("tick within the same second (no sample taken), %d ticks (ms)\n", samples);
        printRow("Recorder::tick", s);
    }
    {
        // Qt Sql allows one recorder connection ("mscom") at a time, so the
        // sides take turns in long phases, each a recorder of its own on its
        // own ring: 1500 rows hold three of SQLite's automatic checkpoints and
        // twenty-five periodic ones. Opening and closing fall outside the
        // figures.
        StepClock periodicClock;
        StepClock automaticClock;
        std::vector<double> periodicMs, automaticMs;
        const int phase = std::max(samples, 1500);
        float n = 0;
        const auto run = [&](StepClock &clock, const QString &path, bool periodic, std::vector<double> &out) {
            station::Recorder recorder(clock, path);
            recorder.stop();
            if (!periodic) {
                recorder.setCheckpointRows(0);
                recorder.inspect([](QSqlDatabase db) { QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_autocheckpoint=1000")); });
            }
            recorder.settle();
            for (int i = 0; i < kWarmUp + phase; ++i) {
                clock.advanceSeconds(1);
                station::registerImage().liveSample.fill(++n);
                const std::int32_t before = recorder.pointer();
                const double ms = timed([&] {
                    recorder.tick();
                    recorder.settle();
                });
                failures += recorder.pointer() == before;
                if (i >= kWarmUp)
                    out.push_back(ms);
            }
        };
        for (int round = 0; round < 2; ++round) {
            run(periodicClock, periodicPath, true, periodicMs);
            run(automaticClock, automaticPath, false, automaticMs);
        }
        const Stats p = statsOf(periodicMs);
        const Stats a = statsOf(automaticMs);
        std::printf("\nperiodic checkpoint, %zu write ticks each, synchronous=FULL (ms)\n", periodicMs.size());
        std::printf("  %-34s %10s %10s %10s %10s %10s\n", "", "mean", "median", "p99", "max", "> 1 ms");
        std::printf("  %-34s %10.3f %10.3f %10.3f %10.3f %10ld\n", "checkpoint every 60 rows", p.mean, p.median,
                    p.p99, p.max, p.over1ms);
        std::printf("  %-34s %10.3f %10.3f %10.3f %10.3f %10ld\n", "SQLite's at 1000 pages (before)", a.mean,
                    a.median, a.p99, a.max, a.over1ms);
        std::printf("  %-34s %10.2f %10.2f\n", "ratio periodic / automatic (mean, median)", p.mean / a.mean,
                    p.median / a.median);
    }
    if (failures) {
        std::fprintf(stderr, "%d writes failed\n", failures);
        return 1;
    }
    return 0;
}
