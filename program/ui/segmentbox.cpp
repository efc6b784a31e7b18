#include "program/ui/segmentbox.h"

#include <QFocusEvent>
#include <QMouseEvent>

namespace station::program {

SegmentBox::SegmentBox(QWidget *parent)
    : QLineEdit(parent)
{
    // "0" is a digit that may stay blank; text() leaves the blanks out, so an
    // untouched box reads as empty, that is 0.
    setInputMask(QStringLiteral("0000;_"));
    setMaxLength(kDigits);
}

void SegmentBox::focusInEvent(QFocusEvent *event)
{
    // With a mask the line edit moves its cursor to the first blank on focus;
    // the selection is set after that.
    QLineEdit::focusInEvent(event);
    m_focusedByPress = event->reason() == Qt::MouseFocusReason;
    selectDigits();
}

void SegmentBox::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (std::exchange(m_focusedByPress, false) && event->button() == Qt::LeftButton)
        selectDigits();
}

} // namespace station::program
