#include "app/connectionpanel.h"

#include "common/colors.h"
#include "common/naming.h"
#include "common/numbers.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace station {

namespace {

constexpr int kPortCount = 20;
constexpr int kAddressCount = 16;

QGroupBox *group(const QString &caption, const QString &name, QWidget *parent)
{
    auto *box = new QGroupBox(caption, parent);
    setName(box, name);
    return box;
}

QButtonGroup *exclusiveButtons(QGroupBox *box, const QString &name, const QStringList &captions)
{
    auto *buttons = new QButtonGroup(box);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(6, 2, 6, 2);
    for (int i = 0; i < captions.size(); ++i) {
        auto *b = new QRadioButton(captions[i], box);
        setName(b, name, i);
        buttons->addButton(b, i);
        layout->addWidget(b);
    }
    return buttons;
}

std::int32_t leadingInt(const QString &text)
{
    return toInt32(leadingNumber(text)).value_or(0);
}

} // namespace

ConnectionPanel::ConnectionPanel(QWidget *parent)
    : QWidget(parent)
{
    setName(this, QStringLiteral("ConnectionPanel"));
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *portGroup = group(QStringLiteral("通讯端口选择"), QStringLiteral("Frame_Port"), this);
    auto *portLayout = new QHBoxLayout(portGroup);
    auto *portCaption = new QLabel(QStringLiteral("通讯端口"), portGroup);
    setName(portCaption, QStringLiteral("Label_Port"));
    m_port = new QComboBox(portGroup);
    setName(m_port, QStringLiteral("Port"));
    m_port->setEditable(true);
    portLayout->addWidget(portCaption);
    portLayout->addWidget(m_port, 1);

    auto *addressGroup = group(QStringLiteral("模块地址"), QStringLiteral("Frame_Address"), this);
    auto *addressLayout = new QHBoxLayout(addressGroup);
    auto *addressCaption = new QLabel(QStringLiteral("模块地址"), addressGroup);
    setName(addressCaption, QStringLiteral("Label_Address"));
    m_address = new QComboBox(addressGroup);
    setName(m_address, QStringLiteral("Address"));
    m_address->setEditable(true);
    addressLayout->addWidget(addressCaption);
    addressLayout->addWidget(m_address, 1);

    auto *baudGroup = group(QStringLiteral("波特率"), QStringLiteral("Frame_Baud"), this);
    m_baud = exclusiveButtons(baudGroup, QStringLiteral("Baud"),
                              {QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200")});
    auto *parityGroup = group(QStringLiteral("校验方式"), QStringLiteral("Frame_Parity"), this);
    m_parity = exclusiveButtons(parityGroup, QStringLiteral("Parity"),
                                {QStringLiteral("无校验"), QStringLiteral("奇校验"), QStringLiteral("偶校验")});

    m_open = new QPushButton(QStringLiteral("打开"), this);
    setName(m_open, QStringLiteral("Command9"));
    m_close = new QPushButton(QStringLiteral("关闭"), this);
    setName(m_close, QStringLiteral("Command10"));

    layout->addWidget(portGroup, 0, 0);
    layout->addWidget(addressGroup, 0, 1);
    layout->addWidget(baudGroup, 1, 0);
    layout->addWidget(parityGroup, 1, 1);
    m_linkState = new QLabel(this);
    setName(m_linkState, QStringLiteral("LinkState"));
    m_linkState->setAlignment(Qt::AlignCenter);
    m_linkState->setMinimumWidth(m_linkState->fontMetrics().horizontalAdvance(QStringLiteral("通讯中断")) + 16);

    auto *commands = new QHBoxLayout;
    commands->addWidget(m_open);
    commands->addWidget(m_close);
    commands->addWidget(m_linkState);
    layout->addLayout(commands, 2, 0, 1, 2);

    m_linkTimer.setInterval(kLinkStateMs);
    connect(&m_linkTimer, &QTimer::timeout, this, &ConnectionPanel::refreshLinkState);
    m_linkTimer.start();
    refreshLinkState();
}

void ConnectionPanel::setLinkOpen(bool open)
{
    m_openMark.open = open;
    if (open) {
        m_openMark.at = std::chrono::steady_clock::now();
        m_openMark.ticket = link::linkThread().opensPosted();
    }
    refreshLinkState();
}

void ConnectionPanel::setNote(const QString &note)
{
    m_note = note;
    refreshLinkState();
}

void ConnectionPanel::refreshLinkState()
{
    const link::LinkStatus status = link::linkThread().status();
    const link::LinkState state = link::linkState(m_openMark, status, std::chrono::steady_clock::now());
    const QString text = link::linkStateText(state);
    m_shownState = state;
    if (m_linkState->text() != text) {
        m_linkState->setText(text);
        QPalette p = m_linkState->palette();
        p.setColor(QPalette::WindowText, state == link::LinkState::Lost ? colors::kLinkLost
                                                                        : palette().color(QPalette::WindowText));
        m_linkState->setPalette(p);
        emit linkStateShown(text);
    }
    QString tip = link::linkStateToolTip(state, status);
    if (!m_note.isEmpty())
        tip += u'\n' + m_note;
    m_linkState->setToolTip(tip);
}

void ConnectionPanel::fill()
{
    m_port->clear();
    for (int i = 1; i <= kPortCount; ++i)
        m_port->addItem(QString::number(i) + u' ');
    m_port->setCurrentIndex(0);
    m_baud->button(1)->setChecked(true);
    m_parity->button(0)->setChecked(true);
    m_address->clear();
    for (int i = 1; i <= kAddressCount; ++i)
        m_address->addItem(QString::number(i) + u' ');
    m_address->setCurrentIndex(0);
}

void ConnectionPanel::choose(const LinkSettings &settings)
{
    const auto show = [](QComboBox *list, std::int32_t number) {
        const QString text = QString::number(number) + u' ';
        const int entry = list->findText(text);
        if (entry >= 0)
            list->setCurrentIndex(entry);
        else
            list->setEditText(text);
    };
    show(m_port, settings.port);
    show(m_address, settings.station);
    if (QAbstractButton *b = m_baud->button(settings.baudCode))
        b->setChecked(true);
    if (QAbstractButton *b = m_parity->button(settings.parityCode))
        b->setChecked(true);
}

LinkSettings ConnectionPanel::chosenSettings() const
{
    LinkSettings s = linkSettings();
    s.port = leadingInt(m_port->currentText());
    s.baudCode = m_baud->checkedId();
    s.parityCode = m_parity->checkedId();
    s.station = leadingInt(m_address->currentText());
    return s;
}

} // namespace station
