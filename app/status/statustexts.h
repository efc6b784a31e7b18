// What the live status panel shows for one register image: every label's text
// and whether each state label is active. Pure functions, no widgets; the panel
// applies the result, tests check it directly.
//
// The panel keeps no state of its own: the texts depend on the image alone, so
// a refresh rewrites every label, and an all-zero image (a fresh start, before
// the first poll) gives the initial texts.
#pragma once

#include "app/status/statustables.h"
#include "link/registerimage.h"

#include <QString>
#include <array>
#include <cstdint>

namespace station::status {

struct StateLabelText {
    QString text;
    bool active = false;
    bool operator==(const StateLabelText &) const = default;
};

struct StatusTexts {
    std::array<QString, kProgramLabelCount> program;     // label 0 the run state, 1..8 program words
    std::array<QString, kProcessLabelCount> process;     // 0..5 process values, 6..7 alarm kinds
    std::array<QString, kSetValueLabelCount> setValue;   // holding 1, 2
    std::array<StateLabelText, kStateLabelCount> states; // discrete inputs 1..6
    std::array<QString, reg::kParamCount> params;        // by parameter index; empty where no label
    std::array<QString, kAlarmLabelCount> alarms;        // holding 257..262
};

StatusTexts statusTexts(const RegisterImage &image);

// The pieces, one label each.
// Program label 0: the run-state text for 0..3, otherwise the number.
QString runStateText(std::int32_t word);
// Process label i (0..7) for live-sample value i: labels 4 and 5 are divided by
// ten, labels 6 and 7 show the alarm kind.
QString processText(int label, float sample);
// Alarm-kind label 6 or 7: the kind's text for 0..5, otherwise the number.
QString alarmKindText(int label, float kind);
// State label k (0..5) for discrete bit k: any non-zero bit is active.
StateLabelText stateText(int label, std::int32_t bit);
// Parameter label for parameter-image value index (the filter is in tenths).
QString paramText(int index, float value);

} // namespace station::status
