// The child of the crash test: records into <dataDir>/Rdatabj.db as fast as the
// disk allows until it is killed (or, after kCrashRowsPerRun rows, waits for it). Its clock moves on by one second before each
// tick, so every tick writes a row; sample n holds the values 10n .. 10n + 9
// and the time base + n seconds, so a row shows whether all of it comes from
// one write.
//
//   record_crash_child <first sample number>
// prints "ready" once the recorder has opened the database.
#include "record/recorder.h"

#include "common/datadir.h"
#include "link/registerimage.h"
#include "tests/record/crashsample.h"
#include "tests/record/manualclock.h"

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

    station::test::ManualClock clock(station::test::crashSampleTime(first));
    station::Recorder recorder(clock, station::sampledb::defaultPath());
    recorder.stop();
    std::fputs("ready\n", stdout);
    std::fflush(stdout);

    for (qint64 n = first; n < first + station::test::kCrashRowsPerRun; ++n) {
        clock.set(station::test::crashSampleTime(n));
        station::registerImage().liveSample = station::test::crashSampleValues(n);
        recorder.tick();
    }
    for (;;)
        ::pause();  // the parent kills us
}
