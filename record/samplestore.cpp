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

void logFailure(const QSqlDatabase &db, const QString &what, const QSqlQuery &q)
{
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
    const bool exists = find.next();
    find.finish();

    QSqlQuery write(db);
    if (exists) {
        QStringList sets;
        for (const QString &name : *rowNames)
            sets << name + QLatin1String("=?");
        write.prepare(QLatin1String("UPDATE pv_data SET ") + sets.join(QLatin1Char(','))
                      + QLatin1String(" WHERE ") + rowNames->at(col::kId) + QLatin1String("=?"));
    } else {
        write.prepare(QLatin1String("INSERT INTO pv_data (") + rowNames->join(QLatin1Char(','))
                      + QLatin1String(") VALUES (") + QStringList(col::kRowColumns, QStringLiteral("?")).join(QLatin1Char(','))
                      + QLatin1Char(')'));
    }
    write.addBindValue(s.id);
    write.addBindValue(s.date);
    write.addBindValue(s.time);
    for (float v : s.values)
        write.addBindValue(double(v));  // a float is exact as a double
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

SaveResult saveSample(QSqlDatabase &db, const Sample &sample)
{
    // IMMEDIATE takes the write lock at once, so a busy file fails here (after
    // the busy timeout) and not halfway through the writes.
    if (!run(db, QStringLiteral("BEGIN IMMEDIATE")))
        return SaveResult::Failed;
    if (writeRowAndPointer(db, sample) && run(db, QStringLiteral("COMMIT")))
        return SaveResult::Saved;
    QSqlQuery rollback(db);
    rollback.exec(QStringLiteral("ROLLBACK"));  // fails harmlessly when SQLite already rolled back
    return SaveResult::Failed;
}

} // namespace station::sampledb
