#include "tests/record/dbprobe.h"

#include <QFile>
#include <QStringList>
#include <sqlite3.h>

namespace station::test {

DbProbe::DbProbe(const QString &path)
    : m_path(path)
{
    // No SQLITE_OPEN_CREATE: a probe never makes a file appear.
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, "unix")
        != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_busy_timeout(m_db, 2000);
}

DbProbe::~DbProbe()
{
    if (m_db)
        sqlite3_close(m_db);
}

bool DbProbe::endAsKilled(bool keepShm)
{
    if (!m_db)
        return false;
    QStringList kept{QString(), QStringLiteral("-wal")};
    if (keepShm)
        kept << QStringLiteral("-shm");
    bool ok = true;
    for (const QString &suffix : kept)
        ok = QFile::copy(m_path + suffix, m_path + suffix + ".killed") && ok;
    sqlite3_close(m_db);
    m_db = nullptr;
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(m_path + suffix);
    for (const QString &suffix : kept)
        ok = QFile::rename(m_path + suffix + ".killed", m_path + suffix) && ok;
    return ok;
}

QString DbProbe::error() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("not open");
}

bool DbProbe::exec(const QString &sql)
{
    return m_db && sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<QList<QVariantList>> DbProbe::rows(const QString &sql)
{
    if (!m_db)
        return std::nullopt;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        return std::nullopt;
    QList<QVariantList> result;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QVariantList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            switch (sqlite3_column_type(stmt, i)) {
            case SQLITE_INTEGER: row << QVariant(qint64(sqlite3_column_int64(stmt, i))); break;
            case SQLITE_FLOAT: row << QVariant(sqlite3_column_double(stmt, i)); break;
            case SQLITE_NULL: row << QVariant(); break;
            default:
                row << QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i))));
            }
        }
        result << row;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return result;
}

QVariant DbProbe::scalar(const QString &sql)
{
    const auto r = rows(sql);
    if (!r || r->isEmpty() || r->first().isEmpty())
        return QVariant();
    return r->first().first();
}

std::optional<QVariantList> DbProbe::control()
{
    const auto r = rows(QStringLiteral("SELECT * FROM sl_void"));
    if (!r || r->isEmpty())
        return std::nullopt;
    return r->first();
}

std::optional<StoredRow> DbProbe::row(qint64 id)
{
    const auto r = rows(QStringLiteral("SELECT * FROM pv_data WHERE rowid=%1").arg(id));
    if (!r || r->size() != 1 || r->first().size() < 13)
        return std::nullopt;
    const QVariantList &v = r->first();
    StoredRow row;
    row.id = v[0].toLongLong();
    row.date = v[1].toDouble();
    row.time = v[2].toDouble();
    for (int i = 0; i < 10; ++i)
        row.values[size_t(i)] = v[3 + i].toDouble();
    return row;
}

bool writeDatabase(const QString &path, qint64 pointer, qint64 first, qint64 last, double fill)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, "unix") != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    QString sql = QStringLiteral(
        "PRAGMA journal_mode=WAL;"
        "BEGIN;"
        "CREATE TABLE pv_data (w_id INTEGER PRIMARY KEY, w_date REAL, w_time REAL,"
        " v0 REAL, v1 REAL, v2 REAL, v3 REAL, v4 REAL, v5 REAL, v6 REAL, v7 REAL, v8 REAL, v9 REAL);"
        "CREATE TABLE sl_void (sl_pointer INTEGER, sl_copy INTEGER, sl_spare INTEGER);"
        "INSERT INTO sl_void VALUES (%1, %1, 0);")
                      .arg(pointer);
    if (last >= first) {
        sql += QStringLiteral(
                   "WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2)"
                   " INSERT INTO pv_data SELECT i, 45000, 0.5, %3, %3, %3, %3, %3, %3, %3, %3, %3, %3 FROM n;")
                   .arg(first)
                   .arg(last)
                   .arg(fill);
    }
    sql += QStringLiteral("COMMIT;");
    const bool ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

} // namespace station::test
