// Entry controls that write their value to the controller when the operator
// leaves them: the configuration window and the program editor.
//
// A control counts as edited when, on leaving, its text (for a combo box, its
// text or its selected entry) differs from what it held when it took the focus.
// Keys that changed nothing (a letter the box refuses, Backspace in an empty
// box, "1" then Backspace) are no edit. An entry chosen from a combo box's list
// is an edit even when it is the entry the box already showed, whether it was
// chosen with the mouse or the keyboard, from the drop-down list or with the
// arrow keys in the closed box: the lists open on their first entry, not on the
// controller's value, so choosing that entry is the only way to write its code.
// Text typed into an editable list follows the text rule (Return after typing
// is typing, not a choice). Leaving an edited control (its focus goes
// elsewhere) calls the window's write function; leaving an untouched one writes
// nothing, so tabbing through a window never overwrites the controller with
// what the window was loaded with. A control whose text is empty or only blanks
// (a segment box holding only its prompt characters) writes nothing either: an
// operator who means 0 types 0.
//
// A write that could not be made (a text that matches no entry, a number that
// does not fit) keeps the control edited against what it held before, so the
// next leave tries again. Neither the control's own drop-down list taking the
// focus nor another application's window becoming active counts as leaving.
#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

class QComboBox;
class QLineEdit;
class QWidget;

namespace station {

class WriteOnLeave : public QObject {
    Q_OBJECT
public:
    // Writes the control's value; returns whether a write went out.
    using Write = std::function<bool(QWidget *control)>;

    explicit WriteOnLeave(Write write, QObject *parent = nullptr);

    void watch(QLineEdit *box);
    void watch(QComboBox *combo);

    // Whether leaving the control now would write it.
    bool isEdited(QWidget *control) const;
    // Leaves the control now: writes it when edited (the return button calls it
    // for the control that has the focus, however the button was activated).
    void leave(QWidget *control);

    // Whether a text holds nothing but blanks (full-width ones included).
    static bool isBlank(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Held {
        QString text;
        int entry = -1;  // a combo box's selected entry
        bool operator==(const Held &) const = default;
    };
    static Held heldBy(QWidget *control);
    void watchControl(QWidget *control);
    void picked(QComboBox *combo);

    Write m_write;
    QSet<QObject *> m_watched;
    QHash<QWidget *, Held> m_taken;  // what a control held when it took the focus
    QSet<QWidget *> m_picked;        // an entry was chosen from the list since then
};

} // namespace station
