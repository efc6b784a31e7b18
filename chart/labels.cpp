#include "chart/labels.h"

#include "common/datenum.h"
#include "common/numbers.h"

namespace station::chart {

namespace {

// The live labels advance by a thirtieth of five minutes (0.00347222 of a day)
// per zoom level: 10 s at zoom 1, 40 s at zoom 4.
constexpr double kFiveMinutes = 0.00347222;
constexpr double kStepsPerFiveMinutes = 30;
constexpr int kNewestLoadedSlot = kLiveWindow; // slot 241

} // namespace

int labelSlot(const ViewState &view, int k)
{
    return 10 * int(view.zoomLevel) * k + int(view.firstSlot) + 1;
}

DateTime extrapolatedLabel(const Slot &newest, std::int16_t zoomLevel, int m)
{
    const float step = float(double(zoomLevel) * kFiveMinutes / kStepsPerFiveMinutes);
    DateTime out{newest.date, newest.time + double(step * float(m))};
    if (out.time > 1.0) {
        out.date += 1;
        out.time -= 1;
    }
    return out;
}

TimeLabels timeLabels(const Buffer &buffer, const ViewState &view)
{
    TimeLabels labels;
    for (int k = 0; k < kTimeLabelCount; ++k) {
        const int s = labelSlot(view, k);
        if (!validSlot(s))
            continue;
        if (!buffer[s].filled) { // no sample there: no time to name
            labels.time[k] = QString();
            labels.date[k] = QString();
            continue;
        }
        labels.time[k] = timeText(buffer[s].time);
        labels.date[k] = shortDateText(buffer[s].date);
    }
    if (view.windowLength < kHistoryLengthThreshold) {
        const Slot &newest = buffer[kNewestLoadedSlot];
        for (int m = 1; m <= 2; ++m) {
            if (!newest.filled) {
                labels.time[6 + m] = QString();
                labels.date[6 + m] = QString();
                continue;
            }
            const DateTime t = extrapolatedLabel(newest, view.zoomLevel, m);
            labels.time[6 + m] = timeText(t.time);
            labels.date[6 + m] = shortDateText(t.date);
        }
    }
    return labels;
}

std::array<QString, kScaleLabelCount> leftScaleTexts(const YRange &range)
{
    std::array<QString, kScaleLabelCount> texts;
    const float sixth = float(double(range.span) / 6.0);
    for (int i = 0; i < kScaleLabelCount; ++i) {
        // |i x span / 6| <= 32768, so the rounded product always fits 32 bits.
        const auto product = qint64(roundHalfEven(double(float(i) * sixth)));
        texts[i] = QString::number(product + range.minimum);
    }
    return texts;
}

std::optional<DateTimeTexts> windowStartTexts(const Buffer &buffer, const ViewState &view)
{
    const int s = int(view.firstSlot) + 1;
    if (!validSlot(s) || !buffer[s].filled)
        return std::nullopt;
    return DateTimeTexts{shortDateText(buffer[s].date), timeText(buffer[s].time)};
}

} // namespace station::chart
