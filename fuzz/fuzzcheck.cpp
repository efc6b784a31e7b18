#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <QSet>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace station::fuzz {

QString Input::restAsText()
{
    std::size_t got = 0;
    const std::uint8_t *p = takeBytes(remaining(), &got);
    return QString::fromUtf8(reinterpret_cast<const char *>(p), qsizetype(got));
}

void fail(const char *property, const QString &detail)
{
    std::fprintf(stderr, "\n*** property broken: %s\n    %s\n", property, detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

bool tolerated(const char *finding)
{
    static const bool strict = qEnvironmentVariableIntValue("STATION_FUZZ_STRICT") != 0;
    static QSet<QByteArray> seen;
    if (!strict && !seen.contains(finding)) {
        seen.insert(finding);
        std::fprintf(stderr, "tolerating the known finding %s (STATION_FUZZ_STRICT=1 stops on it)\n", finding);
    }
    return !strict;
}

bool plainDecimal(const QString &text)
{
    int points = 0;
    int digits = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'.')
            ++points;
        else if (c >= u'0' && c <= u'9')
            ++digits;
        else if (c != u'-' || i != 0)
            return false;
    }
    return points <= 1 && digits > 0;
}

bool withinSevenDigits(double back, double value)
{
    if (value == std::trunc(value))
        return back == value;
    // Half a unit of the seventh significant digit, 10^(E-6) / 2 with
    // 10^E <= |value| < 10^(E+1), plus a little for the binary value.
    const long double a = std::fabs(static_cast<long double>(value));
    int e = int(std::floor(std::log10(a)));
    if (std::pow(10.0L, e) > a)
        --e;
    else if (std::pow(10.0L, e + 1) <= a)
        ++e;
    const long double halfUnit = std::pow(10.0L, e - 6) / 2;
    return std::fabs(static_cast<long double>(back) - value) <= halfUnit + a * 0x1p-50L;
}

QString escaped(const QString &text)
{
    QString out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != u'\\')
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(unsigned(u), 4, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace station::fuzz
