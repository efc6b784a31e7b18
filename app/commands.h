// The main window's single-value writes: the two set values, the six alarm
// settings and the program run command. Each writes one holding register with
// the write-with-retry rule; nothing is shown, the read-back labels of the
// status panel show the controller's value on their next refresh.
#pragma once

#include "link/writetag.h"

#include <QString>
#include <cstdint>
#include <optional>

class QComboBox;

namespace station::commands {

inline constexpr double kHighest = 9999;  // set values and alarm settings
inline constexpr double kLowest = -1999;

// The value a numeric panel writes for the entry's text: its leading number
// (no number reads 0), refused above 9999 or below -1999, rounded to the
// nearest integer with halves to even (12.5 writes 12, 13.5 writes 14).
std::optional<std::int32_t> numericValue(const QString &text);

// Writes numericValue(text) to reg; returns whether a write was issued. A tag
// that names its window goes with the write, its entered text filled in.
bool numericWrite(const QString &text, std::int32_t reg, link::WriteTag tag = {});

// The run command: the box's text is replaced by the position of the chosen
// entry ("4:结束 " gives 3), which is written to holding register 3. A text
// that names no entry (typed by the operator) writes nothing; the bare number
// a previous write left in the box sends the same command again. The tag as
// for numericWrite, with the box's text as it was before the write.
bool runCommandWrite(QComboBox *box, link::WriteTag tag = {});

} // namespace station::commands
