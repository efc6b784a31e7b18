// Fixtures of the chart tests: a clock the test sets, sample database files
// built with the record library's own schema, and records written into them.
#pragma once

#include "common/datenum.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace station::test {

class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start) : m_now(std::move(start)) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &t) { m_now = t; }
    void advance(int seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};

struct Record {
    std::int32_t id = 0;
    double date = 0;
    double time = 0;
    std::array<float, 10> values{};
    std::optional<bool> live; // w_live; unset leaves it NULL (unknown)
};

// A record dated at the given moment, value column 0 = the id (so a test can
// tell which row went into a slot) unless values are given.
Record recordAt(std::int32_t id, const QDateTime &when);

// A sample database file in the test's data folder, created with the record
// library's schema and opened on its own connection.
class SampleFile {
public:
    explicit SampleFile(const QString &name);
    ~SampleFile();
    SampleFile(const SampleFile &) = delete;
    SampleFile &operator=(const SampleFile &) = delete;

    QSqlDatabase database() const;
    QString connectionName() const { return m_name; }
    QString path() const { return m_path; }

    // Inserts or replaces the records in one transaction. A record with its
    // live state set gives the file the recorder's w_live column first, as
    // the recorder adds it to an older file.
    bool write(const QList<Record> &records);
    bool setPointer(std::int32_t newest, std::int32_t copy);
    bool exec(const QString &sql);

private:
    QString m_name;
    QString m_path;
};

// A path in the test's data folder that holds no file.
QString missingFilePath(const QString &name);

} // namespace station::test
