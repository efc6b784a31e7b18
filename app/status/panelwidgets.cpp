#include "app/status/panelwidgets.h"

#include <QFontMetrics>
#include <QPalette>

namespace station::status {

namespace {
// Room between the text and the sunken frame, in pixels on each side.
constexpr int kPadding = 3;
} // namespace

ValueLabel::ValueLabel(const QString &widest, const QColor &background, QWidget *parent)
    : QLabel(parent), m_widest(widest)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setBackground(this, background);
}

QSize ValueLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int frame = 2 * frameWidth();
    const int width = std::max(metrics.horizontalAdvance(m_widest), metrics.horizontalAdvance(text()));
    return {width + 2 * kPadding + frame, metrics.height() + kPadding + frame};
}

QSize ValueLabel::minimumSizeHint() const
{
    return sizeHint();
}

EntryField::EntryField(const QString &widest, QWidget *parent) : QLineEdit(parent), m_widest(widest)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize EntryField::sizeHint() const
{
    // The line edit's own hint has room for about seventeen characters; keep its
    // height and frame, and make the width that of the widest text plus two
    // average characters for the cursor and the frame's inner margin.
    const QFontMetrics metrics(font());
    const QMargins margins = textMargins();
    const int width = metrics.horizontalAdvance(m_widest) + 2 * metrics.averageCharWidth()
                      + margins.left() + margins.right();
    return {width, QLineEdit::sizeHint().height()};
}

QSize EntryField::minimumSizeHint() const
{
    return sizeHint();
}

void setBackground(QWidget *widget, const QColor &colour)
{
    if (!widget)
        return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QColor background(const QWidget *widget)
{
    return widget ? widget->palette().color(QPalette::Window) : QColor();
}

} // namespace station::status
