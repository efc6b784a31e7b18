// Fuzz target: the leading-number rule, station::leadingNumber.
//
// Input: the text as UTF-8; an input starting with the byte 0xFF is instead the
// UTF-16LE code units after it (any code unit, lone surrogates included).
//
// Properties:
//  - the full-width digits, signs, point and ideographic blank read as their
//    ASCII counterparts: the text with them replaced reads the same;
//  - the value equals that of a second reading of the rule written
//    differently (a grammar over the text without blanks, strtod for the
//    decimal value); never NaN, and infinite only when the number overflows;
//  - blanks do not matter: the text without them, or with one more blank at
//    any place, reads the same;
//  - a character that cannot continue a number, appended, changes nothing;
//  - a minus sign put before a text that starts with a digit or a point
//    negates the value;
//  - nothing is read beyond the text (it is passed without a terminator).
#include "common/numbers.h"
#include "fuzz/fuzzcheck.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>
#include <vector>

using station::fuzz::escaped;

namespace {

// The ASCII form of the full-width characters the rule reads, written out
// as a table rather than by offset.
char16_t ascii(char16_t c)
{
    static const char16_t full[] = u"０１２３４５６７８９＋－．\u3000";
    static const char16_t half[] = u"0123456789+-. ";
    for (std::size_t i = 0; full[i]; ++i)
        if (c == full[i])
            return half[i];
    return c;
}

bool skipped(char16_t c)
{
    c = ascii(c);
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

QString asciiForm(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        c = QChar(ascii(c.unicode()));
    return out;
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

std::u16string withoutBlanks(QStringView text)
{
    std::u16string out;
    for (QChar c : text)
        if (!skipped(c.unicode()))
            out.push_back(ascii(c.unicode()));
    return out;
}

int digitValue(char16_t c, int radix)
{
    int d = -1;
    if (isDigit(c))
        d = c - u'0';
    else if (c >= u'a' && c <= u'f')
        d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        d = c - u'A' + 10;
    return d < radix ? d : -1;
}

struct Reading {
    double value = 0;
};

// "&H" / "&O" integers: up to 16 bits of digits as a signed 16-bit word, up
// to 32 bits' value as a signed 32-bit word, beyond that the plain value.
Reading radixReading(const std::u16string &s, int radix)
{
    Reading r;
    const int bitsPerDigit = radix == 16 ? 4 : 3;
    unsigned long long exact = 0;
    double approx = 0;
    bool wrapped = false;
    int digits = 0;
    for (std::size_t i = 2; i < s.size(); ++i) {
        const int d = digitValue(s[i], radix);
        if (d < 0)
            break;
        if (exact > (std::numeric_limits<unsigned long long>::max() - unsigned(d)) / unsigned(radix))
            wrapped = true;
        exact = exact * unsigned(radix) + unsigned(d);
        approx = approx * radix + d;
        ++digits;
    }
    if (digits == 0)
        r.value = 0;
    else if (wrapped)
        r.value = approx;
    else if (digits * bitsPerDigit <= 16)
        r.value = double(std::int16_t(std::uint16_t(exact)));
    else if (exact <= 0xFFFFFFFFull)
        r.value = double(std::int32_t(std::uint32_t(exact)));
    else
        r.value = double(exact);
    return r;
}

double cStrtod(const std::string &text)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtod_l(text.c_str(), nullptr, c);
}

// [sign] digits [. digits] [E [sign] digits], at least one mantissa digit.
Reading decimalReading(const std::u16string &s)
{
    Reading r;
    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        number += char(s[i++]);
    int mantissaDigits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i, ++mantissaDigits)
        number += char(s[i]);
    if (i < s.size() && s[i] == u'.') {
        number += '.';
        for (++i; i < s.size() && isDigit(s[i]); ++i, ++mantissaDigits)
            number += char(s[i]);
    }
    if (mantissaDigits == 0)
        return r;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        std::size_t j = i + 1;
        char sign = '+';
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-'))
            sign = char(s[j++]);
        long long exponent = 0;
        int digits = 0;
        for (; j < s.size() && isDigit(s[j]); ++j, ++digits)
            exponent = std::min(exponent * 10 + (s[j] - u'0'), 100000000LL);
        if (digits > 0) {
            number += 'e';
            number += sign;
            number += std::to_string(exponent);
        }
    }
    r.value = cStrtod(number);
    return r;
}

Reading reading(QStringView text)
{
    const std::u16string s = withoutBlanks(text);
    if (s.size() >= 2 && s[0] == u'&') {
        if (s[1] == u'h' || s[1] == u'H')
            return radixReading(s, 16);
        if (s[1] == u'o' || s[1] == u'O')
            return radixReading(s, 8);
    }
    return decimalReading(s);
}

// Equal as numbers (0 and -0 alike); NaN equals nothing.
bool same(double a, double b)
{
    return a == b;
}

QString describe(const QString &text, double got, double expected)
{
    return QStringLiteral("text \"%1\": read %2, expected %3")
        .arg(escaped(text), QString::number(got, 'g', 17), QString::number(expected, 'g', 17));
}

// Reads text from a buffer of exactly its length, so that reading past the
// end is an AddressSanitizer error.
double readExact(const QString &text)
{
    std::vector<char16_t> units(std::size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i)
        units[std::size_t(i)] = text[i].unicode();
    return station::leadingNumber(QStringView(units.data(), qsizetype(units.size())));
}

QString textOf(const std::uint8_t *data, std::size_t size)
{
    if (size >= 1 && data[0] == 0xFF) {
        QString text;
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text += QChar(char16_t(data[i] | (data[i + 1] << 8)));
        return text;
    }
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 4096)
        return 0;
    const QString text = textOf(data, size);
    const double value = readExact(text);

    FUZZ_REQUIRE(!std::isnan(value), describe(text, value, 0));

    const Reading expected = reading(text);
    FUZZ_REQUIRE(same(value, expected.value), describe(text, value, expected.value));

    const QString half = asciiForm(text);
    FUZZ_REQUIRE(same(readExact(half), value), describe(half, readExact(half), value));

    const std::u16string compact = withoutBlanks(text);
    // Not fromStdU16String: that drops a leading byte order mark.
    const QString compactText(reinterpret_cast<const QChar *>(compact.data()), qsizetype(compact.size()));
    FUZZ_REQUIRE(same(readExact(compactText), value), describe(compactText, readExact(compactText), value));

    const qsizetype at = text.isEmpty() ? 0 : qsizetype(size % std::size_t(text.size() + 1));
    QString spaced = text;
    spaced.insert(at, QChar(size % 3 == 0 ? u'\t' : u' '));
    FUZZ_REQUIRE(same(readExact(spaced), value), describe(spaced, readExact(spaced), value));

    for (QChar stop : {QChar(u'x'), QChar(u','), QChar(u'\uFF0C')}) {
        const QString longer = text + stop;
        FUZZ_REQUIRE(same(readExact(longer), value), describe(longer, readExact(longer), value));
    }

    if (!compact.empty() && (isDigit(compact[0]) || compact[0] == u'.')) {
        const QString negated = QStringLiteral("-") + text;
        FUZZ_REQUIRE(same(readExact(negated), -value), describe(negated, readExact(negated), -value));
    }
    return 0;
}
