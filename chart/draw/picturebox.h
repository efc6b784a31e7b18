// A picture box: a widget showing a pixmap that a QPainter canvas draws into in
// logical coordinates scaled to the widget. It keeps its logical scale when the
// widget is resized (the picture is drawn again by its owner at the new size).
// An optional overlay line (a ruler cursor) is drawn above the picture without
// touching it.
#pragma once

#include "chart/draw/canvas.h"

#include <QLineF>
#include <QPixmap>
#include <QWidget>

#include <memory>

#include <QPainter>

namespace station::draw {

class PictureBox;

class PainterCanvas final : public Canvas {
public:
    explicit PainterCanvas(PictureBox &box) : m_box(box) {}
    QSizeF logicalSize() const override;
    void clear() override;
    void setBackColor(const QColor &color) override;
    QColor backColor() const override;
    void line(double x1, double y1, double x2, double y2) override;

    // Ends the painting of the lines drawn so far (the box calls it before it
    // shows or replaces the pixmap). Lines share one QPainter until then.
    void flush();

private:
    QPainter &painter();

    PictureBox &m_box;
    std::unique_ptr<QPainter> m_painter;
    Pen m_painterPen;
};

class PictureBox : public QWidget {
    Q_OBJECT
public:
    PictureBox(QSizeF logical, QWidget *parent = nullptr);

    Canvas &canvas() { return m_canvas; }
    QSizeF logicalSize() const { return m_logical; }
    void setLogicalSize(QSizeF logical);

    // The cursor line above the picture, in logical coordinates.
    void setOverlayLine(const QLineF &line, const Pen &pen);
    void hideOverlayLine();
    bool hasOverlayLine() const { return m_overlayVisible; }
    QLineF overlayLine() const { return m_overlay; }
    Pen overlayPen() const { return m_overlayPen; }

    // The picture as drawn so far; call flush() first to include lines drawn
    // since the last paint event.
    const QPixmap &picture() const { return m_pixmap; }
    void flush();

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class PainterCanvas;
    QPointF toDevice(double x, double y) const;
    void ensurePixmap();

    QSizeF m_logical;
    QColor m_back = Qt::white;
    QPixmap m_pixmap;
    PainterCanvas m_canvas;
    QLineF m_overlay;
    Pen m_overlayPen;
    bool m_overlayVisible = false;
};

} // namespace station::draw
