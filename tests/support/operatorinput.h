// What an operator does with keyboard, input method and mouse wheel, for widget
// tests where QTest has no function of its own.
#pragma once

#include <QApplication>
#include <QInputMethodEvent>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

namespace station::test {

// Types text into widget: ASCII characters as key clicks ('\b' as Backspace),
// any other character as an input method commits it (a Chinese input method
// sends full-width digits that way).
inline void typeText(QWidget *widget, const QString &text)
{
    for (QChar c : text) {
        if (c == u'\b') {
            QTest::keyClick(widget, Qt::Key_Backspace);
        } else if (c.unicode() < 128) {
            QTest::keyClick(widget, c.toLatin1());
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QApplication::sendEvent(widget, &commit);
        }
    }
}

// Mouse wheel notches delivered as the window system delivers them: to the
// deepest widget under the middle of over, as a spontaneous event, so the
// application may hand the focus to a widget that takes it by the wheel and
// passes an ignored event on to the parents.
// notches > 0 turns the wheel away from the operator (up), < 0 towards (down).
inline void wheel(QWidget *over, int notches)
{
    QWidget *window = over->window();
    const QPoint inWindow = over->mapTo(window, over->rect().center());
    QWidget *target = window->childAt(inWindow);
    if (!target)
        target = window;
    const QPointF local = target->mapFrom(window, inWindow);
    QWheelEvent event(local, target->mapToGlobal(local), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(target, &event);
}

} // namespace station::test
