#include "common/writeonleave.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>

namespace station {

WriteOnLeave::WriteOnLeave(Write write, QObject *parent)
    : QObject(parent)
    , m_write(std::move(write))
{
}

void WriteOnLeave::watch(QLineEdit *box)
{
    watchControl(box);
}

void WriteOnLeave::watch(QComboBox *combo)
{
    watchControl(combo);
    connect(combo, &QComboBox::activated, this, [this, combo] { picked(combo); });
}

void WriteOnLeave::picked(QComboBox *combo)
{
    // activated() also follows Return on a typed text that names an entry;
    // the line edit is still marked modified then, while every choice from the
    // list puts the entry's text into it afresh.
    if (combo->isEditable() && combo->lineEdit() && combo->lineEdit()->isModified())
        return;
    if (!m_taken.contains(combo))
        m_taken.insert(combo, heldBy(combo));
    m_picked.insert(combo);
}

void WriteOnLeave::watchControl(QWidget *control)
{
    connect(control, &QObject::destroyed, this, [this, control] {
        m_taken.remove(control);
        m_picked.remove(control);
        m_watched.remove(control);
    });
    m_watched.insert(control);
    control->installEventFilter(this);
    if (control->hasFocus())
        m_taken.insert(control, heldBy(control));
}

WriteOnLeave::Held WriteOnLeave::heldBy(QWidget *control)
{
    if (auto *combo = qobject_cast<QComboBox *>(control))
        return {combo->currentText(), combo->currentIndex()};
    if (auto *box = qobject_cast<QLineEdit *>(control))
        return {box->text(), -1};
    return {};
}

bool WriteOnLeave::isBlank(const QString &text)
{
    for (QChar c : text)
        if (!c.isSpace())  // the ideographic blank of a Chinese input method included
            return false;
    return true;
}

bool WriteOnLeave::isEdited(QWidget *control) const
{
    const auto it = m_taken.constFind(control);
    if (it == m_taken.constEnd())
        return false;
    const Held now = heldBy(control);
    return (m_picked.contains(control) || !(now == *it)) && !isBlank(now.text);
}

void WriteOnLeave::leave(QWidget *control)
{
    if (!control || !m_taken.contains(control))
        return;
    if (!isEdited(control)) {
        m_taken.remove(control);
        m_picked.remove(control);
        return;
    }
    if (m_write(control)) {
        m_taken.remove(control);
        m_picked.remove(control);
    }
}

bool WriteOnLeave::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_watched.contains(watched))
        return QObject::eventFilter(watched, event);
    auto *control = static_cast<QWidget *>(watched);
    if (event->type() == QEvent::FocusIn) {
        // Coming back from the drop-down list or from another application is
        // no new start: what the control held when it was entered still counts.
        if (!m_taken.contains(control))
            m_taken.insert(control, heldBy(control));
    } else if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            leave(control);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace station
