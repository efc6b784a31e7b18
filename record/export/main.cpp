// lx6100-export: reads the station's sample database beside a running station
// and writes its samples as CSV, or a consistent copy of the whole file.
//
//   lx6100-export [--db FILE] [--from TIME] [--to TIME] [--raw] [--output FILE]
//   lx6100-export [--db FILE] --events [--from TIME] [--to TIME] [--output FILE]
//   lx6100-export [--db FILE] --verify
//   lx6100-export [--db FILE] --backup FILE
//   lx6100-export [--db FILE] --restore BACKUP
//
// --events writes the event journal as CSV (events.h); --verify checks the
// journal's chain and the sample table's pointer (record/journalcheck.h) and
// prints one line: on standard output with exit 0 when everything fits, on
// standard error with exit 1 naming the first row that does not.
//
// The database is opened read-only ("mode=ro"), through its WAL, with the
// station's busy timeout: a WAL reader never blocks the recorder's writes, and
// the tool waits at most that time-out for a lock. A database without a -wal
// (no station has it open) is read as an immutable file, so the tool leaves no
// -wal or -shm of its own beside it. The rows are read in one
// read transaction, so the export is one snapshot of the ring; the backup uses
// SQLite's online backup API in one step, also one snapshot, and never writes
// a file that has a -wal or -shm beside it. --restore is the way back: only
// while no station has the database open (copy.h). Every failure is
// one line on standard error and a non-zero exit: 1 for a file that cannot be
// read or written, 2 for a wrong command line.
#include "record/export/copy.h"
#include "record/export/csv.h"
#include "record/export/events.h"
#include "record/journalcheck.h"
#include "record/sampledb.h"

#include "common/datadir.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVariant>

#include <cstdio>
#include <functional>
#include <sqlite3.h>

using namespace station;

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr qint64 kFlushBytes = 64 * 1024;

int fail(int code, const QString &message)
{
    std::fprintf(stderr, "lx6100-export: %s\n", qPrintable(message));
    return code;
}

int backup(sampledb::Connection &source, const QString &target)
{
    if (exporttool::isDatabaseFile(target, source.path()))
        return fail(kFailed, QStringLiteral("%1 is the database or one of its -wal, -shm, -journal files").arg(target));
    if (exporttool::hasCompanions(target))
        return fail(kFailed, QStringLiteral("%1 has a -wal or -shm beside it, which SQLite would replay into the "
                                            "copy: remove them or choose another name").arg(target));
    sqlite3 *from = source.handle();
    if (!from)
        return fail(kFailed, QStringLiteral("no SQLite handle for %1").arg(source.path()));
    const QString error = exporttool::copyDatabase(from, target, false);
    if (!error.isEmpty())
        return fail(kFailed, QStringLiteral("cannot write %1: %2").arg(target, error));
    return 0;
}

// Lines for the CSV, each with its line end; false from the sink stops the
// reading. Returns false when the rows could not be read (*error says why).
using Producer = std::function<bool(const std::function<bool(const QString &)> &sink, QString *error)>;

// Writes header and the produced lines to output (a file, or standard output
// for "" and "-"); a file is removed again when it could not be written whole.
int writeCsv(const QString &path, const QString &output, const QString &header, const Producer &produce)
{
    QFile out;
    const bool toFile = !output.isEmpty() && output != QLatin1String("-");
    if (toFile && exporttool::isDatabaseFile(output, path))
        return fail(kFailed, QStringLiteral("%1 is the database or one of its -wal, -shm, -journal files").arg(output));
    if (toFile) {
        out.setFileName(output);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(kFailed, QStringLiteral("cannot write %1: %2").arg(output, out.errorString()));
    } else if (!out.open(fileno(stdout), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        return fail(kFailed, QStringLiteral("cannot write to standard output"));
    }
    const QString where = toFile ? output : QStringLiteral("standard output");

    QByteArray pending = header.toUtf8();
    bool written = true;
    const auto flush = [&] {
        written = written && out.write(pending) == pending.size();
        pending.clear();
        return written;
    };
    QString readError;
    const bool read = produce([&](const QString &line) {
        pending += line.toUtf8();
        return pending.size() < kFlushBytes || flush();
    }, &readError);
    flush();
    written = written && out.flush();
    if (toFile)
        out.close();
    written = written && out.error() == QFileDevice::NoError;
    if (!written) {
        const QString reason = out.errorString();
        if (toFile)
            QFile::remove(output);
        return fail(kFailed, QStringLiteral("cannot write %1: %2").arg(where, reason));
    }
    if (!read)
        return fail(kFailed, QStringLiteral("cannot read %1: %2").arg(path, readError));
    return 0;
}

// source is null for an empty file (SQLite's empty database): the header alone.
int exportCsv(sampledb::Connection *source, const QString &path, std::optional<sampledb::Moment> from,
              std::optional<sampledb::Moment> to, bool raw, const QString &output)
{
    return writeCsv(path, output, exporttool::headerLine(), [&](const auto &sink, QString *error) {
        return !source
            || sampledb::readSamples(
                source->database(), from, to,
                [&](const sampledb::RecordedRow &r) { return sink(exporttool::sampleLine(r, raw)); }, error);
    });
}

int exportEvents(sampledb::Connection *source, const QString &path, std::optional<sampledb::Moment> from,
                 std::optional<sampledb::Moment> to, const QString &output)
{
    return writeCsv(path, output, exporttool::eventHeaderLine(), [&](const auto &sink, QString *error) {
        sqlite3 *db = source ? source->handle() : nullptr;
        if (!db || !journal::hasTable(db))
            return true;  // no journal: the header alone
        return journal::readRows(db, [&](const journal::Row &row) {
            const QString line = exporttool::eventLine(row, from, to);
            return line.isEmpty() || sink(line);
        }, error);
    });
}

int verify(sampledb::Connection *source, const QString &path)
{
    sqlite3 *db = source ? source->handle() : nullptr;
    if (!db)
        return fail(kFailed, QStringLiteral("%1 holds no sample tables").arg(path));
    const journal::CheckResult result = journal::checkDatabase(db);
    if (!result.fits)
        return fail(kFailed, QStringLiteral("%1: %2").arg(path, result.line));
    std::printf("%s\n", qPrintable(result.line));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    useStationApplicationName();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the samples of the LX6100 station's database as CSV, or a consistent copy of it.\n"
        "Safe while the station records: the database is only read."));
    parser.addHelpOption();
    const QCommandLineOption dbOption(QStringLiteral("db"), QStringLiteral("The sample database (default: %1).")
                                          .arg(sampledb::defaultPath()), QStringLiteral("file"));
    const QCommandLineOption fromOption(QStringLiteral("from"),
        QStringLiteral("First sample time, local: yyyy-MM-dd[THH:mm[:ss]] (default: the oldest)."), QStringLiteral("time"));
    const QCommandLineOption toOption(QStringLiteral("to"),
        QStringLiteral("Last sample time, local; a date alone means its last second (default: the newest)."), QStringLiteral("time"));
    const QCommandLineOption rawOption(QStringLiteral("raw"), QStringLiteral("Values as stored, not scaled as the station shows them."));
    const QCommandLineOption outputOption(QStringLiteral("output"), QStringLiteral("Write the CSV to this file (default: standard output)."), QStringLiteral("file"));
    const QCommandLineOption backupOption(QStringLiteral("backup"), QStringLiteral("Write a consistent copy of the database to this file instead."), QStringLiteral("file"));
    const QCommandLineOption eventsOption(QStringLiteral("events"),
        QStringLiteral("Write the event journal as CSV instead, in the order it was written; --from and --to "
                       "select events by their local time."));
    const QCommandLineOption verifyOption(QStringLiteral("verify"),
        QStringLiteral("Check the event journal's chain and the sample table's pointer: one line, exit 0 when "
                       "everything fits, 1 naming the first row that does not."));
    const QCommandLineOption restoreOption(QStringLiteral("restore"),
        QStringLiteral("Put this backup in place of the database (refused while a station runs on it); "
                       "the current database is kept aside as <database>.old-<time>."), QStringLiteral("backup"));
    parser.addOptions({dbOption, fromOption, toOption, rawOption, outputOption, eventsOption, verifyOption, backupOption,
                       restoreOption});
    if (!parser.parse(app.arguments()))
        return fail(kUsage, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(kUsage, QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    std::optional<sampledb::Moment> from;
    std::optional<sampledb::Moment> to;
    if (parser.isSet(fromOption) && !(from = exporttool::parseLocalTime(parser.value(fromOption), false)))
        return fail(kUsage, QStringLiteral("bad time for --from: %1").arg(parser.value(fromOption)));
    if (parser.isSet(toOption) && !(to = exporttool::parseLocalTime(parser.value(toOption), true)))
        return fail(kUsage, QStringLiteral("bad time for --to: %1").arg(parser.value(toOption)));
    if (from && to && from->value() > to->value())
        return fail(kUsage, QStringLiteral("--from lies after --to"));
    const bool events = parser.isSet(eventsOption);
    const bool verifying = parser.isSet(verifyOption);
    if (events && (parser.isSet(rawOption) || verifying || parser.isSet(backupOption) || parser.isSet(restoreOption)))
        return fail(kUsage, QStringLiteral("--events takes no other option but --db, --from, --to and --output"));
    if (verifying && (from || to || parser.isSet(rawOption) || parser.isSet(outputOption) || parser.isSet(backupOption)
                      || parser.isSet(restoreOption)))
        return fail(kUsage, QStringLiteral("--verify checks the whole database; it takes no other option but --db"));
    if (parser.isSet(backupOption) && (from || to || parser.isSet(rawOption) || parser.isSet(outputOption)))
        return fail(kUsage, QStringLiteral("--backup copies the whole database; it takes no other option but --db"));
    if (parser.isSet(restoreOption) && (from || to || parser.isSet(rawOption) || parser.isSet(outputOption)
                                        || parser.isSet(backupOption)))
        return fail(kUsage, QStringLiteral("--restore replaces the whole database; it takes no other option but --db"));

    const QString path = parser.isSet(dbOption) ? parser.value(dbOption) : sampledb::defaultPath();
    if (parser.isSet(restoreOption)) {
        const exporttool::Outcome outcome = exporttool::restore(parser.value(restoreOption), path);
        if (outcome.code != 0)
            return fail(outcome.code, outcome.message);
        std::printf("%s\n", qPrintable(outcome.message));
        return 0;
    }
    if (!QFileInfo(path).isFile())
        return fail(kFailed, QStringLiteral("no database file %1").arg(path));
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly))
            return fail(kFailed, QStringLiteral("cannot read %1: %2").arg(path, probe.errorString()));
    }
    const sampledb::FileState state = sampledb::fileStateAt(path);
    if (state == sampledb::FileState::NotDatabase)
        return fail(kFailed, QStringLiteral("%1 is not an SQLite database").arg(path));
    if (state == sampledb::FileState::Empty) {
        // SQLite's empty database: no rows to export, nothing to back up.
        if (parser.isSet(backupOption))
            return fail(kFailed, QStringLiteral("%1 is empty: nothing to back up").arg(path));
        if (verifying)
            return verify(nullptr, path);
        if (events)
            return exportEvents(nullptr, path, from, to, parser.value(outputOption));
        return exportCsv(nullptr, path, from, to, parser.isSet(rawOption), parser.value(outputOption));
    }

    int result = 0;
    {
        sampledb::Connection source(QStringLiteral("export"), path, sampledb::Access::ReadOnly);
        if (!source.open())
            return fail(kFailed, QStringLiteral("cannot open %1: %2").arg(path, source.lastError()));
        if (parser.isSet(backupOption))
            result = backup(source, parser.value(backupOption));
        else if (verifying)
            result = verify(&source, path);
        else if (events)
            result = exportEvents(&source, path, from, to, parser.value(outputOption));
        else
            result = exportCsv(&source, path, from, to, parser.isSet(rawOption), parser.value(outputOption));
    }
    return result;
}
