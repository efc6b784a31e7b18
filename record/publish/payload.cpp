#include "record/publish/payload.h"

#include "common/datenum.h"
#include "common/numbers.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonParseError>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdlib>

namespace station::publish {

namespace {

constexpr qint64 kUnixEpochJulianDay = 2440588;  // 1970-01-01
constexpr qint64 kSecondsPerDayInt = 86400;
constexpr qint64 kLargestOffset = 18 * 3600;     // ISO 8601 and every zone there is stay within

qint64 secondsOf(const QDate &date, const QTime &time)
{
    return (date.toJulianDay() - kUnixEpochJulianDay) * kSecondsPerDayInt + time.msecsSinceStartOfDay() / 1000;
}

// Digits written by hand: a full ring is 65500 times, and printf's parsing of
// its format was a tenth of the publisher's time while catching up.
void putDigits(char *at, int value, int width)
{
    for (int i = width - 1; i >= 0; --i, value /= 10)
        at[i] = char('0' + value % 10);
}

// "yyyy-MM-ddTHH:mm:ss" (years 0..9999; others print as 0000).
void wallText(char *at, const QDate &date, const QTime &time)
{
    const int year = date.year() >= 0 && date.year() <= 9999 ? date.year() : 0;
    putDigits(at, year, 4);
    at[4] = '-';
    putDigits(at + 5, date.month(), 2);
    at[7] = '-';
    putDigits(at + 8, date.day(), 2);
    at[10] = 'T';
    putDigits(at + 11, time.hour(), 2);
    at[13] = ':';
    putDigits(at + 14, time.minute(), 2);
    at[16] = ':';
    putDigits(at + 17, time.second(), 2);
}

constexpr int kWallLength = 19;
constexpr int kIsoLength = kWallLength + 6;

// "yyyy-MM-ddTHH:mm:ss+hh:mm" for a wall clock date and time and its offset.
QByteArray isoText(const QDate &date, const QTime &time, qint64 offsetSeconds)
{
    char text[kIsoLength];
    wallText(text, date, time);
    const qint64 minutes = std::llabs(offsetSeconds) / 60;
    text[kWallLength] = offsetSeconds < 0 ? '-' : '+';
    putDigits(text + kWallLength + 1, int(minutes / 60 % 100), 2);
    text[kWallLength + 3] = ':';
    putDigits(text + kWallLength + 4, int(minutes % 60), 2);
    return QByteArray(text, kIsoLength);
}

// The JSON is written into one buffer and copied out once: a full ring is
// 65500 payloads. The longest payload is far below its size: a float has at
// most 39 integral digits, so ten values with their names take under 700
// bytes.
struct Text {
    char buffer[1024];
    std::size_t size = 0;
    void put(const char *text, std::size_t length)
    {
        length = std::min(length, sizeof buffer - size);
        std::memcpy(buffer + size, text, length);
        size += length;
    }
    void put(const char *text) { put(text, std::strlen(text)); }
    void put(const QByteArray &text) { put(text.constData(), std::size_t(text.size())); }
};

// Integral values (nearly all of them) and tenths of integral values (the
// retransmission outputs) straight to digits; the rest as the panel writes
// them. Below a million, a tenth has at most seven significant digits, so the
// text is the panel's.
constexpr double kExactIntegers = 1e15;
constexpr double kPlainTenths = 1e6;

void putNumber(Text &out, double value, bool raw, float stored, double divisor)
{
    if (!std::isfinite(value)) {
        out.put("null");
        return;
    }
    char digits[24];
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegers) {
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<qint64>(value)).ptr;
        out.put(digits, std::size_t(end - digits));
        return;
    }
    const double tenths = double(stored);
    if (!raw && divisor == 10.0 && tenths == std::trunc(tenths) && std::fabs(tenths) < kPlainTenths) {
        const qint64 t = static_cast<qint64>(tenths);
        char *at = digits;
        if (t < 0)
            *at++ = '-';
        at = std::to_chars(at, digits + sizeof digits - 2, std::llabs(t) / 10).ptr;
        *at++ = '.';
        *at++ = char('0' + std::llabs(t) % 10);
        out.put(digits, std::size_t(at - digits));
        return;
    }
    out.put((raw ? shortestFloatText(stored) : numberText(value)).toLatin1());
}

// A JSON string: the bytes as UTF-8 (a sequence that is not UTF-8 becomes
// U+FFFD), with the quote, the backslash and the control characters escaped.
void putJsonString(QByteArray &out, const QByteArray &bytes)
{
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : QString::fromUtf8(bytes).toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

void putField(QByteArray &out, const journal::Value &v)
{
    switch (v.type) {
    case journal::Value::Type::Null: out += "null"; return;
    case journal::Value::Type::Integer: out += QByteArray::number(v.integer); return;
    case journal::Value::Type::Real:
        out += std::isfinite(v.real) ? QByteArray::number(v.real, 'g', 17) : QByteArray("null");
        return;
    case journal::Value::Type::Text: putJsonString(out, v.bytes); return;
    case journal::Value::Type::Blob: putJsonString(out, v.bytes.toHex()); return;
    }
}

// Whether a details text is one JSON value as it stands.
bool isJson(const journal::Value &v)
{
    if (v.type != journal::Value::Type::Text)
        return false;
    QJsonParseError error;
    QJsonDocument::fromJson(v.bytes, &error);
    return error.error == QJsonParseError::NoError;
}

struct EventColumn {
    int column;
    const char *key;
};
constexpr std::array<EventColumn, journal::col::kCount> kEventColumns{{
    {journal::col::kSeq, "seq"},
    {journal::col::kLocal, "local"},
    {journal::col::kUtc, "utc"},
    {journal::col::kUser, "user"},
    {journal::col::kKind, "kind"},
    {journal::col::kDetails, "details"},
    {journal::col::kHash, "hash"},
}};

} // namespace

QByteArray eventPayload(const journal::Row &row)
{
    QByteArray out;
    out.reserve(256 + row[journal::col::kDetails].bytes.size());
    char separator = '{';
    for (const EventColumn &c : kEventColumns) {
        const journal::Value &v = row[std::size_t(c.column)];
        out += separator;
        separator = ',';
        out += '"';
        out += c.key;
        out += "\":";
        if (c.column == journal::col::kDetails && isJson(v))
            out += v.bytes;
        else
            putField(out, v);
    }
    out += '}';
    return out;
}

QByteArray sampleTime(const SampleRow &row)
{
    return sampleTime(row, dateFromDayNumber(row.date), timeFromDayFraction(row.time));
}

QByteArray sampleTime(const SampleRow &row, const QDate &date, const QTime &time)
{
    if (row.utc) {
        const qint64 offset = secondsOf(date, time) - *row.utc;
        if (offset % 60 == 0 && std::llabs(offset) <= kLargestOffset)
            return isoText(date, time, offset);
        const QDateTime utc = QDateTime::fromSecsSinceEpoch(*row.utc, Qt::UTC);
        return isoText(utc.date(), utc.time(), 0);
    }
    return isoText(date, time, QDateTime(date, time).offsetFromUtc());
}

QByteArray wallTime(const SampleRow &row)
{
    char text[kWallLength];
    wallText(text, dateFromDayNumber(row.date), timeFromDayFraction(row.time));
    return QByteArray(text, kWallLength);
}

QByteArray samplePayload(const SampleRow &row, bool raw, QByteArray *wall)
{
    const QDate date = dateFromDayNumber(row.date);
    const QTime time = timeFromDayFraction(row.time);
    const QByteArray when = sampleTime(row, date, time);
    if (wall) {
        char text[kWallLength];
        wallText(text, date, time);
        *wall = QByteArray(text, kWallLength);
    }
    Text out;
    out.put("{\"time\":\"");
    out.put(when);
    out.put("\"");
    for (int j = 0; j < valuecol::kCount; ++j) {
        const float stored = row.values[std::size_t(j)];
        const valuecol::Column &column = valuecol::kColumns[std::size_t(j)];
        out.put(",\"");
        out.put(column.name);
        out.put("\":");
        putNumber(out, raw ? double(stored) : valuecol::shown(j, stored), raw, stored, column.divisor);
    }
    if (row.live)
        out.put(*row.live ? ",\"live\":true" : ",\"live\":false");
    out.put("}");
    return QByteArray(out.buffer, qsizetype(out.size));
}

qint64 sampleInstant(const SampleRow &row)
{
    if (row.utc)
        return *row.utc;
    return QDateTime(dateFromDayNumber(row.date), timeFromDayFraction(row.time)).toSecsSinceEpoch();
}

StationStatus stationStatus(const std::optional<SampleRow> &newest, qint64 nowUtc)
{
    StationStatus s;
    if (!newest || std::llabs(nowUtc - sampleInstant(*newest)) > kRecordingAge)
        return s;
    s.station = StationStatus::Station::Recording;
    if (newest->live)
        s.link = *newest->live ? StationStatus::Link::Live : StationStatus::Link::NotLive;
    return s;
}

QByteArray onlinePayload(const StationStatus &status)
{
    QByteArray out = "{\"state\":\"online\",\"station\":\"";
    out += status.station == StationStatus::Station::Recording ? "recording" : "stopped";
    out += "\",\"link\":\"";
    switch (status.link) {
    case StationStatus::Link::Live: out += "live"; break;
    case StationStatus::Link::NotLive: out += "not live"; break;
    case StationStatus::Link::Unknown: out += "unknown"; break;
    }
    out += "\"}";
    return out;
}

QByteArray offlinePayload()
{
    return "{\"state\":\"offline\"}";
}

} // namespace station::publish
