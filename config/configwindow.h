// The configuration window CONFIG1: every configuration parameter with the
// value the controller holds (from the parameter image, refreshed each second)
// and an entry control that writes a new value when it loses the focus.
//
// Writes: a control writes only when, on leaving, its text (or a combo box's
// entry) differs from what it held when it took the focus, and is not empty
// (common/writeonleave.h), so tabbing through the window sends nothing. A combo
// box writes the code of the entry its text equals and leaves that bare code in
// the box; a text that matches no entry writes nothing. A text box writes its
// number and keeps the text as typed. Each write goes through
// station::writeWithRetry; the window makes no range check of its own (the link
// refuses what no register word holds) and shows no message. The mouse wheel
// changes only a combo box that has the focus.
//
// Life cycle: one window per opening. It refuses the close box and is left only
// through " Esc 返回", which closes it (the window deletes itself) and emits
// returned(). openConfigWindow() does the whole round trip for the main window.
#pragma once

#include <QHash>
#include <QVariant>
#include <QWidget>
#include <cstdint>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;

namespace station {

class WriteOnLeave;

namespace config {
struct Parameter;
}

class ConfigWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 1000;
    static constexpr int kOpeningPage = 1;  // "输入1"

    explicit ConfigWindow(QWidget *parent = nullptr);
    ~ConfigWindow() override;

    // Value display D_4W(element); nullptr for an element that is not shown.
    QLabel *display(int element) const;
    // Entry control of the parameter at element (a QComboBox or a QLineEdit).
    QWidget *entry(int element) const;
    QTabWidget *tabs() const { return m_tabs; }
    QPushButton *returnButton() const { return m_return; }
    bool isCloseAllowed() const { return m_closeAllowed; }

public slots:
    // Rewrites the 38 value displays from the parameter image (Timer1's work).
    void refresh();

signals:
    // " Esc 返回" was pressed and the window has closed; it is deleted from the
    // event loop right after.
    void returned();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Entry {
        const config::Parameter *parameter = nullptr;
        QWidget *control = nullptr;
    };

    void buildPages();
    QWidget *createEntry(const config::Parameter &parameter, QWidget *page);
    bool write(QWidget *control);
    bool writeCombo(const Entry &entry, QComboBox *combo);
    bool writeTextBox(const Entry &entry);
    // For the journal: this window, the control, its caption, the text
    // entered and what its value display showed before.
    QVariant writeTag(const Entry &entry, const QString &entered) const;
    void returnToMain();

    QTabWidget *m_tabs = nullptr;
    QPushButton *m_return = nullptr;
    QTimer *m_timer = nullptr;
    bool m_closeAllowed = false;
    WriteOnLeave *m_writes = nullptr;             // writes an edited control when left
    std::vector<Entry> m_entries;                 // in table order
    QHash<const QObject *, std::size_t> m_entryOf; // control -> index into m_entries
    QHash<int, QLabel *> m_displays;              // element -> D_4W(element)
};

// The main window's "CONFIG" command: hides mainWindow, creates and shows a
// fresh configuration window (not modal), and shows mainWindow again when the
// operator returns. Returns the window, which deletes itself on return.
ConfigWindow *openConfigWindow(QWidget *mainWindow);

} // namespace station
