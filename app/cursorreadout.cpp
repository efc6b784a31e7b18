#include "app/cursorreadout.h"

#include "app/status/panelwidgets.h"
#include "common/colors.h"
#include "common/naming.h"

#include <QHBoxLayout>
#include <QLabel>

namespace station {

namespace {

// Value columns 0..7 of a stored row: the two measured values, the two set
// values in effect, the two retransmission outputs (tenths of a percent) and
// the two alarm kinds.
constexpr std::array<const char16_t *, CursorReadout::kValueCount> kCaptions{
    u"PV1", u"PV2", u"SV1", u"SV2", u"变送1", u"变送2", u"报警1", u"报警2"};

QLabel *yellowLabel(QWidget *parent, const QString &widest, const QString &name, int index = -1)
{
    auto *label = new status::ValueLabel(widest, colors::kCursorYellow, parent);
    if (index >= 0)
        setName(label, name, index);
    else
        setName(label, name);
    return label;
}

} // namespace

CursorReadout::CursorReadout(QWidget *parent)
    : QWidget(parent)
{
    setName(this, QStringLiteral("CursorReadout"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    m_date = yellowLabel(this, QStringLiteral("8888-88-88"), QStringLiteral("CursorDate"));
    m_time = yellowLabel(this, QStringLiteral("88:88:88"), QStringLiteral("CursorTime"));
    row->addWidget(m_date);
    row->addWidget(m_time);
    for (int j = 0; j < kValueCount; ++j) {
        auto *caption = new QLabel(QString::fromUtf16(kCaptions[std::size_t(j)]), this);
        setName(caption, QStringLiteral("CursorCaption"), j);
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addSpacing(4);
        row->addWidget(caption);
        m_values[std::size_t(j)] = yellowLabel(this, QStringLiteral("-88888"), QStringLiteral("CursorValue"), j);
        row->addWidget(m_values[std::size_t(j)]);
    }
    clear();
}

QLabel *CursorReadout::valueLabel(int j) const
{
    return j >= 0 && j < kValueCount ? m_values[std::size_t(j)] : nullptr;
}

void CursorReadout::showSample(const QString &date, const QString &time,
                               const std::array<QString, kValueCount> &values)
{
    m_date->setText(date);
    m_time->setText(time);
    for (int j = 0; j < kValueCount; ++j)
        m_values[std::size_t(j)]->setText(values[std::size_t(j)]);
    show();
}

void CursorReadout::clear()
{
    hide();
    m_date->clear();
    m_time->clear();
    for (QLabel *label : m_values)
        label->clear();
}

} // namespace station
