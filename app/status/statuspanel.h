// The live status panel of the main window: the groups of read-only value
// labels that show the register image, with the entry fields and buttons that
// sit beside some of them, and the date and time labels of the chart's corner.
//
// The groups are built inside this widget and laid out in a default
// arrangement. A window that arranges them itself adds the groups (and the
// clock) to its own layouts, which reparents them; the panel keeps its pointers,
// so refresh() and the accessors go on working, and the emptied panel may be
// hidden. The entries and buttons have no behaviour here: their owner connects
// to them through the accessors.
#pragma once

#include "app/status/statustexts.h"

#include <QWidget>
#include <array>

class QComboBox;
class QDateTime;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace station {
struct RegisterImage;
}

namespace station::status {

class StatusPanel : public QWidget {
    Q_OBJECT
public:
    // Builds every group and shows the texts of an all-zero image, which is what
    // the panel shows before the first poll.
    explicit StatusPanel(QWidget *parent = nullptr);

    // Rewrites every label from the image: texts, and the state labels'
    // backgrounds (active pink, inactive light cyan).
    void refresh(const RegisterImage &image);
    void apply(const StatusTexts &texts);

    // The live colours the main window's 200 ms panel tick sets: the clock pair
    // green and process labels 0..2 pink.
    void showLiveColours();
    // The clock labels: date as mm-dd-yyyy, time as hh:mm:ss on the 24-hour clock.
    void showClock(const QDateTime &now);

    // Groups, for the main window's layout.
    QGroupBox *programGroup() const { return m_programGroup; }
    QGroupBox *pvGroup() const { return m_pvGroup; }
    QGroupBox *alarmStateGroup() const { return m_alarmStateGroup; }
    std::array<QGroupBox *, kParamGroupCount> paramGroups() const { return m_paramGroups; }
    QGroupBox *alarmParamGroup() const { return m_alarmParamGroup; }
    QWidget *clockWidget() const { return m_clock; }

    // Value labels; nullptr for an index the panel does not have.
    QLabel *programLabel(int i) const;
    QLabel *processLabel(int i) const;  // 0..5 values, 6..7 alarm kinds
    QLabel *setValueLabel(int i) const;
    QLabel *stateLabel(int k) const;
    QLabel *paramLabel(int index) const; // parameter-image index
    QLabel *alarmLabel(int i) const;
    QLabel *dateLabel() const { return m_date; }
    QLabel *timeLabel() const { return m_time; }

    // Entries and buttons of the write panels; nullptr for an unknown index.
    QComboBox *runCommandBox() const { return m_runCommandBox; }       // Combo3, editable, filled by its owner
    QPushButton *runCommandButton() const { return m_runCommandButton; } // Command14 "设定曲线"
    QLineEdit *setValueEntry(int i) const;    // Text1_i
    QPushButton *setValueButton(int i) const; // Command12_i "设定SV1"/"设定SV2"
    QLineEdit *alarmEntry(int i) const;       // Alm11_i
    QPushButton *alarmButton(int i) const;    // Alm111_i "DOWNLOAD"

private:
    void buildProgramGroup();
    void buildPvGroup();
    void buildAlarmStateGroup();
    void buildParamGroups();
    void buildAlarmParamGroup();
    void buildClock();
    void arrangeDefault();

    QGroupBox *m_programGroup = nullptr;
    QGroupBox *m_pvGroup = nullptr;
    QGroupBox *m_alarmStateGroup = nullptr;
    std::array<QGroupBox *, kParamGroupCount> m_paramGroups{};
    QGroupBox *m_alarmParamGroup = nullptr;
    QWidget *m_clock = nullptr;

    std::array<QLabel *, kProgramLabelCount> m_program{};
    std::array<QLabel *, kProcessLabelCount> m_process{};
    std::array<QLabel *, kSetValueLabelCount> m_setValue{};
    std::array<QLabel *, kStateLabelCount> m_state{};
    std::array<QLabel *, reg::kParamCount> m_param{};
    std::array<QLabel *, kAlarmLabelCount> m_alarm{};
    QLabel *m_date = nullptr;
    QLabel *m_time = nullptr;

    QComboBox *m_runCommandBox = nullptr;
    QPushButton *m_runCommandButton = nullptr;
    std::array<QLineEdit *, kSetValueLabelCount> m_setValueEntry{};
    std::array<QPushButton *, kSetValueLabelCount> m_setValueButton{};
    std::array<QLineEdit *, kAlarmLabelCount> m_alarmEntry{};
    std::array<QPushButton *, kAlarmLabelCount> m_alarmButton{};
};

} // namespace station::status
