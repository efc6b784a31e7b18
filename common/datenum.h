// Dates and times as the sample database keeps them: a date is a whole day
// number counted from 30 December 1899 (day 0), a time of day is the fraction of
// a day elapsed since midnight, to the second.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace station {

inline constexpr double kSecondsPerDay = 86400.0;

double dayNumber(const QDate &date);
double dayFraction(const QTime &time);
QDate dateFromDayNumber(double day);
// The time of day of a fraction (rounded to the second; 1.0 and above wrap).
QTime timeFromDayFraction(double fraction);

// Texts used by the chart and the clock labels.
QString shortDateText(double day);          // yyyy-MM-dd
QString timeText(double fraction);          // hh:mm:ss
QString clockDateText(const QDate &date);   // MM-dd-yyyy
QString clockTimeText(const QTime &time);   // hh:mm:ss, 24-hour

// A clock the recorder and chart read; tests replace it to move time at will.
// now() is the PC clock, which the operator or a time service may set;
// monotonicMs() never jumps (it counts on through a suspend), so the recorder
// tells a clock that was set from time that passed.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual qint64 monotonicMs() const;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
};

// The process-wide system clock.
const Clock &systemClock();

} // namespace station
