#include "program/ui/segmentbox.h"

#include <QFocusEvent>
#include <QMouseEvent>

namespace station::program {

namespace {
constexpr QChar kPrompt = u'_';
}

SegmentBox::SegmentBox(QWidget *parent)
    : QLineEdit(parent)
{
    // "0" is a digit that may stay blank; text() leaves the blanks out, so an
    // untouched box reads as empty.
    setInputMask(QStringLiteral("0000;_"));
    setMaxLength(kDigits);
}

int SegmentBox::digitsEnd() const
{
    const QString shown = displayText();
    for (int i = int(shown.size()); i > 0; --i)
        if (shown[i - 1] != kPrompt)
            return i;
    return 0;
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
    const bool focusing = std::exchange(m_focusedByPress, false);
    m_placedByPress = false;
    if (event->button() != Qt::LeftButton) {
        QLineEdit::mousePressEvent(event);
        return;
    }
    const int end = digitsEnd();
    const bool onDigit = cursorPositionAt(event->position().toPoint()) < end;
    QLineEdit::mousePressEvent(event);
    if (focusing) {
        selectDigits();
        m_placedByPress = true;
    } else if (!onDigit) {
        // Past the last digit the mask would take nothing typed there.
        if (end < kDigits)
            setCursorPosition(end);
        else
            selectDigits();
        m_placedByPress = true;
    }
}

void SegmentBox::mouseMoveEvent(QMouseEvent *event)
{
    if (m_placedByPress && (event->buttons() & Qt::LeftButton))
        return;
    QLineEdit::mouseMoveEvent(event);
}

void SegmentBox::mouseReleaseEvent(QMouseEvent *event)
{
    QLineEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        m_placedByPress = false;
}

void SegmentBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QLineEdit::mouseDoubleClickEvent(event);
        return;
    }
    m_focusedByPress = false;
    selectDigits();
    m_placedByPress = true;
    event->accept();
}

} // namespace station::program
