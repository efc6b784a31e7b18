#include "chart/render.h"

#include "common/numbers.h"

#include <cmath>

namespace station::chart {

using draw::Canvas;
using draw::LineStyle;

void drawGrid(Canvas &canvas)
{
    canvas.setPenWidth(1);
    canvas.setPenColor(kGridColor);
    canvas.setLineStyle(LineStyle::Dot);
    canvas.setBackColor(kPlotBackground);

    const QSizeF size = canvas.logicalSize();
    const double w = size.width();
    const double h = size.height();
    canvas.line(0, 0, w, 0);
    canvas.line(0, kScaleHeight, w, kScaleHeight);
    for (int i = 0; i < kGridRows; ++i) {
        const double y = roundHalfEven(kGridRowStep * i); // [312.5] = 312, [937.5] = 938
        canvas.line(0, y, w, y);
    }
    canvas.line(8, 0, 8, h);
    canvas.line(kLiveEdgeX, 0, kLiveEdgeX, h);
    for (int i = 0; i < kGridColumns; ++i) {
        const double x = kGridColumnStep * i;
        canvas.line(x, 0, x, h);
    }
}

namespace {

// Last k of the mark and pen loops: 60 x zoom samples up to the live edge plus
// whatever the live view has appended beyond slot 241.
int lastSegment(const ViewState &view, std::int16_t end)
{
    return 60 * int(view.zoomLevel) + (int(end) - kLiveWindow);
}

} // namespace

void drawGapMarks(Canvas &canvas, const Buffer &buffer, const ViewState &view)
{
    canvas.setPenWidth(1);
    canvas.setPenColor(kGapMarkColor);
    canvas.setLineStyle(LineStyle::Dash);
    const int last = lastSegment(view, view.markEnd);
    for (int k = 1; k <= last; ++k) {
        const int s = k + view.firstSlot;
        if (s > kLastSlot)
            break; // every later slot is outside the buffer too
        if (s < 0 || buffer[s].gapMark <= 0)
            continue;
        const double x = double(float(k) * view.sampleStep);
        canvas.line(x, 0, x, kMarkLength);
    }
}

float processScale(YRange &range)
{
    if (range.span == 0) {
        range.offset = 0;
        return 0.0f;
    }
    const float scale = float(kScaleHeight / double(range.span));
    if (range.minimum == 0) {
        range.offset = 0;
    } else if (const auto offset = toInt16(double(scale * float(range.minimum)))) {
        range.offset = *offset;
    }
    return scale;
}

double processY(double height, float scale, std::int16_t offset, float value)
{
    return (height + offset) - roundHalfEven(double(scale * value));
}

double percentY(double height, float value)
{
    return (height - kPercentBase) - roundHalfEven(kPercentScale * double(value));
}

void drawCurves(Canvas &canvas, const Buffer &buffer, const ViewState &view, YRange &range)
{
    const float scale = processScale(range);
    const std::int16_t offset = range.offset;
    const double h = canvas.logicalSize().height();
    canvas.setLineStyle(LineStyle::Solid);

    const int last = lastSegment(view, view.curveEnd);
    for (int k = 1; k <= last; ++k) {
        const int a = view.firstSlot + k - 1;
        const int b = view.firstSlot + k;
        if (a > kLastSlot)
            break;
        // No pen runs to or from a slot without a sample, nor through a
        // sample that is not live: the line breaks there as at a gap.
        const bool joined = validSlot(a) && validSlot(b) && drawable(buffer[a]) && drawable(buffer[b]);
        const double x1 = roundHalfEven(double(float(k - 1) * view.sampleStep));
        const double x2 = roundHalfEven(double(float(k) * view.sampleStep));
        canvas.setPenWidth(2);
        for (const PenSpec &pen : kPens) {
            if (pen.column == 2)
                canvas.setPenWidth(1);
            canvas.setPenColor(pen.color);
            if (!joined)
                continue;
            const float v1 = buffer[a].values[pen.column];
            const float v2 = buffer[b].values[pen.column];
            const double y1 = pen.percentScale ? percentY(h, v1) : processY(h, scale, offset, v1);
            const double y2 = pen.percentScale ? percentY(h, v2) : processY(h, scale, offset, v2);
            if (std::isfinite(y1) && std::isfinite(y2)) // a NaN read from a damaged row is skipped
                canvas.line(x1, y1, x2, y2);
        }
    }
}

} // namespace station::chart
