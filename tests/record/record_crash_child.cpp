// The child of the crash test: records into <dataDir>/Rdatabj.db on a disk
// whose every sync takes kCrashSyncMs (the fault layer of tests/support), as
// fast as those commits allow, until it is killed (or, after kCrashRowsPerRun
// rows, waits for it). Its clock moves on by one second before each tick, so
// every tick takes a sample; sample n holds the values 10n .. 10n + 9 and the
// time base + n seconds, so a row shows whether all of it comes from one
// write. At most two samples wait for the recorder thread at a time.
//
//   record_crash_child <first sample number>
// prints "ready" once the recorder has opened the database, then "stored <id>"
// for each row as soon as its commit has come back.
#include "record/recorder.h"

#include "common/datadir.h"
#include "link/registerimage.h"
#include "tests/record/crashsample.h"
#include "tests/record/manualclock.h"
#include "tests/support/sqlitefaults.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    station::useStationApplicationName();
    if (argc < 2)
        return 2;
    const qint64 first = QByteArray(argv[1]).toLongLong();
    station::test::installSqliteFaults();
    station::test::sqliteFaults().slowSyncMs = station::test::kCrashSyncMs;

    station::test::ManualClock clock(station::test::crashSampleTime(first));
    station::Recorder recorder(clock, station::sampledb::defaultPath());
    recorder.stop();
    QObject::connect(&recorder, &station::Recorder::stored, [](std::int32_t id) {
        std::printf("stored %d\n", int(id));
        std::fflush(stdout);
    });
    recorder.settle();
    std::fputs("ready\n", stdout);
    std::fflush(stdout);

    constexpr int kInFlight = 2;
    for (qint64 n = first; n < first + station::test::kCrashRowsPerRun; ++n) {
        clock.set(station::test::crashSampleTime(n));
        station::registerImage().liveSample = station::test::crashSampleValues(n);
        recorder.tick();
        while (recorder.waiting() >= kInFlight)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    recorder.settle();
    for (;;)
        ::pause();  // the parent kills us
}
