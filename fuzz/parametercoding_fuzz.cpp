// Fuzz target: the coding of the configuration parameters (config/
// parametercoding.h) and their option lists (config/optionlists.h).
//
// Input: a byte choosing one of the 38 parameters, a mode byte, then
//   mode 0  the text of an entry box (UTF-8): encodeEntry for a numeric
//           parameter, optionNumber of its list for an enumerated one;
//   mode 1  a float's bit pattern: displayText and displayFor;
//   mode 2  a 16-bit register value: display text, typed back into the entry;
//   mode 3  a 32-bit register value, the same.
//
// Properties:
//  - encodeEntry gives the leading number times the scale through single
//    precision, to the nearest integer (within half a unit and the float's
//    rounding); a value only when that fits 32 bits, always when it clearly does;
//  - optionNumber names an entry only when the text equals it, and every entry
//    text names its own code;
//  - an enumerated parameter displays exactly the values 0 .. size-1, with the
//    display text of that code; a numeric one displays every value as plain
//    decimal that reads back within seven significant digits;
//  - what a register value displays, typed into the entry box, writes the
//    same register value (16-bit values always; wider ones as far as seven
//    significant digits of the display carry them).
#include "common/numbers.h"
#include "config/parametercoding.h"
#include "config/parametertable.h"
#include "fuzz/fuzzcheck.h"

#include <cmath>

using namespace station::config;
using station::fuzz::escaped;
using station::fuzz::Input;
using station::fuzz::plainDecimal;
using station::fuzz::withinSevenDigits;

namespace {

QString describe(const Parameter &p, const QString &what)
{
    return QStringLiteral("parameter %1 (scale %2): %3").arg(p.reg).arg(p.scale).arg(what);
}

void checkEntry(const Parameter &p, const QString &text)
{
    if (p.isEnumerated()) {
        const OptionList &list = *p.options;
        const int n = list.optionNumber(text);
        FUZZ_REQUIRE(n == -1 || (n >= 0 && n < list.size() && list.options[std::size_t(n)].entry == text),
                     describe(p, QStringLiteral("text \"%1\" names option %2").arg(escaped(text)).arg(n)));
        const int code = int(text.size() % list.size());
        FUZZ_REQUIRE(list.optionNumber(list.options[std::size_t(code)].entry) == code,
                     describe(p, QStringLiteral("entry %1 does not name itself").arg(code)));
        return;
    }
    const double wanted = station::leadingNumber(text) * p.scale;
    const auto written = encodeEntry(p, text);
    const QString what = QStringLiteral("text \"%1\" (%2) writes %3")
                             .arg(escaped(text), QString::number(wanted, 'g', 17),
                                  written ? QString::number(*written) : QStringLiteral("nothing"));
    // The float nearest to 2^31 from below is 2^31 - 128; above 2^31 floats are 256 apart.
    constexpr double kSurelyFits = 2147483520.0;
    constexpr double kSurelyNot = 2147483648.0 + 256.0;
    if (!std::isfinite(wanted) || std::fabs(wanted) >= kSurelyNot)
        FUZZ_REQUIRE(!written, describe(p, what));
    else if (std::fabs(wanted) <= kSurelyFits)
        FUZZ_REQUIRE(written, describe(p, what));
    if (written)
        FUZZ_REQUIRE(std::fabs(double(*written) - wanted) <= 0.5 + std::fabs(wanted) * 0x1p-24,
                     describe(p, what));
}

void checkDisplay(const Parameter &p, float value)
{
    const auto text = displayText(p, value);
    const QString what = QStringLiteral("value %1 displays %2")
                             .arg(QString::number(double(value), 'g', 9), text ? escaped(*text) : QStringLiteral("nothing"));
    if (p.isEnumerated()) {
        const OptionList &list = *p.options;
        const bool isCode = value == std::trunc(value) && value >= 0 && value < float(list.size());
        FUZZ_REQUIRE(text.has_value() == isCode, describe(p, what));
        FUZZ_REQUIRE(list.displayFor(value).has_value() == isCode, describe(p, what));
        if (isCode)
            FUZZ_REQUIRE(*text == list.options[std::size_t(value)].display, describe(p, what));
        return;
    }
    FUZZ_REQUIRE(text.has_value(), describe(p, what));
    if (!std::isfinite(value))
        return;
    FUZZ_REQUIRE(plainDecimal(*text), describe(p, what));
    const double shown = double(value) / p.scale;
    FUZZ_REQUIRE(withinSevenDigits(station::leadingNumber(*text), shown), describe(p, what));
}

// A register value shown and typed back unchanged writes the same value.
void checkRoundTrip(const Parameter &p, std::int32_t reg)
{
    const float image = float(reg); // the register image keeps floats
    checkDisplay(p, image);
    if (p.isEnumerated())
        return;
    // Seven significant digits carry any integer below 10^7 in tenths.
    if (p.scale != 1 && std::fabs(image) >= 1e7)
        return;
    const QString text = *displayText(p, image);
    const auto written = encodeEntry(p, text);
    const auto expected = station::toInt32(double(image));
    FUZZ_REQUIRE(written == expected,
                 describe(p, QStringLiteral("register %1 displays \"%2\", which writes %3")
                                 .arg(reg)
                                 .arg(text, written ? QString::number(*written) : QStringLiteral("nothing"))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 4096)
        return 0;
    Input in(data, size);
    const auto all = parameters();
    const Parameter &p = all[std::size_t(in.byte()) % all.size()];
    switch (in.byte() % 4) {
    case 0:
        checkEntry(p, in.restAsText());
        break;
    case 1:
        checkDisplay(p, in.take<float>());
        break;
    case 2:
        checkRoundTrip(p, in.take<std::int16_t>());
        break;
    default:
        checkRoundTrip(p, in.take<std::int32_t>());
        break;
    }
    return 0;
}
