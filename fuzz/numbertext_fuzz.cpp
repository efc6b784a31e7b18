// Fuzz target: the texts of values, station::numberText and
// station::shortestFloatText.
//
// Input: a mode byte choosing where the double comes from (any bit pattern, a
// float widened, a 16-bit register value in tenths as the status labels divide
// it, or a 32-bit integer over a power of ten), then that value's bytes, then
// four bytes of a float for shortestFloatText.
//
// Properties of numberText for a finite value:
//  - only digits, one point at most and a leading minus sign: never an
//    exponent, never "-0";
//  - an integral value gives no point and reads back (leading-number rule)
//    as exactly the value;
//  - a fractional value reads back within seven significant digits, with no
//    trailing zeros, no trailing point and at most seven significant digits.
// Properties of shortestFloatText for a finite float: no exponent, and the text
// reads back as the same float, by from_chars and by the leading-number rule.
#include "common/numbers.h"
#include "fuzz/fuzzcheck.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

using station::fuzz::Input;
using station::fuzz::plainDecimal;
using station::fuzz::withinSevenDigits;

namespace {

QString describe(double value, const QString &text, const char *what)
{
    return QStringLiteral("value %1 (%2): text \"%3\" %4")
        .arg(QString::number(value, 'g', 17), QString::number(value, 'a'), text, QLatin1String(what));
}

// Digits from the first non-zero one to the last non-zero one.
int significantDigits(const QString &text)
{
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] >= u'1' && text[i] <= u'9') {
            if (first < 0)
                first = i;
            last = i;
        }
    if (first < 0)
        return 0;
    int n = 0;
    for (qsizetype i = first; i <= last; ++i)
        n += text[i] != u'.';
    return n;
}

void checkNumberText(double value)
{
    const QString text = station::numberText(value);
    if (!std::isfinite(value)) {
        FUZZ_REQUIRE(!text.isEmpty(), describe(value, text, "is empty"));
        return;
    }
    FUZZ_REQUIRE(plainDecimal(text), describe(value, text, "is not plain decimal"));
    FUZZ_REQUIRE(text != QLatin1String("-0"), describe(value, text, "is minus zero"));
    const double back = station::leadingNumber(text);

    if (value == std::trunc(value)) {
        FUZZ_REQUIRE(!text.contains(u'.'), describe(value, text, "has a point for an integral value"));
        FUZZ_REQUIRE(back == value, describe(value, text, "does not read back exactly"));
        return;
    }
    FUZZ_REQUIRE(text.startsWith(u'-') == (value < 0), describe(value, text, "has the wrong sign"));
    if (text.contains(u'.'))
        FUZZ_REQUIRE(!text.endsWith(u'0') && !text.endsWith(u'.'),
                     describe(value, text, "has a trailing zero or point"));
    FUZZ_REQUIRE(withinSevenDigits(back, value),
                 describe(value, text, "is off by more than half a unit in the seventh digit"));
    FUZZ_REQUIRE(significantDigits(text) <= 7, describe(value, text, "has more than seven significant digits"));
}

void checkShortestFloatText(float value)
{
    const QString text = station::shortestFloatText(value);
    if (!std::isfinite(value)) {
        FUZZ_REQUIRE(!text.isEmpty(), describe(value, text, "is empty"));
        return;
    }
    FUZZ_REQUIRE(plainDecimal(text), describe(value, text, "is not plain decimal"));
    const QByteArray ascii = text.toLatin1();
    float parsed = std::numeric_limits<float>::quiet_NaN();
    const auto [end, ec] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), parsed);
    FUZZ_REQUIRE(ec == std::errc() && end == ascii.constData() + ascii.size() && parsed == value,
                 describe(value, text, "does not read back as the float"));
    FUZZ_REQUIRE(float(station::leadingNumber(text)) == value,
                 describe(value, text, "does not read back as the float by the leading-number rule"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in(data, size);
    double value = 0;
    switch (in.byte() % 4) {
    case 0:
        value = in.take<double>();
        break;
    case 1:
        value = double(in.take<float>());
        break;
    case 2: // a register in tenths, through the float of the register image
        value = double(float(in.take<std::int16_t>())) / 10.0;
        break;
    default: {
        const std::int32_t integer = in.take<std::int32_t>();
        value = double(integer) / std::pow(10.0, in.byte() % 10);
        break;
    }
    }
    checkNumberText(value);
    checkShortestFloatText(in.take<float>());
    return 0;
}
