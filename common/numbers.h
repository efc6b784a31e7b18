// Number rules shared by every window: reading a number the operator typed,
// rounding it, and writing a value as text.
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace station {

// The leading number of a text, read the way the operator expects from the
// controller's own keypad software:
//  - the full-width digits, signs, point and blank that a Chinese input method
//    types read as their ASCII counterparts ("１２" reads 12, "－５" reads -5);
//  - blanks, tabs, carriage returns and line feeds are skipped wherever they stand
//    ("1 2" reads 12, "  -5" reads -5);
//  - an optional sign, digits, an optional decimal point (always '.') with digits,
//    and an optional exponent (E, optional sign, digits; "1d2" reads 1) are read;
//  - reading stops at the first character that cannot continue the number
//    ("12abc" reads 12, "1,5" reads 1);
//  - "&H" and "&O" introduce a hexadecimal or octal integer; up to four digits
//    read as a 16-bit signed word, more as a 32-bit signed word ("&HFFFF" is -1);
//  - a text without a leading number reads 0.
double leadingNumber(QStringView text);

// The ASCII character a full-width digit, '+', '-', '.' or the ideographic blank
// stands for; any other character unchanged.
char16_t halfWidth(char16_t c);

// Nearest integer, halves to the even neighbour (12.5 -> 12, 13.5 -> 14, -0.5 -> 0).
double roundHalfEven(double value);

// Nearest 32-bit / 16-bit integer with halves to even; nullopt when the rounded value
// does not fit (the caller then skips the step that needed it).
std::optional<std::int32_t> toInt32(double value);
std::optional<std::int16_t> toInt16(double value);

// Text of a value the way the status labels show it: integral values in plain
// decimal; fractional values with at most seven significant digits, no exponent,
// no trailing zeros and no trailing point (50.3, 50, -0.5).
QString numberText(double value);

// Shortest decimal text that reads back as the same 32-bit float, no exponent
// (the ruler cursor shows stored samples this way).
QString shortestFloatText(float value);

} // namespace station
