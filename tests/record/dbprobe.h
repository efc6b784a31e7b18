// A look into the sample database that does not go through the code under test:
// SQLite's C API on the plain "unix" file system layer (so the fault layer of
// the fault tests never touches it), columns reached by position.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <array>
#include <optional>

struct sqlite3;

namespace station::test {

struct StoredRow {
    qint64 id = 0;
    double date = 0;
    double time = 0;
    std::array<double, 10> values{};
};

class DbProbe {
public:
    explicit DbProbe(const QString &path);
    ~DbProbe();
    DbProbe(const DbProbe &) = delete;
    DbProbe &operator=(const DbProbe &) = delete;

    bool isOpen() const { return m_db != nullptr; }
    QString error() const;

    bool exec(const QString &sql);
    // Rows of a query, each a list of its column values; nullopt when it fails.
    std::optional<QList<QVariantList>> rows(const QString &sql);
    // The first column of the first row; invalid when there is none.
    QVariant scalar(const QString &sql);

    // sl_void's first row, positions 0..2 as stored.
    std::optional<QVariantList> control();
    qint64 pointer()
    {
        const auto c = control();
        return c ? c->at(0).toLongLong() : -1;
    }
    qint64 rowCount() { return scalar(QStringLiteral("SELECT count(*) FROM pv_data")).toLongLong(); }
    std::optional<StoredRow> row(qint64 id);
    QString integrity() { return scalar(QStringLiteral("PRAGMA integrity_check")).toString(); }

    // Ends the connection as a kill would: the database and its -wal stay as
    // they are now (a close would checkpoint the -wal and remove it), and so
    // does the -shm when `keepShm`; without it there is none afterwards.
    // False when a file could not be kept.
    bool endAsKilled(bool keepShm);

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
};

// Writes a sample database of our schema with raw SQL: pointer in sl_void and
// rows ids first..last holding value `fill` in every value column.
bool writeDatabase(const QString &path, qint64 pointer, qint64 first = 0, qint64 last = -1, double fill = -1);

} // namespace station::test
