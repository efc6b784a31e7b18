#include "record/publish/payload.h"

#include "common/datenum.h"
#include "common/numbers.h"

#include <QDateTime>
#include <cmath>
#include <cstdio>
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

// "yyyy-MM-ddTHH:mm:ss+hh:mm" for a wall clock date and time and its offset.
QByteArray isoText(const QDate &date, const QTime &time, qint64 offsetSeconds)
{
    const char sign = offsetSeconds < 0 ? '-' : '+';
    const qint64 minutes = std::llabs(offsetSeconds) / 60;
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld", date.year(),
                                date.month(), date.day(), time.hour(), time.minute(), time.second(), sign,
                                static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
    return QByteArray(text, n);
}

void appendNumber(QByteArray &out, double value, bool raw, float stored)
{
    if (!std::isfinite(value)) {
        out += "null";
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
