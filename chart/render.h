// Drawing the trend chart onto a picture-box canvas in its logical twips: the
// dotted grid, the yellow gap marks and the six pens. Each function draws the
// whole of its layer from the buffer and the view state; nothing is cached.
// W and H are the canvas's logical size at the moment a function runs.
#pragma once

#include "chart/buffer.h"
#include "chart/viewstate.h"
#include "chart/draw/canvas.h"

#include <QColor>
#include <array>

namespace station::chart {

inline const QColor kPlotBackground{192, 255, 255};
inline const QColor kGridColor{255, 128, 255};
inline const QColor kGapMarkColor{255, 255, 0};

struct PenSpec {
    int column;   // value column of the buffer
    QColor color;
    int width;    // pixels
    bool percentScale; // columns 8 and 9 use the fixed -10..110 scale
};

// The six pens in drawing order.
inline const std::array<PenSpec, 6> kPens{{
    {0, QColor(255, 0, 0), 2, false},
    {1, QColor(0, 0, 192), 2, false},
    {2, QColor(255, 128, 128), 1, false},
    {3, QColor(128, 128, 255), 1, false},
    {8, QColor(128, 0, 0), 1, true},
    {9, QColor(0, 0, 128), 1, true},
}};

// Plot geometry in twips.
inline constexpr double kPlotWidth = 12008;
inline constexpr double kPlotHeight = 7508;
inline constexpr double kFrameWidth = 12010;   // pt0, behind the plot
inline constexpr double kFrameHeight = 7510;
inline constexpr double kScaleHeight = 7500;   // the process pens' span maps onto this
inline constexpr double kGridRowStep = 312.5;  // 25 dotted rows, 0..7500
inline constexpr int kGridRows = 25;
inline constexpr double kGridColumnStep = 375; // 33 dotted columns, 0..12000
inline constexpr int kGridColumns = 33;
inline constexpr double kLiveEdgeX = 9000;     // where the pens end after a live load
inline constexpr double kMarkLength = 9000;    // gap marks run past the bottom edge

// Percent scale of columns 8 and 9: y = (H - 625) - [62.5 v], so -10 lands on
// the bottom edge, 0 at 625 above it, 100 at 6875 and 110 on the top.
inline constexpr double kPercentBase = 625;
inline constexpr double kPercentScale = 62.5;

// Grid: background (192, 255, 255), which blanks the picture, then 62 dotted
// lines 1 pixel wide: the top edge, y = 7500, 25 rows at [312.5 i], the
// verticals x = 8 and x = 9000, and 33 columns at 375 i.
void drawGrid(draw::Canvas &canvas);

// Gap marks: for k = 1 .. 60 x zoom + (mark end - 241), a dashed yellow
// vertical at x = k x sample step when slot k + first slot carries a mark.
void drawGapMarks(draw::Canvas &canvas, const Buffer &buffer, const ViewState &view);

// The process pens' scale for the current range: Y scale = 7500 / span in
// 32-bit float (0 when span is 0) and the offset stored into range.offset.
float processScale(YRange &range);

// Pens: segment k = 1 .. 60 x zoom + (curve end - 241) joins slot first + k - 1
// at x = [(k - 1) step] to slot first + k at x = [k step], six pens per k in
// the order of kPens, when both slots hold a drawable sample (buffer.h): no
// line is drawn to an empty slot or through a sample that is not live.
// Updates range.offset.
void drawCurves(draw::Canvas &canvas, const Buffer &buffer, const ViewState &view, YRange &range);

// y of a process value: (H + offset) - [scale x v], the product in float.
double processY(double height, float scale, std::int16_t offset, float value);
// y of a percent value: (H - 625) - [62.5 x v] in double.
double percentY(double height, float value);

} // namespace station::chart
