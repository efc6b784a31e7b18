// The connection groups of the main window: port list, address list, baud and
// parity buttons, the open and close commands, and beside them the link-state
// indicator LinkState (link/linkstate.h), refreshed every 250 ms. Its tooltip
// says what the link saw; a note from elsewhere (the recorder's, say) goes
// under it.
#pragma once

#include "link/linkstate.h"
#include "link/registerimage.h"

#include <QTimer>
#include <QWidget>

#include <chrono>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;

namespace station {

class ConnectionPanel : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionPanel(QWidget *parent = nullptr);

    // Fills the lists ("1 " .. "20 ", "1 " .. "16 "), shows their first entries and
    // selects "9600" and "无校验".
    void fill();

    // The settings the controls show now: port and address are the leading
    // numbers of the list texts (an empty or non-numeric text gives 0); baud and
    // parity codes are the positions of the selected buttons.
    LinkSettings chosenSettings() const;
    // Shows settings in the controls (lx6100-station --resume): the entry of
    // the port and of the address ("7 "), or that text typed into the list
    // when the list has no such entry, and the buttons of the baud and parity
    // codes.
    void choose(const LinkSettings &settings);

    QComboBox *portList() const { return m_port; }
    QComboBox *addressList() const { return m_address; }
    QButtonGroup *baudButtons() const { return m_baud; }
    QButtonGroup *parityButtons() const { return m_parity; }
    QPushButton *openButton() const { return m_open; }
    QPushButton *closeButton() const { return m_close; }
    QLabel *linkStateLabel() const { return m_linkState; }

    // "打开" (true, called right after its open was posted) and "关闭"
    // (false): what the indicator counts from.
    void setLinkOpen(bool open);
    // Shows the link state now (the timer's work).
    void refreshLinkState();
    // The state the indicator shows.
    link::LinkState shownLinkState() const { return m_shownState; }
    // Lines shown in the tooltip under the link's own; empty for none.
    void setNote(const QString &note);
    QString note() const { return m_note; }

    static constexpr int kLinkStateMs = 250;

signals:
    // The indicator changed to this text ("未连接", "通讯正常", "通讯中断").
    void linkStateShown(const QString &text);

private:
    QComboBox *m_port;
    QComboBox *m_address;
    QButtonGroup *m_baud;
    QButtonGroup *m_parity;
    QPushButton *m_open;
    QPushButton *m_close;
    QLabel *m_linkState;
    QTimer m_linkTimer;
    link::OpenMark m_openMark;
    link::LinkState m_shownState = link::LinkState::Closed;
    QString m_note;
};

} // namespace station
