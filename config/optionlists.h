// Option lists of the enumerated configuration parameters. An entry's code is
// its position in the list (0, 1, 2, ...), and every entry text begins with that
// code and a colon. Entry texts fill the combo boxes exactly as written, trailing
// blanks included; display texts are what the value display shows for a code,
// and differ from the entry texts in places ("1:允许 " shows "使能").
#pragma once

#include <QString>
#include <QStringView>
#include <optional>
#include <span>

namespace station::config {

struct Option {
    QStringView entry;    // combo box entry, "code:text"
    QStringView display;  // value display text for this code
};

struct OptionList {
    QStringView name;  // for logs and test messages
    std::span<const Option> options;

    int size() const { return int(options.size()); }

    // Display text of the code that equals value exactly; nullopt for any other
    // value (6 in a six-entry list, 1.5, a negative number).
    std::optional<QStringView> displayFor(float value) const;

    // Position of the entry whose text equals text exactly, -1 when none does (a
    // bare "2" left in the box by an earlier write, a half-typed entry).
    int optionNumber(QStringView text) const;
};

extern const OptionList kEnableList;           // 4097, 4098
extern const OptionList kTemperatureUnitList;  // 4100
extern const OptionList kSensorTypeList;       // 4105, 4113
extern const OptionList kDecimalPointList;     // 4106, 4114
extern const OptionList kOpenClosedList;       // 4124, 4128
extern const OptionList kAlarmModeList;        // 4129, 4130
extern const OptionList kAlarmChannelList;     // 4131, 4132
extern const OptionList kBaudRateList;         // 4134
extern const OptionList kParityList;           // 4135
extern const OptionList kRetransRangeList;     // 4137, 4141
extern const OptionList kRetransSourceList;    // 4138, 4142

// The eleven lists above, for tests and tools that walk them.
std::span<const OptionList *const> optionLists();

} // namespace station::config
