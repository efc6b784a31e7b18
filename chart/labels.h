// The texts around the plot: the nine time and date labels under it, the left
// scale of the process pens, the fixed percent scale of the output pens and the
// date and time of the window's first visible sample (top right of the window).
#pragma once

#include "chart/buffer.h"
#include "chart/viewstate.h"

#include <QString>
#include <array>
#include <optional>

namespace station::chart {

inline constexpr int kTimeLabelCount = 9;    // Label4 (time) and Label7 (date), 0..8
inline constexpr double kTimeLabelSpacing = 1500; // twips between two labels
inline constexpr int kScaleLabelCount = 7;   // Label5 (process) and Label6 (percent), 0..6

// One label for each k; nullopt where the step was skipped (a slot outside the
// buffer) and the label keeps its text.
struct TimeLabels {
    std::array<std::optional<QString>, kTimeLabelCount> time;
    std::array<std::optional<QString>, kTimeLabelCount> date;
};

// Slot named by label k: 10 x zoom x k + first slot + 1, the sample drawn at
// X = 1500 k + sample step (10 x zoom x step = 1500 on every level).
int labelSlot(const ViewState &view, int k);

struct DateTime {
    double date = 0;
    double time = 0;
    bool operator==(const DateTime &) const = default;
};

// The live view's guess at the time of label 7 (m = 1) or 8 (m = 2): the newest
// loaded sample plus m steps of zoom x 0.00347222 / 30 of a day (about
// zoom x 10 s), the step rounded to float first. A sum above 1.0 rolls over to
// the next day; exactly 1.0 does not.
DateTime extrapolatedLabel(const Slot &newest, std::int16_t zoomLevel, int m);

// All nine labels; labels 7 and 8 are extrapolated while the window length is
// below 320 (live view). A label whose slot holds no sample is blank, as are
// the extrapolated ones when slot 241 holds none: no time is invented.
TimeLabels timeLabels(const Buffer &buffer, const ViewState &view);

// Label5(i) = [i x (span / 6)] + minimum, the quotient rounded to float and the
// product to a 32-bit integer. Label5(0) sits at the bottom of the plot.
std::array<QString, kScaleLabelCount> leftScaleTexts(const YRange &range);

// Label6, bottom to top: the percent scale of columns 8 and 9.
inline const std::array<QString, kScaleLabelCount> kPercentLabels{
    QStringLiteral("-10"), QStringLiteral("10"), QStringLiteral("30"), QStringLiteral("50"),
    QStringLiteral("70"), QStringLiteral("90"), QStringLiteral("110")};

inline const QString kLeftRangeCaption = QStringLiteral("量 程");  // Label15
inline const QString kRightRangeCaption = QStringLiteral("量程");  // Label11

// Date and time texts of slot first slot + 1 (the first visible sample of a
// loaded window); nullopt when that slot is outside the buffer or empty.
struct DateTimeTexts {
    QString date;
    QString time;
    bool operator==(const DateTimeTexts &) const = default;
};
std::optional<DateTimeTexts> windowStartTexts(const Buffer &buffer, const ViewState &view);

} // namespace station::chart
