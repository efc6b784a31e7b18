// Entry controls that write their value to the controller when the operator
// leaves them: the configuration window and the program editor.
//
// A control counts as edited once the operator types into it or picks an entry
// of its list. Leaving an edited control (its focus goes elsewhere) calls the
// window's write function; leaving an untouched one writes nothing, so tabbing
// through a window never overwrites the controller with what the window was
// loaded with. A write that went out clears the edited mark; one that could not
// be made (a text that matches no entry, a number that does not fit) keeps it.
// Neither the control's own drop-down list taking the focus nor another
// application's window becoming active counts as leaving.
#pragma once

#include <QObject>
#include <QSet>
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

    bool isEdited(QWidget *control) const { return m_edited.contains(control); }
    // Leaves the control now: writes it when edited (the return button calls it
    // for the control that has the focus, however the button was activated).
    void leave(QWidget *control);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void markEdited(QWidget *control) { m_edited.insert(control); }

    Write m_write;
    QSet<QObject *> m_watched;
    QSet<QWidget *> m_edited;
};

} // namespace station
