// The event journal's cost and size, in one run and on one disk.
//
// 1. The GUI thread's part of a journal row, Recorder::journal() (the event
//    stamped and handed over), beside its part of a sample, Recorder::tick()
//    (the sample taken and handed over), on a full ring, taking turns in
//    blocks; and each whole, until the recorder thread has committed it
//    (synchronous=FULL: one fsync each).
// 2. A simulated year of a busy station's events (the day below, 365 times),
//    written day by day through journal::append into a full ring: the bytes
//    the journal adds to Rdatabj.db, per event; how long --verify walks the
//    chain; how long the check the recorder makes when it opens the file
//    (PRAGMA quick_check) takes with the year in it, beside the ring alone.
//
//   bench_journal [rows per side, default 600] [folder, default a temporary one]
#include "record/journal.h"
#include "record/journalcheck.h"
#include "record/recorder.h"
#include "record/sampledb.h"

#include "bench/record/fullring.h"

#include "link/registerimage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
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
constexpr int kDays = 365;
constexpr std::int32_t kMidRing = 32000;

using station::journal::Kind;

// A busy station's day: the station restarted once, the line opened and
// closed at each of six operators' turns, a flaky line lost and back once an
// hour, 400 writes (set values, alarm settings, programs of eight segments
// typed in, configuration), a clock set once a week, a database fault once a
// week.
struct DayShare {
    Kind kind;
    int perWeek;
};
constexpr std::array<DayShare, 10> kBusyWeek{{
    {Kind::Start, 7},
    {Kind::End, 7},
    {Kind::Open, 42},
    {Kind::Close, 42},
    {Kind::LinkLost, 168},
    {Kind::LinkBack, 168},
    {Kind::Write, 2800},
    {Kind::ClockJump, 1},
    {Kind::Recorder, 1},
    {Kind::UncleanEnd, 0},
}};

const std::array<std::pair<const char *, const char *>, 6> kControls{{
    {"Text1_0", "设定SV1"},
    {"Alm11_0", "报警1设定值"},
    {"T_3RW_12", "输入1零点修正"},
    {"Combo8", "通讯波特率"},
    {"TxtB_9", "SEG3 设定值SV2"},
    {"TextA_2", "程序循环次数"},
}};

// Details of the size and shape the station writes.
QJsonObject detailsOf(Kind kind, int n)
{
    switch (kind) {
    case Kind::Start:
        return {{"version", "0.1"}, {"data_folder", "/home/operator/.local/share/lx6100-station"},
                {"database", "/home/operator/.local/share/lx6100-station/Rdatabj.db"}};
    case Kind::End: return {{"way", "退出"}, {"wal_folded", true}, {"samples_dropped", 0}};
    case Kind::Open:
        return {{"port", 1}, {"device", "/home/operator/.local/share/lx6100-station/serial/com1"}, {"baud", 9600},
                {"parity", "none"}, {"address", 1}, {"opened", true}};
    case Kind::Close: return {{"port", 1}};
    case Kind::LinkLost:
        return {{"error", "控制器无应答（超时） [Connection timed out]"},
                {"device", "/home/operator/.local/share/lx6100-station/serial/com1"},
                {"last_good", "2024-06-01T08:00:00.000"}};
    case Kind::LinkBack: return {{"down_ms", 4210}, {"error", "控制器无应答（超时） [Connection timed out]"}};
    case Kind::Write: {
        const auto &[control, caption] = kControls[std::size_t(n) % kControls.size()];
        return {{"register", 4109}, {"value", 250 + n % 100}, {"port", 1}, {"address", 1}, {"outcome", "answered"},
                {"result", 0}, {"window", "CONFIG1"}, {"control", control}, {"caption", caption},
                {"entered", QString::number(250 + n % 100)}, {"shown_before", QString::number(240 + n % 100)}};
    }
    case Kind::ClockJump:
        return {{"jump_ms", -3600000}, {"utc_jump_ms", -3600000}, {"from", "2024-06-01T08:00:00.000"},
                {"to", "2024-06-01T07:00:00.000"}};
    case Kind::Recorder:
        return {{"what", "index-replaced"}, {"text", "数据库的只读索引文件已重建，记录继续"},
                {"details", "/home/operator/.local/share/lx6100-station/Rdatabj.db-shm could not be written"}};
    default: return {};
    }
}

// One day of events, spread over the day, in the order they happened.
std::vector<station::journal::Event> busyDay(int day, const QDateTime &midnight)
{
    std::vector<station::journal::Event> events;
    int n = 0;
    for (const DayShare &share : kBusyWeek) {
        // perWeek / 7 a day, the remainder on the first days of the week.
        const int today = share.perWeek / 7 + ((day % 7) < share.perWeek % 7 ? 1 : 0);
        for (int i = 0; i < today; ++i, ++n)
            events.push_back(station::journal::makeEvent(share.kind, midnight.addSecs((n * 7919) % 86400),
                                                         detailsOf(share.kind, n)));
    }
    std::sort(events.begin(), events.end(), [](const auto &a, const auto &b) { return a.utcMs < b.utcMs; });
    return events;
}

qint64 fileBytes(sqlite3 *db)
{
    qint64 pages = 0, size = 0;
    const auto scalar = [db](const char *sql) {
        sqlite3_stmt *s = nullptr;
        qint64 v = 0;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            v = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        return v;
    };
    pages = scalar("PRAGMA page_count");
    size = scalar("PRAGMA page_size");
    return pages * size;
}

struct Stats {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Stats statsOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {quantileOfSorted(ms, 0.5), quantileOfSorted(ms, 0.99), ms.back()};
}

void printRow(const char *name, const Stats &s)
{
    std::printf("  %-44s %10.4f %10.4f %10.4f\n", name, s.median, s.p99, s.max);
}

double quickCheckMs(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const double ms = timed([db] { execAll(db, "PRAGMA quick_check"); });
    sqlite3_close(db);
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(100, QByteArray(argv[1]).toInt()) : 600;
    QTemporaryDir temporary;
    const QString dir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    const QString livePath = QDir(dir).filePath("live/Rdatabj.db");
    const QString yearPath = QDir(dir).filePath("year/Rdatabj.db");
    for (const QString &p : {livePath, yearPath})
        station::bench::removeDatabase(p);
    if (!station::bench::makeFullRing(livePath, kMidRing) || !station::bench::makeFullRing(yearPath, kMidRing)) {
        std::fprintf(stderr, "cannot build the databases in %s\n", qPrintable(dir));
        return 1;
    }

    // 1. The GUI thread's part, and the whole, of a row of each kind.
    {
        StepClock clock;
        station::Recorder recorder(clock, livePath);
        recorder.stop();
        recorder.startJournal({});
        recorder.settle();
        float n = 0;
        std::vector<double> tickMs, tickWholeMs, journalMs, journalWholeMs;
        const auto sample = [&](bool keep) {
            clock.advanceSeconds(1);
            station::registerImage().liveSample.fill(++n);
            double gui = 0;
            const double whole = timed([&] {
                gui = timed([&] { recorder.tick(); });
                recorder.settle();
            });
            if (keep) {
                tickMs.push_back(gui);
                tickWholeMs.push_back(whole);
            }
        };
        const auto event = [&](bool keep) {
            const QJsonObject details = detailsOf(Kind::Write, int(++n));
            double gui = 0;
            const double whole = timed([&] {
                gui = timed([&] { recorder.journal(Kind::Write, details); });
                recorder.settle();
            });
            if (keep) {
                journalMs.push_back(gui);
                journalWholeMs.push_back(whole);
            }
        };
        for (int i = 0; i < kWarmUp; ++i) {
            sample(false);
            event(false);
        }
        for (int block = 0; block < kBlocks; ++block) {
            for (int i = 0; i < rows / kBlocks; ++i)
                sample(true);
            for (int i = 0; i < rows / kBlocks; ++i)
                event(true);
        }
        std::printf("full ring of %d rows, synchronous=FULL, %zu rows a side, folder %s (ms)\n",
                    station::sampledb::kRingSize, tickMs.size(), qPrintable(dir));
        std::printf("  %-44s %10s %10s %10s\n", "", "median", "p99", "max");
        printRow("GUI thread: Recorder::journal() (a write event)", statsOf(journalMs));
        printRow("GUI thread: Recorder::tick() (a sample)", statsOf(tickMs));
        printRow("whole journal row, until committed", statsOf(journalWholeMs));
        printRow("whole sample row, until committed", statsOf(tickWholeMs));
        std::printf("  %-44s %10.2f\n\n", "ratio journal() / tick(), median",
                    statsOf(journalMs).median / statsOf(tickMs).median);
    }

    // 2. A year of a busy station.
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(yearPath).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 1;
    execAll(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
    const qint64 ringBytes = fileBytes(db);
    const double ringCheckMs = quickCheckMs(yearPath);
    qint64 events = 0;
    const QDateTime first(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    const double writeMs = timed([&] {
        for (int day = 0; day < kDays; ++day) {
            const auto today = busyDay(day, first.addDays(day));
            events += qint64(today.size());
            if (station::journal::append(db, today) == 0)
                std::fprintf(stderr, "day %d not written\n", day);
        }
    });
    execAll(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    const qint64 yearBytes = fileBytes(db);
    station::journal::CheckResult verdict;
    const double verifyMs = timed([&] { verdict = station::journal::checkDatabase(db); });
    sqlite3_close(db);
    const double yearCheckMs = quickCheckMs(yearPath);

    const qint64 journalBytes = yearBytes - ringBytes;
    std::printf("a year of a busy station: %lld events (%lld a day)\n", (long long)events, (long long)(events / kDays));
    std::printf("  %-44s %10.1f MB\n", "Rdatabj.db, full ring alone", double(ringBytes) / 1e6);
    std::printf("  %-44s %10.1f MB\n", "Rdatabj.db, full ring and the year", double(yearBytes) / 1e6);
    std::printf("  %-44s %10.0f bytes\n", "the journal, per event", double(journalBytes) / double(events));
    std::printf("  %-44s %10.0f ms\n", "written day by day (365 commits)", writeMs);
    std::printf("  %-44s %10.0f ms (%s)\n", "--verify: chain and pointer", verifyMs,
                verdict.fits ? "fits" : qPrintable(verdict.line));
    std::printf("  %-44s %10.0f ms\n", "quick_check at open, ring alone", ringCheckMs);
    std::printf("  %-44s %10.0f ms\n", "quick_check at open, ring and the year", yearCheckMs);
    return verdict.fits ? 0 : 1;
}
