#include "tests/chart/chartfixtures.h"

#include "common/datadir.h"
#include "record/sampledb.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>

namespace station::test {

Record recordAt(std::int32_t id, const QDateTime &when)
{
    Record r;
    r.id = id;
    r.date = dayNumber(when.date());
    r.time = dayFraction(when.time());
    r.values[0] = float(id);
    return r;
}

SampleFile::SampleFile(const QString &name)
    : m_name(name)
    , m_path(QDir(dataDir()).filePath(name + QStringLiteral(".db")))
{
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(m_path + QLatin1String(suffix));
    if (!sampledb::create(m_path))
        qWarning("cannot create %s", qPrintable(m_path));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(m_path);
    if (!db.open())
        qWarning("cannot open %s: %s", qPrintable(m_path), qPrintable(db.lastError().text()));
}

SampleFile::~SampleFile()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase SampleFile::database() const
{
    return QSqlDatabase::database(m_name, false);
}

bool SampleFile::write(const QList<Record> &records)
{
    QSqlDatabase db = database();
    const bool withLive = std::any_of(records.cbegin(), records.cend(), [](const Record &r) { return r.live; });
    if (withLive && !db.record(QStringLiteral("pv_data")).contains(QStringLiteral("w_live"))
        && !exec(QStringLiteral("ALTER TABLE pv_data ADD COLUMN w_live INTEGER")))
        return false;
    if (!db.transaction())
        return false;
    QSqlQuery q(db);
    const QString columns = QStringLiteral("w_id, w_date, w_time, v0, v1, v2, v3, v4, v5, v6, v7, v8, v9");
    const QString text = withLive
        ? QStringLiteral("INSERT OR REPLACE INTO pv_data (%1, w_live) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)").arg(columns)
        : QStringLiteral("INSERT OR REPLACE INTO pv_data (%1) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)").arg(columns);
    if (!q.prepare(text))
        return false;
    for (const Record &r : records) {
        q.bindValue(0, r.id);
        q.bindValue(1, r.date);
        q.bindValue(2, r.time);
        for (int j = 0; j < 10; ++j)
            q.bindValue(3 + j, double(r.values[j]));
        if (withLive)
            q.bindValue(13, r.live ? QVariant(int(*r.live)) : QVariant(QMetaType(QMetaType::Int)));
        if (!q.exec()) {
            qWarning("insert failed: %s", qPrintable(q.lastError().text()));
            db.rollback();
            return false;
        }
    }
    return db.commit();
}

bool SampleFile::setPointer(std::int32_t newest, std::int32_t copy)
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE sl_void SET sl_pointer = ?, sl_copy = ?"));
    q.bindValue(0, newest);
    q.bindValue(1, copy);
    return q.exec();
}

bool SampleFile::exec(const QString &sql)
{
    QSqlQuery q(database());
    if (q.exec(sql))
        return true;
    qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    return false;
}

QString missingFilePath(const QString &name)
{
    const QString path = QDir(dataDir()).filePath(name);
    QFile::remove(path);
    return path;
}

} // namespace station::test
