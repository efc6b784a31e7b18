#include "program/preview.h"

#include "chart/draw/canvas.h"
#include "common/numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace station::program {

using namespace preview;

TimeAxis timeAxis(const SegmentTables &tables)
{
    TimeAxis axis;
    for (int k = 1; k <= kSegments; ++k)
        axis.total += tables.time[std::size_t(k)];
    // Integer part towards minus infinity; only a negative total (which the
    // four-digit boxes cannot produce) would make the step 0.
    std::int64_t quotient = axis.total / kTimeDivisions;
    if (axis.total % kTimeDivisions != 0 && axis.total < 0)
        --quotient;
    axis.step = quotient + 1;
    for (int i = 0; i < kTimeLabels; ++i)
        axis.labels[std::size_t(i)] = i * axis.step;
    return axis;
}

void drawGrid(draw::Canvas &canvas)
{
    canvas.setPen({1, kGridColor, draw::LineStyle::Dot});
    for (int i = 0; i <= kGridRows; ++i)
        canvas.line(0, i * kGridRowStep, kWidth, i * kGridRowStep);
    canvas.line(kFirstGridColumn, 0, kFirstGridColumn, kHeight);
    for (int i = 1; i <= kTimeDivisions; ++i)
        canvas.line(i * kDivision, 0, i * kDivision, kHeight);
}

void drawCurves(draw::Canvas &canvas, const SegmentTables &tables, PreviewScale &scale)
{
    if (scale.range != 0)
        scale.verticalScale = float(kCurveSpan / (scale.range * kHeadroom));
    if (scale.verticalMin == 0)
        scale.verticalOffset = 0;
    else if (const auto offset = toInt16(scale.verticalMin * double(scale.verticalScale)))
        scale.verticalOffset = *offset;

    const double ts = scale.timeScale;
    const double vs = scale.verticalScale;
    const auto y = [&](std::int16_t v) { return kHeight + scale.verticalOffset - roundHalfEven(v * vs); };

    std::int64_t end = 0;
    for (int k = 1; k <= kSegments; ++k) {
        const std::size_t s = std::size_t(k);
        end += tables.time[s];
        const double x0 = roundHalfEven(ts * double(end - tables.time[s]));
        const double x1 = roundHalfEven(ts * double(end));

        canvas.setPen({1, kMarkerColor, draw::LineStyle::Dash});
        canvas.line(ts * double(end), 0, ts * double(end), kCurveSpan);

        canvas.setPen({kCurvePenWidth, kSv1Color, draw::LineStyle::Solid});
        canvas.line(x0, y(tables.sv1[s - 1]), x1, y(tables.sv1[s]));

        canvas.setPen({kCurvePenWidth, kSv2Color, draw::LineStyle::Solid});
        canvas.line(x0, y(tables.sv2[s - 1]), x1, y(tables.sv2[s]));
    }
}

TimeAxis drawPreview(draw::Canvas &canvas, const SegmentTables &tables, PreviewScale &scale)
{
    canvas.clear();
    drawGrid(canvas);
    const TimeAxis axis = timeAxis(tables);
    if (axis.step != 0)
        scale.timeScale = float(double(kTimeDivisions * kDivision) / (double(kTimeDivisions) * double(axis.step)));
    drawCurves(canvas, tables, scale);
    return axis;
}

void takeStartPoint(SegmentTables &tables, std::int32_t startSetValue, const std::array<float, 10> &liveSample)
{
    // Live sample slots: 0 PV1, 1 PV2, 2 SV1, 3 SV2.
    const std::size_t first = startSetValue != 0 ? 2 : 0;
    if (const auto v = toInt16(liveSample[first]))
        tables.sv1[0] = *v;
    if (const auto v = toInt16(liveSample[first + 1]))
        tables.sv2[0] = *v;
}

VerticalLabels updateVerticalRange(const SegmentTables &tables, PreviewScale &scale)
{
    const auto first = tables.sv1.begin() + 1;
    const auto last = tables.sv1.begin() + 1 + kSegments;
    const auto [sv1Min, sv1Max] = std::minmax_element(first, last);
    const auto [sv2Min, sv2Max] = std::minmax_element(tables.sv2.begin() + 1, tables.sv2.begin() + 1 + kSegments);
    scale.verticalMax = *sv1Max;
    scale.verticalMin = *sv1Min;
    scale.sv2Max = *sv2Max;
    scale.sv2Min = *sv2Min;
    if (scale.sv2Max > scale.verticalMax) {
        scale.verticalMax = scale.sv2Max;
        scale.verticalMin = scale.sv2Min;
    }

    VerticalLabels out;
    out.maximum = QString::number(scale.verticalMax);
    out.minimum = QString::number(scale.verticalMin);
    // |max - min| of two 16-bit values can pass 32767; the range then keeps
    // its previous value, as does everything computed from it.
    const int range = std::abs(int(scale.verticalMax) - int(scale.verticalMin));
    if (range <= 32767) {
        scale.range = std::int16_t(range);
        scale.labelStep = float(scale.range * kHeadroom / (kValueLabels - 1));
    }
    out.step = numberText(scale.labelStep);
    for (int i = 0; i < kValueLabels; ++i)
        out.values[std::size_t(i)] = fiveDigits(scale.verticalMin + i * double(scale.labelStep));
    return out;
}

QString fiveDigits(double value)
{
    const double r = roundHalfEven(value);
    if (!std::isfinite(r))
        return QString::number(r);
    const QString digits = QStringLiteral("%1").arg(static_cast<qulonglong>(std::fabs(r)), 5, 10, QLatin1Char('0'));
    return r < 0 ? QLatin1Char('-') + digits : digits;
}

} // namespace station::program
