#include "record/journal.h"

#include "common/logging.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#include <sqlite3.h>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace station::journal {

namespace {

struct KindRow {
    Kind kind;
    const char *name;
};

constexpr std::array<KindRow, 11> kKinds{{
    {Kind::Start, "start"},
    {Kind::End, "end"},
    {Kind::UncleanEnd, "unclean-end"},
    {Kind::Open, "open"},
    {Kind::Close, "close"},
    {Kind::LinkLost, "link-lost"},
    {Kind::LinkBack, "link-back"},
    {Kind::Write, "write"},
    {Kind::ClockJump, "clock-jump"},
    {Kind::Recorder, "recorder"},
    {Kind::EventsLost, "events-lost"},
}};

constexpr int kHashBytes = 32;
constexpr int kHashHexDigits = 2 * kHashBytes;

const char kCreate[] =
    "CREATE TABLE IF NOT EXISTS event_log ("
    "e_seq INTEGER PRIMARY KEY, e_local TEXT NOT NULL, e_utc INTEGER NOT NULL, "
    "e_user TEXT NOT NULL, e_kind TEXT NOT NULL, e_details TEXT NOT NULL, e_hash TEXT NOT NULL)";
const char kColumns[] = "e_seq, e_local, e_utc, e_user, e_kind, e_details, e_hash";

// One prepared statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3 *db, const QByteArray &sql) : m_db(db)
    {
        m_ok = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &m_stmt, nullptr) == SQLITE_OK;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_ok; }
    sqlite3_stmt *get() const { return m_stmt; }
    QString error() const { return QString::fromUtf8(sqlite3_errmsg(m_db)); }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    bool m_ok = false;
};

bool exec(sqlite3 *db, const char *sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    const QString why = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    qCInfo(lcRecord) << "journal:" << sql << "failed:" << why;
    if (error)
        *error = why;
    return false;
}

Value columnValue(sqlite3_stmt *stmt, int i)
{
    Value v;
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
        v.type = Value::Type::Integer;
        v.integer = sqlite3_column_int64(stmt, i);
        break;
    case SQLITE_FLOAT:
        v.type = Value::Type::Real;
        v.real = sqlite3_column_double(stmt, i);
        break;
    case SQLITE_TEXT:
        v.type = Value::Type::Text;
        v.bytes = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)), sqlite3_column_bytes(stmt, i));
        break;
    case SQLITE_BLOB:
        v.type = Value::Type::Blob;
        v.bytes = QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, i)), sqlite3_column_bytes(stmt, i));
        break;
    default:
        break;
    }
    return v;
}

Row rowOf(sqlite3_stmt *stmt)
{
    Row row;
    for (int i = 0; i < col::kCount; ++i)
        row[std::size_t(i)] = columnValue(stmt, i);
    return row;
}

void encode(QByteArray &out, const Value &v)
{
    const auto put64 = [&out](quint64 bits) {
        char be[8];
        qToBigEndian(bits, be);
        out.append(be, sizeof be);
    };
    const auto putBytes = [&out](char tag, const QByteArray &bytes) {
        out.append(tag);
        char be[4];
        qToBigEndian(quint32(bytes.size()), be);
        out.append(be, sizeof be);
        out.append(bytes);
    };
    switch (v.type) {
    case Value::Type::Null: out.append('\x00'); break;
    case Value::Type::Integer: out.append('\x01'); put64(quint64(v.integer)); break;
    case Value::Type::Real: {
        out.append('\x02');
        quint64 bits = 0;
        static_assert(sizeof bits == sizeof v.real);
        std::memcpy(&bits, &v.real, sizeof bits);
        put64(bits);
        break;
    }
    case Value::Type::Text: putBytes('\x03', v.bytes); break;
    case Value::Type::Blob: putBytes('\x04', v.bytes); break;
    }
}

Value integer(qint64 n)
{
    Value v;
    v.type = Value::Type::Integer;
    v.integer = n;
    return v;
}

Value textValue(const QByteArray &utf8)
{
    Value v;
    v.type = Value::Type::Text;
    v.bytes = utf8;
    return v;
}

std::optional<LastRun> lastRow(sqlite3 *db, const char *where)
{
    if (!hasTable(db))
        return std::nullopt;
    Statement q(db, QByteArray("SELECT e_seq, e_kind, e_utc, e_local FROM event_log ") + where
                        + " ORDER BY e_seq DESC LIMIT 1");
    if (!q.ok() || sqlite3_step(q.get()) != SQLITE_ROW)
        return std::nullopt;
    LastRun last;
    last.seq = sqlite3_column_int64(q.get(), 0);
    last.kind = text(columnValue(q.get(), 1));
    last.utcMs = sqlite3_column_int64(q.get(), 2);
    last.local = text(columnValue(q.get(), 3));
    return last;
}

} // namespace

QString kindName(Kind kind)
{
    for (const KindRow &row : kKinds)
        if (row.kind == kind)
            return QLatin1String(row.name);
    return QString();
}

QString localText(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

QString currentUser()
{
    static const QString user = [] {
#ifdef Q_OS_UNIX
        passwd entry{};
        passwd *found = nullptr;
        char buffer[4096];
        if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
            return QString::fromLocal8Bit(found->pw_name);
#endif
        for (const char *name : {"USER", "LOGNAME", "USERNAME"})
            if (const QString v = qEnvironmentVariable(name); !v.isEmpty())
                return v;
        return QStringLiteral("?");
    }();
    return user;
}

Event makeEvent(Kind kind, const QDateTime &when, QJsonObject details)
{
    return Event{localText(when), when.toMSecsSinceEpoch(), currentUser(), kindName(kind), std::move(details)};
}

QString text(const Value &value)
{
    switch (value.type) {
    case Value::Type::Null: return QString();
    case Value::Type::Integer: return QString::number(value.integer);
    case Value::Type::Real: return QString::number(value.real, 'g', 17);
    case Value::Type::Text: return QString::fromUtf8(value.bytes);
    case Value::Type::Blob: return QString::fromLatin1(value.bytes.toHex());
    }
    return QString();
}

QByteArray chainLink(const Value &storedHash)
{
    const QByteArray &hex = storedHash.bytes;
    const bool wellFormed = storedHash.type == Value::Type::Text && hex.size() == kHashHexDigits
        && std::all_of(hex.begin(), hex.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
    return wellFormed ? QByteArray::fromHex(hex) : QByteArray(kHashBytes, '\0');
}

QByteArray rowHash(const QByteArray &previous, const Row &row)
{
    QByteArray input = previous;
    for (int i = 0; i < col::kHash; ++i)
        encode(input, row[std::size_t(i)]);
    return QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex();
}

bool hasTable(sqlite3 *db)
{
    Statement q(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='event_log'");
    return q.ok() && sqlite3_step(q.get()) == SQLITE_ROW;
}

qint64 append(sqlite3 *db, const std::vector<Event> &events, QString *error)
{
    if (!db || events.empty())
        return 0;
    // IMMEDIATE takes the write lock at once: the row before ours stays the
    // newest until we commit.
    if (!exec(db, "BEGIN IMMEDIATE", error))
        return 0;
    const auto fail = [db, error](const QString &why) {
        qCInfo(lcRecord) << "journal: append failed:" << why;
        if (error)
            *error = why;
        exec(db, "ROLLBACK", nullptr);
        return qint64(0);
    };
    if (!exec(db, kCreate, error))
        return fail(error ? *error : QString());

    qint64 seq = 0;
    QByteArray previous(kHashBytes, '\0');
    {
        Statement last(db, "SELECT e_seq, e_hash FROM event_log ORDER BY e_seq DESC LIMIT 1");
        if (!last.ok())
            return fail(last.error());
        const int step = sqlite3_step(last.get());
        if (step == SQLITE_ROW) {
            seq = sqlite3_column_int64(last.get(), 0);
            previous = chainLink(columnValue(last.get(), 1));
        } else if (step != SQLITE_DONE) {
            return fail(last.error());
        }
    }
    Statement insert(db, QByteArray("INSERT INTO event_log (") + kColumns + ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    if (!insert.ok())
        return fail(insert.error());
    for (const Event &e : events) {
        Row row;
        row[col::kSeq] = integer(++seq);
        row[col::kLocal] = textValue(e.local.toUtf8());
        row[col::kUtc] = integer(e.utcMs);
        row[col::kUser] = textValue(e.user.toUtf8());
        row[col::kKind] = textValue(e.kind.toUtf8());
        row[col::kDetails] = textValue(QJsonDocument(e.details).toJson(QJsonDocument::Compact));
        row[col::kHash] = textValue(rowHash(previous, row));
        sqlite3_stmt *s = insert.get();
        sqlite3_reset(s);
        for (int i = 0; i < col::kCount; ++i) {
            const Value &v = row[std::size_t(i)];
            if (v.type == Value::Type::Integer)
                sqlite3_bind_int64(s, i + 1, v.integer);
            else
                sqlite3_bind_text(s, i + 1, v.bytes.constData(), int(v.bytes.size()), SQLITE_TRANSIENT);
        }
        if (sqlite3_step(s) != SQLITE_DONE)
            return fail(insert.error());
        previous = QByteArray::fromHex(row[col::kHash].bytes);
    }
    if (!exec(db, "COMMIT", error))
        return fail(error ? *error : QString());
    return seq;
}

std::optional<LastRun> lastRunMark(sqlite3 *db)
{
    return lastRow(db, "WHERE e_kind IN ('start', 'end')");
}

std::optional<LastRun> newestEvent(sqlite3 *db)
{
    return lastRow(db, "");
}

bool readRows(sqlite3 *db, const std::function<bool(const Row &)> &row, QString *error)
{
    Statement q(db, QByteArray("SELECT ") + kColumns + " FROM event_log ORDER BY e_seq");
    if (!q.ok()) {
        if (error)
            *error = q.error();
        return false;
    }
    for (;;) {
        const int step = sqlite3_step(q.get());
        if (step == SQLITE_DONE)
            return true;
        if (step != SQLITE_ROW) {
            if (error)
                *error = q.error();
            return false;
        }
        if (!row(rowOf(q.get())))
            return true;
    }
}

} // namespace station::journal
