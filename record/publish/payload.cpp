#include "record/publish/payload.h"

#include "common/datenum.h"
#include "common/numbers.h"

#include <QDateTime>
#include <cmath>
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

// Integral values (nearly all of them) straight to digits; the rest as the
// panel writes them.
constexpr double kExactIntegers = 1e15;

void appendNumber(QByteArray &out, double value, bool raw, float stored)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegers) {
        out += QByteArray::number(static_cast<qint64>(value));
        return;
    }
    out += (raw ? shortestFloatText(stored) : numberText(value)).toLatin1();
}

} // namespace

QByteArray sampleTime(const SampleRow &row)
{
    const QDate date = dateFromDayNumber(row.date);
    const QTime time = timeFromDayFraction(row.time);
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

QByteArray samplePayload(const SampleRow &row, bool raw)
{
    QByteArray out;
    out.reserve(256);
    out += "{\"time\":\"";
    out += sampleTime(row);
    out += '"';
    for (int j = 0; j < valuecol::kCount; ++j) {
        const float stored = row.values[std::size_t(j)];
        out += ",\"";
        out += valuecol::kColumns[std::size_t(j)].name;
        out += "\":";
        appendNumber(out, raw ? double(stored) : valuecol::shown(j, stored), raw, stored);
    }
    if (row.live)
        out += *row.live ? ",\"live\":true" : ",\"live\":false";
    out += '}';
    return out;
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
