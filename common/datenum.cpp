#include "common/datenum.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace station {

namespace {
constexpr qint64 kEpochJulianDay = 2415019; // QDate(1899, 12, 30).toJulianDay()
}

double dayNumber(const QDate &date)
{
    return double(date.toJulianDay() - kEpochJulianDay);
}

double dayFraction(const QTime &time)
{
    return double(time.msecsSinceStartOfDay() / 1000) / kSecondsPerDay;
}

QDate dateFromDayNumber(double day)
{
    if (!std::isfinite(day))
        return QDate();
    return QDate::fromJulianDay(kEpochJulianDay + qint64(std::floor(day)));
}

QTime timeFromDayFraction(double fraction)
{
    if (!std::isfinite(fraction))
        return QTime(0, 0);
    double f = fraction - std::floor(fraction);
    long long seconds = std::llround(f * kSecondsPerDay);
    seconds %= 86400;
    return QTime(0, 0).addSecs(int(seconds));
}

QString shortDateText(double day)
{
    return dateFromDayNumber(day).toString(QStringLiteral("yyyy-MM-dd"));
}

QString timeText(double fraction)
{
    return timeFromDayFraction(fraction).toString(QStringLiteral("hh:mm:ss"));
}

QString clockDateText(const QDate &date)
{
    return date.toString(QStringLiteral("MM-dd-yyyy"));
}

QString clockTimeText(const QTime &time)
{
    return time.toString(QStringLiteral("hh:mm:ss"));
}

qint64 Clock::monotonicMs() const
{
#ifdef Q_OS_LINUX
    timespec t{};
    if (clock_gettime(CLOCK_BOOTTIME, &t) == 0)
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
#endif
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

const Clock &systemClock()
{
    static const SystemClock clock;
    return clock;
}

} // namespace station
