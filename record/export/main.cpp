// lx6100-export: reads the station's sample database beside a running station
// and writes its samples as CSV, or a consistent copy of the whole file.
//
//   lx6100-export [--db FILE] [--from TIME] [--to TIME] [--raw] [--output FILE]
//   lx6100-export [--db FILE] --backup FILE
//
// The database is opened read-only ("mode=ro"), through its WAL, with the
// station's busy timeout: a WAL reader never blocks the recorder's writes, and
// the tool waits at most that time-out for a lock. A database without a -wal
// (no station has it open) is read as an immutable file, so the tool leaves no
// -wal or -shm of its own beside it. The rows are read in one
// read transaction, so the export is one snapshot of the ring; the backup uses
// SQLite's online backup API in one step, also one snapshot. Every failure is
// one line on standard error and a non-zero exit: 1 for a file that cannot be
// read or written, 2 for a wrong command line.
#include "record/export/csv.h"
#include "record/sampledb.h"

#include "common/datadir.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QVariant>

#include <cstdio>
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

sqlite3 *handleOf(const QSqlDatabase &db)
{
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(v.constData());
}

QString sqliteError(sqlite3 *db, int rc)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
}

// Whether writing target would overwrite the database or one of the files
// SQLite keeps beside it (-wal, -shm, -journal): the same file under another
// name or link, or the companion's name, which may not exist yet.
bool isDatabaseFile(const QString &target, const QString &database)
{
    const QFileInfo db(QFileInfo(database).canonicalFilePath());
    const QFileInfo out(target);
    const auto outId = sampledb::Connection::identityOf(target);
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
        const QString file = db.filePath() + QLatin1String(suffix);
        if (outId.valid && outId == sampledb::Connection::identityOf(file))
            return true;
        if (out.fileName() == db.fileName() + QLatin1String(suffix)
            && out.absoluteDir().canonicalPath() == db.absolutePath())
            return true;
    }
    return false;
}

int backup(sampledb::Connection &source, const QString &target)
{
    if (isDatabaseFile(target, source.path()))
        return fail(kFailed, QStringLiteral("%1 is the database or one of its -wal, -shm, -journal files").arg(target));
    sqlite3 *from = handleOf(source.database());
    if (!from)
        return fail(kFailed, QStringLiteral("no SQLite handle for %1").arg(source.path()));

    // Into a new file beside the target, renamed over it when complete.
    const QString part = target + QLatin1String(".part");
    QFile::remove(part);
    sqlite3 *to = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(part).constData(), &to,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    QString error;
    if (rc == SQLITE_OK) {
        sqlite3_backup *b = sqlite3_backup_init(to, "main", from, "main");
        if (!b) {
            rc = sqlite3_errcode(to);
        } else {
            // All pages in one step: one read transaction, one snapshot.
            rc = sqlite3_backup_step(b, -1);
            const int finished = sqlite3_backup_finish(b);
            if (rc == SQLITE_DONE)
                rc = finished;
        }
        if (rc != SQLITE_OK)
            error = sqliteError(to, rc);
    } else {
        error = sqliteError(to, rc);
    }
    const int closed = sqlite3_close(to);
    if (rc == SQLITE_OK && closed != SQLITE_OK) {
        rc = closed;
        error = QString::fromUtf8(sqlite3_errstr(closed));
    }
    if (rc != SQLITE_OK) {
        QFile::remove(part);
        QFile::remove(part + QLatin1String("-journal"));
        return fail(kFailed, QStringLiteral("cannot write %1: %2").arg(target, error));
    }
    QFile::remove(target);
    if (!QFile::rename(part, target)) {
        QFile::remove(part);
        return fail(kFailed, QStringLiteral("cannot write %1").arg(target));
    }
    return 0;
}

int exportCsv(sampledb::Connection &source, std::optional<sampledb::Moment> from,
              std::optional<sampledb::Moment> to, bool raw, const QString &output)
{
    QFile out;
    const bool toFile = !output.isEmpty() && output != QLatin1String("-");
    if (toFile && isDatabaseFile(output, source.path()))
        return fail(kFailed, QStringLiteral("%1 is the database or one of its -wal, -shm, -journal files").arg(output));
    if (toFile) {
        out.setFileName(output);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(kFailed, QStringLiteral("cannot write %1: %2").arg(output, out.errorString()));
    } else if (!out.open(fileno(stdout), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        return fail(kFailed, QStringLiteral("cannot write to standard output"));
    }
    const QString where = toFile ? output : QStringLiteral("standard output");

    QByteArray pending = exporttool::headerLine().toUtf8();
    bool written = true;
    const auto flush = [&] {
        written = written && out.write(pending) == pending.size();
        pending.clear();
        return written;
    };
    QString readError;
    const bool read = sampledb::readSamples(
        source.database(), from, to,
        [&](const sampledb::Sample &s) {
            pending += exporttool::sampleLine(s, raw).toUtf8();
            return pending.size() < kFlushBytes || flush();
        },
        &readError);
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
        return fail(kFailed, QStringLiteral("cannot read %1: %2").arg(source.path(), readError));
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
    parser.addOptions({dbOption, fromOption, toOption, rawOption, outputOption, backupOption});
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
    if (parser.isSet(backupOption) && (from || to || parser.isSet(rawOption) || parser.isSet(outputOption)))
        return fail(kUsage, QStringLiteral("--backup copies the whole database; it takes no other option but --db"));

    const QString path = parser.isSet(dbOption) ? parser.value(dbOption) : sampledb::defaultPath();
    if (!QFileInfo(path).isFile())
        return fail(kFailed, QStringLiteral("no database file %1").arg(path));
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly))
            return fail(kFailed, QStringLiteral("cannot read %1: %2").arg(path, probe.errorString()));
    }
    if (!sampledb::hasDatabaseHeader(path))
        return fail(kFailed, QStringLiteral("%1 is not an SQLite database").arg(path));

    int result = 0;
    {
        sampledb::Connection source(QStringLiteral("export"), path, sampledb::Access::ReadOnly);
        if (!source.open())
            return fail(kFailed, QStringLiteral("cannot open %1: %2").arg(path, source.lastError()));
        result = parser.isSet(backupOption) ? backup(source, parser.value(backupOption))
                                            : exportCsv(source, from, to, parser.isSet(rawOption),
                                                        parser.value(outputOption));
    }
    return result;
}
