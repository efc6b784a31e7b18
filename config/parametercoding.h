// Turning what the operator typed into a register integer, and a register value
// from the parameter image into the text of its value display.
//
// Entered text to register (numeric parameters):
//   1  the leading number of the text (station::leadingNumber: blanks skipped
//      anywhere, sign, digits, '.', exponent, &H/&O; 0 when there is none);
//   2  times the parameter's scale (10 for the digital filter, seconds -> tenths);
//   3  converted to single precision, then to the nearest 32-bit integer with
//      ties to even ("2.5" in the filter box writes 25, "-0.5" writes 0, "1.5" 2).
// No range is checked; a result that does not fit a 32-bit integer is no value.
//
// Register value to display text:
//   enumerated  the display text of the code equal to the value, none otherwise;
//   numeric     value / scale in plain decimal (filter 15 -> "1.5", 10 -> "1";
//               others 5000, -100).
#pragma once

#include "config/parametertable.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace station::config {

// Register integer for the text of a numeric parameter's entry box; nullopt
// when the number does not fit a 32-bit integer (nothing is then written).
std::optional<std::int32_t> encodeEntry(const Parameter &parameter, QStringView text);

// Text for the value display of the parameter holding value; nullopt when an
// enumerated parameter holds no code of its list (the display keeps its text).
std::optional<QString> displayText(const Parameter &parameter, float value);

} // namespace station::config
