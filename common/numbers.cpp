#include "common/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace station {

char16_t halfWidth(char16_t c)
{
    if (c >= u'\uFF10' && c <= u'\uFF19')  // full-width digits
        return char16_t(c - u'\uFF10' + u'0');
    switch (c) {
    case u'\uFF0B': return u'+';
    case u'\uFF0D': return u'-';
    case u'\uFF0E': return u'.';
    case u'\u3000': return u' ';           // ideographic (full-width) blank
    default: return c;
    }
}

namespace {

bool isSkipped(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Collects the characters of the text that are not skipped, full-width ones in
// their ASCII form, so the scanner below never has to think about blanks inside
// the number nor about the input method's width.
std::u16string compact(QStringView text)
{
    std::u16string out;
    out.reserve(std::size_t(text.size()));
    for (QChar c : text) {
        const char16_t h = halfWidth(c.unicode());
        if (!isSkipped(h))
            out.push_back(h);
    }
    return out;
}

double radixInteger(const std::u16string &s, std::size_t pos, int radix)
{
    std::uint64_t value = 0;
    double wide = 0;     // the same digits, for a value beyond 64 bits
    bool beyond = false; // value wrapped
    int digits = 0;
    for (; pos < s.size(); ++pos) {
        const char16_t c = s[pos];
        int d = -1;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (radix == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (radix == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        if (d < 0 || d >= radix)
            break;
        if (value > (std::numeric_limits<std::uint64_t>::max() - std::uint64_t(d)) / std::uint64_t(radix))
            beyond = true;
        value = value * std::uint64_t(radix) + std::uint64_t(d);
        wide = wide * radix + d;
        ++digits;
    }
    if (digits == 0)
        return 0;
    if (beyond)
        return wide;
    const int bits = (radix == 16) ? digits * 4 : digits * 3;
    if (bits <= 16 && value <= 0xFFFF)
        return double(std::int16_t(std::uint16_t(value)));
    if (value <= 0xFFFFFFFFull)
        return double(std::int32_t(std::uint32_t(value)));
    return double(value);
}

// Power of ten of the first significant digit of a scanned number ("123" 2,
// "0.05" -2, "1e-400" -400, "0.01e3" 1); the number has a non-zero digit.
long decimalMagnitude(const std::string &ascii)
{
    const std::size_t e = std::min(ascii.find('e'), ascii.size());
    long exponent = e < ascii.size() ? std::strtol(ascii.c_str() + e + 1, nullptr, 10) : 0;
    long before = 0;   // digits left of the point from the first significant one
    long zeros = 0;    // zeros right of the point before the first significant digit
    bool point = false, significant = false;
    for (std::size_t i = 0; i < e; ++i) {
        const char c = ascii[i];
        if (c == '.')
            point = true;
        else if (c >= '1' && c <= '9')
            significant = true;
        if (c < '0' || c > '9')
            continue;
        if (!point && significant)
            ++before;
        else if (point && !significant)
            ++zeros;
        if (point && significant)
            break;
    }
    return exponent + (before > 0 ? before - 1 : -zeros - 1);
}

} // namespace

double leadingNumber(QStringView text)
{
    const std::u16string s = compact(text);
    if (s.size() >= 2 && s[0] == u'&') {
        const char16_t p = s[1];
        if (p == u'h' || p == u'H')
            return radixInteger(s, 2, 16);
        if (p == u'o' || p == u'O')
            return radixInteger(s, 2, 8);
    }

    std::string ascii;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        ascii.push_back(char(s[i++]));
    bool mantissa = false;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        ascii.push_back(char(s[i++]));
        mantissa = true;
    }
    if (i < s.size() && s[i] == u'.') {
        ascii.push_back('.');
        ++i;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
            ascii.push_back(char(s[i++]));
            mantissa = true;
        }
    }
    if (!mantissa)
        return 0;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-'))
            exponent.push_back(char(s[j++]));
        // Every digit counts, leading zeros included ("1E00000001" is 10); past
        // eight digits the value is out of range whatever the mantissa, so the
        // exponent stops growing there.
        long value = 0;
        bool digits = false;
        for (; j < s.size() && s[j] >= u'0' && s[j] <= u'9'; ++j) {
            value = std::min(value * 10 + long(s[j] - u'0'), 99999999L);
            digits = true;
        }
        if (digits)
            ascii += exponent + std::to_string(value);
    }
    double value = 0;
    const char *first = ascii.data();
    if (*first == '+')
        ++first;
    const auto [ptr, ec] = std::from_chars(first, ascii.data() + ascii.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // from_chars reports overflow and underflow alike; the power of ten of
        // the first significant digit tells them apart ("1e400" reads
        // infinity, "1e-400" reads 0).
        const bool negative = ascii.front() == '-';
        if (decimalMagnitude(ascii) < 0)
            return negative ? -0.0 : 0.0;
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    return ec == std::errc() ? value : 0;
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5)
        return floor;
    if (diff > 0.5)
        return floor + 1;
    return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

std::optional<std::int32_t> toInt32(double value)
{
    const double r = roundHalfEven(value);
    if (!std::isfinite(r) || r < double(std::numeric_limits<std::int32_t>::min())
        || r > double(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return std::int32_t(r);
}

std::optional<std::int16_t> toInt16(double value)
{
    const double r = roundHalfEven(value);
    if (!std::isfinite(r) || r < -32768.0 || r > 32767.0)
        return std::nullopt;
    return std::int16_t(r);
}

QString numberText(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<long long>(value));
    if (value == 0)
        return QStringLiteral("0");
    // Seven significant digits, written out in fixed notation.
    const int exponent = int(std::floor(std::log10(std::fabs(value))));
    if (exponent > 6 && value != std::trunc(value)) {
        // A fraction with eight or more integer digits: seven significant
        // ones, the rest zeros (12345678.5 -> "12345680").
        const double unit = std::pow(10.0, exponent - 6);
        return QString::number(std::round(value / unit) * unit, 'f', 0);
    }
    const int decimals = std::max(0, 6 - exponent);
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

QString shortestFloatText(float value)
{
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc())
        return QString::number(double(value));
    return QString::fromLatin1(buffer, int(end - buffer));
}

} // namespace station
