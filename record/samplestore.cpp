#include "record/samplestore.h"

#include "common/logging.h"
#include "common/numbers.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <algorithm>

namespace station::sampledb {

namespace {

QString quoted(const QString &name)
{
    QString text = name;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// SQLite's primary result code of the last failure logged on this thread.
thread_local int g_lastCode = 0;

void logFailure(const QSqlDatabase &db, const QString &what, const QSqlQuery &q)
{
    g_lastCode = q.lastError().nativeErrorCode().toInt() & 0xff;
    qCInfo(lcRecord) << db.connectionName() << what << "failed:" << q.lastError().text();
}

bool run(QSqlDatabase &db, const QString &text)
{
    QSqlQuery q(db);
    if (q.exec(text))
        return true;
    logFailure(db, text, q);
    return false;
}

// Column names of the first `count` positions of a query's record.
std::optional<QStringList> namesOf(const QSqlRecord &record, int count)
{
    if (record.count() < count)
        return std::nullopt;
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << quoted(record.fieldName(i));
    return names;
}

// The row and the pointer, inside the open transaction.
bool writeRowAndPointer(QSqlDatabase &db, const Sample &s)
{
    QSqlQuery find(db);
    const QString findText = selectRowQuery(s.id);
    if (!find.exec(findText)) {
        logFailure(db, findText, find);
        return false;
    }
    const auto rowNames = namesOf(find.record(), col::kRowColumns);
    if (!rowNames) {
        qCInfo(lcRecord) << "pv_data has fewer than" << col::kRowColumns << "columns";
        return false;
    }
    // The live state and UTC time go to positions 13 and 14 when the table has
    // them under their names (upgradeSchema() adds them).
    const QSqlRecord rowRecord = find.record();
    const bool extended = rowRecord.count() >= col::kAllColumns
        && rowRecord.fieldName(col::kLive) == QLatin1String("w_live")
        && rowRecord.fieldName(col::kUtc) == QLatin1String("w_utc");
    QStringList names = *rowNames;
    if (extended)
        names << quoted(rowRecord.fieldName(col::kLive)) << quoted(rowRecord.fieldName(col::kUtc));
    const bool exists = find.next();
    find.finish();

    QSqlQuery write(db);
    if (exists) {
        QStringList sets;
        for (const QString &name : names)
            sets << name + QLatin1String("=?");
        write.prepare(QLatin1String("UPDATE pv_data SET ") + sets.join(QLatin1Char(','))
                      + QLatin1String(" WHERE ") + rowNames->at(col::kId) + QLatin1String("=?"));
    } else {
        write.prepare(QLatin1String("INSERT INTO pv_data (") + names.join(QLatin1Char(','))
                      + QLatin1String(") VALUES (") + QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(','))
                      + QLatin1Char(')'));
    }
    write.addBindValue(s.id);
    write.addBindValue(s.date);
    write.addBindValue(s.time);
    for (float v : s.values)
        write.addBindValue(double(v));  // a float is exact as a double
    if (extended) {
        write.addBindValue(s.live ? QVariant(int(*s.live)) : QVariant(QMetaType::fromType<int>()));
        write.addBindValue(s.utc ? QVariant(*s.utc) : QVariant(QMetaType::fromType<qint64>()));
    }
    if (exists)
        write.addBindValue(s.id);
    if (!write.exec() || write.numRowsAffected() < 1) {
        logFailure(db, exists ? QStringLiteral("row update") : QStringLiteral("row insert"), write);
        return false;
    }

    QSqlQuery control(db);
    if (!control.exec(QLatin1String(kSelectControl))) {
        logFailure(db, QLatin1String(kSelectControl), control);
        return false;
    }
    const QSqlRecord controlRecord = control.record();
    const auto controlNames = namesOf(controlRecord, col::kPointerCopy + 1);
    const bool hasRow = control.next();
    control.finish();
    if (!controlNames) {
        qCInfo(lcRecord) << "sl_void has too few columns";
        return false;
    }
    if (!hasRow) {
        // The table lost its one row: it gets it back, pointer 0, and the
        // update below moves the pointer on as for any other row.
        const auto names = namesOf(controlRecord, std::min(controlRecord.count(), col::kSpare + 1));
        QSqlQuery insert(db);
        insert.prepare(QLatin1String("INSERT INTO sl_void (") + names->join(QLatin1Char(','))
                       + QLatin1String(") VALUES (") + QStringList(names->size(), QStringLiteral("0")).join(QLatin1Char(','))
                       + QLatin1Char(')'));
        if (!insert.exec()) {
            logFailure(db, QStringLiteral("control row insert"), insert);
            return false;
        }
        qCInfo(lcRecord) << "sl_void was empty: its row is written again";
    }
    // The first row, as "select * from  sl_void" returns it.
    QSqlQuery pointer(db);
    pointer.prepare(QLatin1String("UPDATE sl_void SET ") + controlNames->at(col::kPointer)
                    + QLatin1String("=?,") + controlNames->at(col::kPointerCopy)
                    + QLatin1String("=? WHERE rowid=(SELECT min(rowid) FROM sl_void)"));
    pointer.addBindValue(s.id);
    pointer.addBindValue(s.id);
    if (!pointer.exec() || pointer.numRowsAffected() != 1) {
        logFailure(db, QStringLiteral("pointer update"), pointer);
        return false;
    }
    return true;
}

} // namespace

PointerRead readPointer(QSqlDatabase &db)
{
    PointerRead result;
    QSqlQuery q(db);
    if (!q.exec(QLatin1String(kSelectControl))) {
        logFailure(db, QLatin1String(kSelectControl), q);
        return result;
    }
    if (!q.next()) {
        qCDebug(lcRecord) << "sl_void has no row";
        result.status = PointerRead::Status::NoRow;
        return result;
    }
    result.status = PointerRead::Status::Read;
    const QVariant pointer = q.value(col::kPointer);
    bool ok = false;
    const double value = pointer.isNull() ? 0.0 : pointer.toDouble(&ok);
    if (ok)
        result.pointer = toInt32(value);
    if (q.record().count() > col::kSpare)
        (void)q.value(col::kSpare);  // read on every tick as it always was; not used
    return result;
}

SaveResult saveSample(QSqlDatabase &db, const Sample &sample, int *sqliteCode)
{
    g_lastCode = 0;
    const auto failed = [sqliteCode] {
        if (sqliteCode)
            *sqliteCode = g_lastCode;
        return SaveResult::Failed;
    };
    if (sqliteCode)
        *sqliteCode = 0;
    // IMMEDIATE takes the write lock at once, so a busy file fails here (after
    // the busy timeout) and not halfway through the writes.
    if (!run(db, QStringLiteral("BEGIN IMMEDIATE")))
        return failed();
    if (writeRowAndPointer(db, sample) && run(db, QStringLiteral("COMMIT")))
        return SaveResult::Saved;
    QSqlQuery rollback(db);
    rollback.exec(QStringLiteral("ROLLBACK"));  // fails harmlessly when SQLite already rolled back
    return failed();
}

Schema upgradeSchema(QSqlDatabase &db)
{
    QSqlQuery tables(db);
    if (!tables.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"))) {
        logFailure(db, QStringLiteral("reading the tables"), tables);
        return Schema::Failed;
    }
    QStringList names;
    while (tables.next())
        names << tables.value(0).toString().toLower();
    if (!names.contains(QLatin1String("pv_data")) || !names.contains(QLatin1String("sl_void")))
        return Schema::NoTables;

    QSqlQuery columns(db);
    if (!columns.exec(QStringLiteral("select * from  pv_data where 0"))) {
        logFailure(db, QStringLiteral("reading pv_data's columns"), columns);
        return Schema::Failed;
    }
    const QSqlRecord record = columns.record();
    columns.finish();
    const auto nameAt = [&record](int i) { return i < record.count() ? record.fieldName(i) : QString(); };
    QStringList adds;
    if (record.count() == col::kRowColumns)
        adds << QStringLiteral("w_live INTEGER") << QStringLiteral("w_utc INTEGER");
    else if (record.count() == col::kLive + 1 && nameAt(col::kLive) == QLatin1String("w_live"))
        adds << QStringLiteral("w_utc INTEGER");
    else if (record.count() >= col::kAllColumns && nameAt(col::kLive) == QLatin1String("w_live")
             && nameAt(col::kUtc) == QLatin1String("w_utc"))
        return Schema::Complete;
    else
        return Schema::Kept;
    if (!run(db, QStringLiteral("BEGIN IMMEDIATE")))
        return Schema::Failed;
    bool ok = true;
    for (const QString &add : adds)
        ok = ok && run(db, QStringLiteral("ALTER TABLE pv_data ADD COLUMN ") + add);
    if (ok && run(db, QStringLiteral("COMMIT"))) {
        qCInfo(lcRecord) << "pv_data gained w_live and w_utc";
        return Schema::Upgraded;
    }
    run(db, QStringLiteral("ROLLBACK"));
    return Schema::Failed;
}

} // namespace station::sampledb
