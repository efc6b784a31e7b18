// A small drawing layer for the station's picture boxes (the trend chart and the
// program preview): clear, background colour, pen width, colour and line style,
// and straight lines in the box's logical coordinates (twips, origin top left,
// y downwards). One implementation paints into a pixmap with QPainter; another
// records every primitive so tests can check exact coordinates.
#pragma once

#include <QColor>
#include <QList>
#include <QSizeF>

namespace station::draw {

enum class LineStyle { Solid, Dot, Dash };

struct Pen {
    int width = 1; // device pixels, whatever the logical scale
    QColor color = Qt::black;
    LineStyle style = LineStyle::Solid;
    bool operator==(const Pen &) const = default;
};

class Canvas {
public:
    virtual ~Canvas() = default;

    // The logical size lines are given in (the picture box's scale).
    virtual QSizeF logicalSize() const = 0;

    // Blanks the picture with the background colour.
    virtual void clear() = 0;
    // Sets the background colour; setting it blanks the picture.
    virtual void setBackColor(const QColor &color) = 0;
    virtual QColor backColor() const = 0;

    void setPenWidth(int width) { m_pen.width = width; }
    void setPenColor(const QColor &color) { m_pen.color = color; }
    void setLineStyle(LineStyle style) { m_pen.style = style; }
    void setPen(const Pen &pen) { m_pen = pen; }
    const Pen &pen() const { return m_pen; }

    // A straight line with the current pen.
    virtual void line(double x1, double y1, double x2, double y2) = 0;

private:
    Pen m_pen;
};

// Records what is drawn. Clearing (or setting the background) empties the list
// of lines, as it blanks a real picture, and counts the clears.
class RecordingCanvas final : public Canvas {
public:
    struct Line {
        double x1, y1, x2, y2;
        Pen pen;
        bool operator==(const Line &) const = default;
    };

    explicit RecordingCanvas(QSizeF logical) : m_size(logical) {}

    QSizeF logicalSize() const override { return m_size; }
    void setLogicalSize(QSizeF size) { m_size = size; }
    void clear() override;
    void setBackColor(const QColor &color) override;
    QColor backColor() const override { return m_back; }
    void line(double x1, double y1, double x2, double y2) override;

    const QList<Line> &lines() const { return m_lines; }
    int clears() const { return m_clears; }
    // Lines drawn with the given colour, in drawing order.
    QList<Line> linesWithColor(const QColor &color) const;

private:
    QSizeF m_size;
    QColor m_back = Qt::white;
    QList<Line> m_lines;
    int m_clears = 0;
};

} // namespace station::draw
