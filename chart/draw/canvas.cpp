#include "chart/draw/canvas.h"

namespace station::draw {

void RecordingCanvas::clear()
{
    m_lines.clear();
    ++m_clears;
}

void RecordingCanvas::setBackColor(const QColor &color)
{
    m_back = color;
    clear();
}

void RecordingCanvas::line(double x1, double y1, double x2, double y2)
{
    m_lines.append({x1, y1, x2, y2, pen()});
}

QList<RecordingCanvas::Line> RecordingCanvas::linesWithColor(const QColor &color) const
{
    QList<Line> out;
    for (const Line &l : m_lines)
        if (l.pen.color == color)
            out.append(l);
    return out;
}

} // namespace station::draw
