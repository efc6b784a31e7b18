// The program preview: both set-point curves of the program as typed, drawn on
// a picture of 15008 x 9008 logical units (x to the right, y downwards).
//
// Horizontal: the sum of the eight TIMEs is spread over 15 grid divisions of
// 1000 units; one division stands for `step` time units, step = total / 15
// (integer part) + 1, so the time scale is 15000 / (15 step) units per time
// unit. TIMEs 10, 20 and six zeros: total 30, step 3, scale 333.33, segment 1
// ends at x 3333.3, segment 2 at 10000.
//
// Vertical: the curve range is the SV1 range, or the SV2 range when SV2 goes
// higher; it is stretched over 9000 / 1.2 = 7500 units, so the minimum lies on
// the bottom edge (y = 9008) and the maximum 7500 units above it, leaving the
// top sixth free. Ten labels one every 1000 units read minimum + i * range *
// 1.2 / 9: SV1 100..800 gives range 700, label step 93.33, labels 00100,
// 00193, 00287 ... 00940.
//
// The refresh draws with the scale of the refresh before and only then takes
// the new start point and vertical range (see ProgramEditor::refresh), so a
// change of the program shows its vertical scaling one refresh later. A range
// of 0 keeps the previous vertical scale (0 after load: every curve on the
// bottom edge).
#pragma once

#include "program/programregisters.h"

#include <QColor>
#include <QString>

#include <array>
#include <cstdint>

namespace station::draw {
class Canvas;
}

namespace station::program {

namespace preview {
inline constexpr double kWidth = 15008;         // picture box scale width
inline constexpr double kHeight = 9008;         // picture box scale height, H
inline constexpr int kTimeDivisions = 15;       // vertical grid lines 1000 units apart
inline constexpr int kDivision = 1000;
inline constexpr int kGridRowStep = 200;        // horizontal grid lines at y = 200 i, i = 0..45
inline constexpr int kGridRows = 45;
inline constexpr double kFirstGridColumn = 2;   // the left grid line stands at x 2, not 0
inline constexpr double kCurveSpan = 9000;      // y span of range * 1.2
inline constexpr double kHeadroom = 1.2;
inline constexpr int kTimeLabels = 16;          // Label8 0..15
inline constexpr int kValueLabels = 10;         // Label6 0..9, bottom to top
inline const QColor kBackColor{192, 192, 255};
inline const QColor kGridColor{64, 64, 0};
inline const QColor kMarkerColor{0, 255, 0};
inline const QColor kSv1Color{255, 0, 0};
inline const QColor kSv2Color{0, 128, 0};
inline constexpr int kCurvePenWidth = 2;
} // namespace preview

// The scale values the window keeps between refreshes, all 0 at load.
struct PreviewScale {
    float timeScale = 0;             // x units per time unit
    std::int16_t verticalMax = 0;
    std::int16_t verticalMin = 0;
    std::int16_t sv2Max = 0;
    std::int16_t sv2Min = 0;
    std::int16_t range = 0;          // |verticalMax - verticalMin|
    float labelStep = 0;             // range * 1.2 / 9
    float verticalScale = 0;         // y units per value unit, 9000 / (range * 1.2)
    std::int16_t verticalOffset = 0; // verticalMin * verticalScale, rounded
};

struct TimeAxis {
    std::int64_t total = 0;          // sum of TIME slots 1..8, whatever the segment count
    std::int64_t step = 1;           // time units per grid division
    std::array<std::int64_t, preview::kTimeLabels> labels{};  // i * step
};

// The time axis of the tables; with a total of 0 the labels read 0..15.
TimeAxis timeAxis(const SegmentTables &tables);

// Dotted grid, pen width 1, RGB(64, 64, 0).
void drawGrid(draw::Canvas &canvas);

// Segment end markers and the SV1 and SV2 ramps with the scale as it stands;
// recomputes the vertical scale (kept when the range is 0) and the offset.
void drawCurves(draw::Canvas &canvas, const SegmentTables &tables, PreviewScale &scale);

// Step 6 of a refresh, and the drawing at load: clears the canvas, draws the
// grid, sets the time scale from the time axis, draws the curves. Returns the
// time axis for the labels.
TimeAxis drawPreview(draw::Canvas &canvas, const SegmentTables &tables, PreviewScale &scale);

// Start point (slot 0 of SV1 and SV2): the live set values (live sample slots 2,
// 3) when the start set value option is not 0, else the live measured values
// (slots 0, 1), rounded to 16 bits; a value that does not fit keeps the slot.
void takeStartPoint(SegmentTables &tables, std::int32_t startSetValue, const std::array<float, 10> &liveSample);

struct VerticalLabels {
    QString maximum;   // Label5
    QString minimum;   // Label10
    QString step;      // Label11
    std::array<QString, preview::kValueLabels> values;  // Label6 0..9, "00000"
};

// Vertical range from SV1 and SV2 slots 1..8 (start points take no part) into
// the scale, and the texts of the labels that show it.
VerticalLabels updateVerticalRange(const SegmentTables &tables, PreviewScale &scale);

// A value rounded (halves to even) and written with at least five digits,
// leading zeros: 193.33 -> "00193", -5 -> "-00005".
QString fiveDigits(double value);

} // namespace station::program
