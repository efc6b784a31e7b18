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
    connect(box, &QLineEdit::textEdited, this, [this, box] { markEdited(box); });
    connect(box, &QObject::destroyed, this, [this, box] {
        m_edited.remove(box);
        m_watched.remove(box);
    });
    m_watched.insert(box);
    box->installEventFilter(this);
}

void WriteOnLeave::watch(QComboBox *combo)
{
    connect(combo, &QComboBox::activated, this, [this, combo] { markEdited(combo); });
    if (QLineEdit *edit = combo->lineEdit())
        connect(edit, &QLineEdit::textEdited, this, [this, combo] { markEdited(combo); });
    connect(combo, &QObject::destroyed, this, [this, combo] {
        m_edited.remove(combo);
        m_watched.remove(combo);
    });
    m_watched.insert(combo);
    combo->installEventFilter(this);
}

void WriteOnLeave::leave(QWidget *control)
{
    if (!control || !m_edited.contains(control))
        return;
    if (m_write(control))
        m_edited.remove(control);
}

bool WriteOnLeave::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && m_watched.contains(watched)) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            leave(static_cast<QWidget *>(watched));
    }
    return QObject::eventFilter(watched, event);
}

} // namespace station
