#include "chart/draw/picturebox.h"

#include <QPainter>
#include <QResizeEvent>

namespace station::draw {

namespace {

Qt::PenStyle qtStyle(LineStyle style)
{
    switch (style) {
    case LineStyle::Dot: return Qt::DotLine;
    case LineStyle::Dash: return Qt::DashLine;
    case LineStyle::Solid: break;
    }
    return Qt::SolidLine;
}

QPen qtPen(const Pen &pen)
{
    QPen p(pen.color);
    p.setWidth(std::max(1, pen.width));
    // Patterned lines are only drawn one pixel wide, as a picture box does.
    p.setStyle(pen.width > 1 ? Qt::SolidLine : qtStyle(pen.style));
    p.setCapStyle(Qt::FlatCap);
    return p;
}

} // namespace

QSizeF PainterCanvas::logicalSize() const
{
    return m_box.m_logical;
}

QPainter &PainterCanvas::painter()
{
    if (!m_painter) {
        m_box.ensurePixmap();
        m_painter = std::make_unique<QPainter>(&m_box.m_pixmap);
        m_painterPen = pen();
        m_painter->setPen(qtPen(m_painterPen));
        // One update per batch: the paint event that follows ends the batch
        // (flush) and shows every line drawn until then.
        m_box.update();
    } else if (!(m_painterPen == pen())) {
        m_painterPen = pen();
        m_painter->setPen(qtPen(m_painterPen));
    }
    return *m_painter;
}

void PainterCanvas::flush()
{
    m_painter.reset();
}

void PainterCanvas::clear()
{
    flush();
    m_box.ensurePixmap();
    m_box.m_pixmap.fill(m_box.m_back);
    m_box.update();
}

void PainterCanvas::setBackColor(const QColor &color)
{
    m_box.m_back = color;
    clear();
}

QColor PainterCanvas::backColor() const
{
    return m_box.m_back;
}

void PainterCanvas::line(double x1, double y1, double x2, double y2)
{
    painter().drawLine(m_box.toDevice(x1, y1), m_box.toDevice(x2, y2));
}

PictureBox::PictureBox(QSizeF logical, QWidget *parent)
    : QWidget(parent)
    , m_logical(logical)
    , m_canvas(*this)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::flush()
{
    m_canvas.flush();
}

void PictureBox::setLogicalSize(QSizeF logical)
{
    m_logical = logical;
}

QPointF PictureBox::toDevice(double x, double y) const
{
    const double sx = m_logical.width() > 0 ? width() / m_logical.width() : 1.0;
    const double sy = m_logical.height() > 0 ? height() / m_logical.height() : 1.0;
    return {x * sx, y * sy};
}

void PictureBox::ensurePixmap()
{
    const QSize size = this->size().expandedTo(QSize(1, 1));
    if (m_pixmap.size() != size) {
        m_canvas.flush();
        m_pixmap = QPixmap(size);
        m_pixmap.fill(m_back);
    }
}

void PictureBox::setOverlayLine(const QLineF &line, const Pen &pen)
{
    m_overlay = line;
    m_overlayPen = pen;
    m_overlayVisible = true;
    update();
}

void PictureBox::hideOverlayLine()
{
    m_overlayVisible = false;
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    m_canvas.flush();
    QPainter painter(this);
    if (m_pixmap.isNull())
        painter.fillRect(rect(), m_back);
    else
        painter.drawPixmap(0, 0, m_pixmap);
    if (m_overlayVisible) {
        painter.setPen(qtPen(m_overlayPen));
        painter.drawLine(toDevice(m_overlay.x1(), m_overlay.y1()), toDevice(m_overlay.x2(), m_overlay.y2()));
    }
}

void PictureBox::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ensurePixmap();
    emit resized();
}

} // namespace station::draw
