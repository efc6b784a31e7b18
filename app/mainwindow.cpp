#include "app/mainwindow.h"

#include "app/connectionpanel.h"

#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"

#include "common/colors.h"
#include "common/datenum.h"
#include "common/naming.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace station {

namespace {

const QString kCaption = QStringLiteral("双回路控制器（温湿度控制） LX6100S ");

QPushButton *command(const QString &caption, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    setName(b, name);
    return b;
}

void setBackground(QLabel *label, const QColor &color)
{
    if (!label)
        return;
    QPalette p = label->palette();
    p.setColor(QPalette::Window, color);
    label->setPalette(p);
    label->setAutoFillBackground(true);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent)
{
    setName(this, QStringLiteral("ssqx"));
    setWindowTitle(kCaption);
    buildControls();

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer2.setObjectName(QStringLiteral("Timer2"));
    m_timer3.setObjectName(QStringLiteral("Timer3"));
    m_timer1.setInterval(kTimer1Ms);
    m_timer2.setInterval(kTimer2Ms);
    m_timer3.setInterval(kTimer3Ms);
    connect(&m_timer1, &QTimer::timeout, this, &MainWindow::onTimer1);
    connect(&m_timer2, &QTimer::timeout, this, &MainWindow::onTimer2);
    connect(&m_timer3, &QTimer::timeout, this, &MainWindow::onTimer3);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scroll);
    auto *content = new QWidget(scroll);
    scroll->setWidget(content);

    auto *grid = new QGridLayout(content);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setSpacing(6);

    // Top right of the chart: date and time (the clock in live view, the cursor's
    // sample in ruler mode).
    m_dateLabel = new QLabel(content);
    setName(m_dateLabel, QStringLiteral("Label2"), 9);
    m_timeLabel = new QLabel(content);
    setName(m_timeLabel, QStringLiteral("Label2"), 10);
    for (QLabel *l : {m_dateLabel, m_timeLabel}) {
        l->setAlignment(Qt::AlignCenter);
        l->setMinimumWidth(90);
        setBackground(l, colors::kClockGreen);
    }
    auto *clock = new QHBoxLayout;
    clock->addStretch(1);
    clock->addWidget(m_dateLabel);
    clock->addWidget(m_timeLabel);

    m_chartArea = new QWidget(content);
    setName(m_chartArea, QStringLiteral("ChartArea"));
    m_chartArea->setMinimumSize(820, 560);

    m_stepLabel = new QLabel(content);
    setName(m_stepLabel, QStringLiteral("Label12"));

    auto *left = new QVBoxLayout;
    left->addLayout(clock);
    left->addWidget(m_chartArea, 1);
    left->addWidget(m_stepLabel);

    // Right: connection groups and the command column.
    m_connection = new ConnectionPanel(content);
    m_config = command(QStringLiteral("CONFIG"), QStringLiteral("Command21"), content);
    m_curve = command(QStringLiteral("曲线设置"), QStringLiteral("Command11"), content);
    m_calibrate = command(QStringLiteral("参数校准"), QStringLiteral("Command23"), content);
    m_exit = command(QStringLiteral("退出"), QStringLiteral("Command1"), content);
    m_calibrate->setVisible(false);
    m_config->setEnabled(false);
    m_calibrate->setEnabled(false);

    auto *commands = new QVBoxLayout;
    commands->addWidget(m_config);
    commands->addWidget(m_curve);
    commands->addWidget(m_calibrate);
    commands->addStretch(1);
    commands->addWidget(m_exit);

    auto *right = new QVBoxLayout;
    right->addWidget(m_connection);
    right->addLayout(commands, 1);

    grid->addLayout(left, 0, 0);
    grid->addLayout(right, 0, 1);
    grid->setColumnStretch(0, 1);

    connect(m_connection->openButton(), &QPushButton::clicked, this, &MainWindow::openLink);
    connect(m_connection->closeButton(), &QPushButton::clicked, this, &MainWindow::closeLink);
    connect(m_exit, &QPushButton::clicked, this, &MainWindow::exitProgram);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_loaded)
        load();
}

void MainWindow::load()
{
    m_loaded = true;
    // The steps run in this order; a step that cannot be done is skipped.
    initChartView();                 // Y span 60, zoom 1, gap marks cleared, paging state
    m_connection->fill();            // port, baud, parity and address lists
    sampleFlags().notifyEnabled = true;
    openDatabase();                  // own connection, newest id, window end id
    m_unloadGuard = true;
    loadHistoryAndRepaint();         // history window and first repaint

    onTimer3();
    m_timer1.start();
    m_timer2.start();
    m_timer3.start();
}

void MainWindow::initChartView()
{
}

void MainWindow::openDatabase()
{
}

void MainWindow::loadHistoryAndRepaint()
{
}

void MainWindow::openLink()
{
    LinkSettings &link = linkSettings();
    const LinkSettings chosen = m_connection->chosenSettings();
    link.port = chosen.port;
    link.baudCode = chosen.baudCode;
    link.parityCode = chosen.parityCode;
    link.station = chosen.station;
    link.openResult = OpenPort_Modbus(link.port, link.baudCode, link.parityCode);
    m_config->setEnabled(true);
    m_calibrate->setEnabled(true);
    if (m_poller)
        m_poller->startPolling();
}

void MainWindow::closeLink()
{
    ClosePort_Modbus(linkSettings().port);
    if (m_poller)
        m_poller->stopPolling();
    m_config->setEnabled(false);
    m_calibrate->setEnabled(false);
}

void MainWindow::exitProgram()
{
    m_timer1.stop();
    m_timer2.stop();
    m_timer3.stop();
    if (m_poller)
        m_poller->stopPolling();
    m_unloadGuard = false;
    close();
    sampleFlags().notifyEnabled = false;
    emit exitRequested();
    QCoreApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_unloadGuard) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::onTimer1()
{
    if (!m_rulerMode) {
        setBackground(m_dateLabel, colors::kClockGreen);
        setBackground(m_timeLabel, colors::kClockGreen);
    }
}

void MainWindow::onTimer2()
{
}

void MainWindow::onTimer3()
{
    if (m_rulerMode)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    m_dateLabel->setText(clockDateText(now.date()));
    m_timeLabel->setText(clockTimeText(now.time()));
}

} // namespace station
