#include "app/functionpanel.h"

#include "common/naming.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace station {

namespace {

QPushButton *button(const QString &caption, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    setName(b, name);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

} // namespace

FunctionPanel::FunctionPanel(QWidget *parent)
    : QGroupBox(QStringLiteral("功能"), parent)
{
    setName(this, QStringLiteral("Frame_Function"));
    m_zoomOut = button(QStringLiteral("F1 缩小"), QStringLiteral("Command4"), this);
    m_zoomIn = button(QStringLiteral("F2 放大"), QStringLiteral("Command3"), this);
    m_print = button(QStringLiteral("F3 打印"), QStringLiteral("Command2"), this);
    m_ruler = button(QStringLiteral("F4 标尺"), QStringLiteral("Command5"), this);
    m_select = button(QStringLiteral("F5 选择"), QStringLiteral("Command6"), this);
    m_forward = button(QStringLiteral("F6 左移"), QStringLiteral("Command7"), this);
    m_back = button(QStringLiteral("F7 右移"), QStringLiteral("Command8"), this);
    m_print->setEnabled(false);
    m_select->setEnabled(false);
    m_zoomIn->setEnabled(false);
    m_forward->setEnabled(false);

    m_slider = new QSlider(Qt::Horizontal, this);
    setName(m_slider, QStringLiteral("hc"));
    m_slider->setRange(kSliderMin, kSliderMax);
    m_slider->setSingleStep(kSliderStartStep);
    m_slider->setPageStep(kSliderStartStep);
    m_slider->setValue(0);
    m_slider->setEnabled(false);
    m_slider->setFocusPolicy(Qt::ClickFocus); // not a tab stop

    auto *yMaxCaption = new QLabel(QStringLiteral("Y轴最大"), this);
    setName(yMaxCaption, QStringLiteral("Label9"));
    m_yMax = new QLineEdit(QStringLiteral("60"), this);
    setName(m_yMax, QStringLiteral("YKD"));
    auto *yMinCaption = new QLabel(QStringLiteral("Y轴最小"), this);
    setName(yMinCaption, QStringLiteral("Label10"));
    m_yMin = new QLineEdit(this);
    setName(m_yMin, QStringLiteral("YKD1"));
    for (QLineEdit *e : {m_yMax, m_yMin})
        e->setMaximumWidth(70);
    // A screen reader names each entry by its caption, not by the group's title.
    yMaxCaption->setBuddy(m_yMax);
    yMinCaption->setBuddy(m_yMin);
    m_yMax->setAccessibleName(yMaxCaption->text());
    m_yMin->setAccessibleName(yMinCaption->text());
    m_applyY = button(QStringLiteral("修改Y"), QStringLiteral("Command26"), this);

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {m_zoomOut, m_zoomIn, m_print, m_ruler, m_select, m_forward, m_back})
        buttons->addWidget(b);
    buttons->addSpacing(12);
    buttons->addWidget(yMaxCaption);
    buttons->addWidget(m_yMax);
    buttons->addWidget(yMinCaption);
    buttons->addWidget(m_yMin);
    buttons->addWidget(m_applyY);
    buttons->addStretch(1);
    layout->addWidget(m_slider, 0, 0);
    layout->addLayout(buttons, 1, 0);
}

} // namespace station
