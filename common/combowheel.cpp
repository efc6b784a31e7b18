#include "common/combowheel.h"

#include <QComboBox>
#include <QEvent>

namespace station {

namespace {

class WheelGuard : public QObject {
public:
    static constexpr const char *kName = "WheelGuard";

    explicit WheelGuard(QComboBox *combo) : QObject(combo), m_combo(combo) { setObjectName(QLatin1String(kName)); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_combo && event->type() == QEvent::Wheel && !m_combo->hasFocus()) {
            // Ignored and handled: the application hands the event on to the parent.
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QComboBox *m_combo;
};

} // namespace

void keepWheelOffUnfocused(QComboBox *combo)
{
    if (!combo || combo->findChild<QObject *>(QLatin1String(WheelGuard::kName), Qt::FindDirectChildrenOnly))
        return;
    // Qt::WheelFocus (a combo box's default) would hand it the focus on the first notch.
    combo->setFocusPolicy(Qt::StrongFocus);
    combo->installEventFilter(new WheelGuard(combo));
}

void keepWheelOffUnfocusedCombos(QWidget *root)
{
    if (!root)
        return;
    if (auto *combo = qobject_cast<QComboBox *>(root))
        keepWheelOffUnfocused(combo);
    for (QComboBox *combo : root->findChildren<QComboBox *>())
        keepWheelOffUnfocused(combo);
}

} // namespace station
