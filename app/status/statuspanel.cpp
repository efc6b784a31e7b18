#include "app/status/statuspanel.h"

#include "app/status/panelwidgets.h"
#include "app/status/statusnames.h"
#include "common/colors.h"
#include "common/datenum.h"
#include "common/naming.h"
#include "link/registerimage.h"

#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace station::status {

namespace {

// Widest texts each kind of label has to hold. Registers are 16-bit words, so
// "-3276.8" (one character more than "-32768") covers every integer and every
// value shown in tenths.
const QString kWidestNumber = QStringLiteral("-3276.8");
const QString kWidestEntry = QStringLiteral("-1999.9");
const QString kWidestDate = QStringLiteral("00-00-0000");
const QString kWidestTime = QStringLiteral("00:00:00");

// Compact spacing: the main window has to hold the chart and every group at
// 1366 x 768.
constexpr int kGroupMargin = 4;
constexpr int kGroupSpacing = 3;
constexpr int kProgramPairsPerRow = 3;

template <typename Texts>
QString widestOf(const Texts &texts, const QFontMetrics &metrics, QString widest = QString())
{
    for (const auto &t : texts) {
        const QString s = t.toString();
        if (metrics.horizontalAdvance(s) > metrics.horizontalAdvance(widest))
            widest = s;
    }
    return widest;
}

QGroupBox *makeGroup(QStringView title, const QString &name, QWidget *parent)
{
    auto *group = new QGroupBox(title.toString(), parent);
    setName(group, name);
    return group;
}

QGridLayout *makeGrid(QGroupBox *group)
{
    auto *grid = new QGridLayout(group);
    grid->setContentsMargins(kGroupMargin, kGroupMargin, kGroupMargin, kGroupMargin);
    grid->setHorizontalSpacing(kGroupSpacing);
    grid->setVerticalSpacing(kGroupSpacing);
    return grid;
}

QLabel *makeCaption(QStringView text, const char *name, int index, QWidget *parent)
{
    auto *caption = new QLabel(text.toString(), parent);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setName(caption, QString::fromLatin1(name), index);
    return caption;
}

ValueLabel *makeValue(const QString &widest, const QColor &colour, const char *name, int index, QWidget *parent)
{
    auto *label = new ValueLabel(widest, colour, parent);
    setName(label, QString::fromLatin1(name), index);
    return label;
}

QPushButton *makeButton(QStringView text, const char *name, int index, QWidget *parent)
{
    auto *button = new QPushButton(text.toString(), parent);
    button->setAutoDefault(false);
    if (index < 0)
        setName(button, QString::fromLatin1(name));
    else
        setName(button, QString::fromLatin1(name), index);
    return button;
}

EntryField *makeEntry(const char *name, int index, QWidget *parent)
{
    auto *entry = new EntryField(kWidestEntry, parent);
    setName(entry, QString::fromLatin1(name), index);
    return entry;
}

template <typename Array>
auto at(const Array &array, int i) -> typename Array::value_type
{
    return (i >= 0 && i < int(array.size())) ? array[std::size_t(i)] : nullptr;
}

// Extra width goes to an empty column on the right, so labels keep their size
// and stay next to their captions however wide the window makes the group.
void closeGrid(QGridLayout *grid)
{
    grid->setColumnStretch(grid->columnCount(), 1);
}

void setText(QLabel *label, const QString &text)
{
    if (label)
        label->setText(text);
}

} // namespace

StatusPanel::StatusPanel(QWidget *parent) : QWidget(parent)
{
    buildProgramGroup();
    buildPvGroup();
    buildAlarmStateGroup();
    buildParamGroups();
    buildAlarmParamGroup();
    buildClock();
    arrangeDefault();
    apply(statusTexts(RegisterImage{}));
}

void StatusPanel::buildProgramGroup()
{
    m_programGroup = makeGroup(kProgramGroupTitle, QString::fromLatin1(names::kProgramGroup), this);
    QGridLayout *grid = makeGrid(m_programGroup);
    const QString widestState = widestOf(kRunStateTexts, fontMetrics(), kWidestNumber);
    for (int i = 0; i < kProgramLabelCount; ++i) {
        const int row = i / kProgramPairsPerRow;
        const int column = 2 * (i % kProgramPairsPerRow);
        grid->addWidget(makeCaption(kProgramCaptions[std::size_t(i)], names::kProgramCaption, i, m_programGroup),
                        row, column);
        m_program[std::size_t(i)] = makeValue(i == 0 ? widestState : kWidestNumber, colors::kLightCyan,
                                              names::kProgram, i, m_programGroup);
        grid->addWidget(m_program[std::size_t(i)], row, column + 1);
    }

    // The run command list and its button share the last row.
    const int commandRow = (kProgramLabelCount + kProgramPairsPerRow - 1) / kProgramPairsPerRow;
    m_runCommandBox = new QComboBox(m_programGroup);
    m_runCommandBox->setEditable(true); // the write shows the bare option number in the box
    m_runCommandBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setName(m_runCommandBox, QString::fromLatin1(names::kRunCommandBox));
    m_runCommandButton = makeButton(kRunCommandButtonText, names::kRunCommandButton, -1, m_programGroup);
    grid->addWidget(m_runCommandBox, commandRow, 0, 1, 2 * kProgramPairsPerRow - 2);
    grid->addWidget(m_runCommandButton, commandRow, 2 * kProgramPairsPerRow - 2, 1, 2);
    closeGrid(grid);
}

void StatusPanel::buildPvGroup()
{
    m_pvGroup = makeGroup(kPvGroupTitle, QString::fromLatin1(names::kPvGroup), this);
    QGridLayout *grid = makeGrid(m_pvGroup);
    // Row r belongs to loop r + 1: measured value, set value in effect, set value
    // written with its entry and button, then the retransmission output.
    constexpr int kLoops = 2;
    constexpr int kSetValueInEffect = 2; // process labels 2, 3
    for (int r = 0; r < kLoops; ++r) {
        int column = 0;
        grid->addWidget(makeCaption(kPvRowCaptions[std::size_t(r)], names::kPvRowCaption, r, m_pvGroup), r, column++);
        int tip = 0;
        for (int i : {r, kSetValueInEffect + r}) {
            m_process[std::size_t(i)] = makeValue(kWidestNumber, colors::kPink, names::kProcess, i, m_pvGroup);
            m_process[std::size_t(i)]->setToolTip(kPvColumnTips[std::size_t(tip++)].toString());
            grid->addWidget(m_process[std::size_t(i)], r, column++);
        }
        m_setValue[std::size_t(r)] = makeValue(kWidestNumber, colors::kPink, names::kSetValue, r, m_pvGroup);
        m_setValue[std::size_t(r)]->setToolTip(kPvColumnTips[std::size_t(tip)].toString());
        grid->addWidget(m_setValue[std::size_t(r)], r, column++);
        m_setValueEntry[std::size_t(r)] = makeEntry(names::kSetValueEntry, r, m_pvGroup);
        m_setValueEntry[std::size_t(r)]->setAccessibleName(kSetValueEntryNames[std::size_t(r)].toString());
        grid->addWidget(m_setValueEntry[std::size_t(r)], r, column++);
        m_setValueButton[std::size_t(r)] =
            makeButton(kSetValueButtonTexts[std::size_t(r)], names::kSetValueButton, r, m_pvGroup);
        grid->addWidget(m_setValueButton[std::size_t(r)], r, column++);
        grid->addWidget(makeCaption(kRetransmissionCaptions[std::size_t(r)], names::kRetransmissionCaption, r,
                                    m_pvGroup),
                        r, column++);
        const int out = kRetransmission1 + r;
        m_process[std::size_t(out)] = makeValue(kWidestNumber, colors::kPink, names::kProcess, out, m_pvGroup);
        grid->addWidget(m_process[std::size_t(out)], r, column++);
    }
    closeGrid(grid);
}

void StatusPanel::buildAlarmStateGroup()
{
    m_alarmStateGroup = makeGroup(kAlarmStateGroupTitle, QString::fromLatin1(names::kAlarmStateGroup), this);
    QGridLayout *grid = makeGrid(m_alarmStateGroup);
    const QFontMetrics metrics = fontMetrics();
    QString widestState;
    for (const StateTexts &t : kStateTexts)
        widestState = widestOf(std::array{t.inactive, t.active}, metrics, widestState);
    // Left column loop or alarm 1, right column loop or alarm 2: control outputs,
    // alarms, sensors, then the two alarm kinds.
    for (int k = 0; k < kStateLabelCount; ++k) {
        m_state[std::size_t(k)] =
            makeValue(widestState, colors::kLightCyan, names::kState, k, m_alarmStateGroup);
        grid->addWidget(m_state[std::size_t(k)], k / 2, k % 2);
    }
    const QString widestKind = widestOf(kAlarmKindTexts, metrics, widestOf(kAlarmKindNone, metrics));
    for (int j = 0; j < kAlarmKindCount; ++j) {
        const int i = kAlarmKindFirst + j;
        m_process[std::size_t(i)] = makeValue(widestKind, colors::kPink, names::kProcess, i, m_alarmStateGroup);
        grid->addWidget(m_process[std::size_t(i)], kStateLabelCount / 2, j);
    }
    closeGrid(grid);
}

void StatusPanel::buildParamGroups()
{
    for (int g = 0; g < kParamGroupCount; ++g) {
        QGroupBox *group = makeGroup(QStringView(), elementName(QString::fromLatin1(names::kParamGroup), g), this);
        m_paramGroups[std::size_t(g)] = group;
        QGridLayout *grid = makeGrid(group);

        int count = 0;
        for (const PanelParam &p : kPanelParams)
            count += p.group == g ? 1 : 0;
        // Two caption/value columns, the first taking the odd one out.
        const int rows = (count + 1) / 2;
        int n = 0;
        for (const PanelParam &p : kPanelParams) {
            if (p.group != g)
                continue;
            const int row = n % rows;
            const int column = 2 * (n / rows);
            grid->addWidget(makeCaption(p.caption, names::kParamCaption, p.index, group), row, column);
            m_param[std::size_t(p.index)] = makeValue(kWidestNumber, colors::kLightCyan, names::kParam, p.index, group);
            grid->addWidget(m_param[std::size_t(p.index)], row, column + 1);
            ++n;
        }
        closeGrid(grid);
    }
}

void StatusPanel::buildAlarmParamGroup()
{
    m_alarmParamGroup = makeGroup(QStringView(), QString::fromLatin1(names::kAlarmParamGroup), this);
    QGridLayout *grid = makeGrid(m_alarmParamGroup);
    for (int i = 0; i < kAlarmLabelCount; ++i) {
        QLabel *caption = makeCaption(kAlarmCaptions[std::size_t(i)], names::kAlarmCaption, i, m_alarmParamGroup);
        grid->addWidget(caption, i, 0);
        m_alarm[std::size_t(i)] = makeValue(kWidestNumber, colors::kLightCyan, names::kAlarm, i, m_alarmParamGroup);
        grid->addWidget(m_alarm[std::size_t(i)], i, 1);
        m_alarmEntry[std::size_t(i)] = makeEntry(names::kAlarmEntry, i, m_alarmParamGroup);
        caption->setBuddy(m_alarmEntry[std::size_t(i)]);
        m_alarmEntry[std::size_t(i)]->setAccessibleName(caption->text());
        grid->addWidget(m_alarmEntry[std::size_t(i)], i, 2);
        m_alarmButton[std::size_t(i)] = makeButton(kDownloadButtonText, names::kAlarmButton, i, m_alarmParamGroup);
        grid->addWidget(m_alarmButton[std::size_t(i)], i, 3);
    }
    closeGrid(grid);
}

void StatusPanel::buildClock()
{
    m_clock = new QWidget(this);
    setName(m_clock, QString::fromLatin1(names::kClock));
    auto *row = new QHBoxLayout(m_clock);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kGroupSpacing);
    const QString name = QString::fromLatin1(names::kClockLabels);
    m_date = new ValueLabel(kWidestDate, colors::kClockGreen, m_clock);
    setName(m_date, name, names::kDateIndex);
    m_time = new ValueLabel(kWidestTime, colors::kClockGreen, m_clock);
    setName(m_time, name, names::kTimeIndex);
    row->addWidget(m_date);
    row->addWidget(m_time);
}

void StatusPanel::arrangeDefault()
{
    // Two columns, the clock above the right one; a window with its own layout
    // takes the groups out of this one.
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(kGroupSpacing);
    grid->addWidget(m_clock, 0, 1, Qt::AlignRight);
    grid->addWidget(m_programGroup, 1, 0);
    grid->addWidget(m_pvGroup, 1, 1);
    grid->addWidget(m_alarmStateGroup, 2, 0);
    grid->addWidget(m_alarmParamGroup, 2, 1);
    grid->addWidget(m_paramGroups[0], 3, 0);
    grid->addWidget(m_paramGroups[1], 3, 1);
    grid->setRowStretch(4, 1);
}

void StatusPanel::refresh(const RegisterImage &image)
{
    apply(statusTexts(image));
}

void StatusPanel::apply(const StatusTexts &texts)
{
    for (int i = 0; i < kProgramLabelCount; ++i)
        setText(m_program[std::size_t(i)], texts.program[std::size_t(i)]);
    for (int i = 0; i < kProcessLabelCount; ++i)
        setText(m_process[std::size_t(i)], texts.process[std::size_t(i)]);
    for (int i = 0; i < kSetValueLabelCount; ++i)
        setText(m_setValue[std::size_t(i)], texts.setValue[std::size_t(i)]);
    for (int k = 0; k < kStateLabelCount; ++k) {
        QLabel *label = m_state[std::size_t(k)];
        const StateLabelText &state = texts.states[std::size_t(k)];
        setText(label, state.text);
        setBackground(label, state.active ? colors::kPink : colors::kLightCyan);
    }
    for (const PanelParam &p : kPanelParams)
        setText(m_param[std::size_t(p.index)], texts.params[std::size_t(p.index)]);
    for (int i = 0; i < kAlarmLabelCount; ++i)
        setText(m_alarm[std::size_t(i)], texts.alarms[std::size_t(i)]);
}

void StatusPanel::showLiveColours()
{
    setBackground(m_date, colors::kClockGreen);
    setBackground(m_time, colors::kClockGreen);
    constexpr int kCursorLabels = 3; // process labels the ruler cursor takes over
    for (int i = 0; i < kCursorLabels; ++i)
        setBackground(m_process[std::size_t(i)], colors::kPink);
}

void StatusPanel::showClock(const QDateTime &now)
{
    setText(m_date, clockDateText(now.date()));
    setText(m_time, clockTimeText(now.time()));
}

QLabel *StatusPanel::programLabel(int i) const { return at(m_program, i); }
QLabel *StatusPanel::processLabel(int i) const { return at(m_process, i); }
QLabel *StatusPanel::setValueLabel(int i) const { return at(m_setValue, i); }
QLabel *StatusPanel::stateLabel(int k) const { return at(m_state, k); }
QLabel *StatusPanel::paramLabel(int index) const { return at(m_param, index); }
QLabel *StatusPanel::alarmLabel(int i) const { return at(m_alarm, i); }
QLineEdit *StatusPanel::setValueEntry(int i) const { return at(m_setValueEntry, i); }
QPushButton *StatusPanel::setValueButton(int i) const { return at(m_setValueButton, i); }
QLineEdit *StatusPanel::alarmEntry(int i) const { return at(m_alarmEntry, i); }
QPushButton *StatusPanel::alarmButton(int i) const { return at(m_alarmButton, i); }

} // namespace station::status
