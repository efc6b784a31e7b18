#include "app/mainwindow.h"

#include "app/commands.h"
#include "app/connectionpanel.h"
#include "app/cursorreadout.h"
#include "app/functionpanel.h"
#include "app/navigationview.h"
#include "app/status/statuspanel.h"
#include "app/status/statustables.h"

#include "chart/navigation.h"
#include "chart/trendchart.h"
#include "config/configwindow.h"
#include "program/ui/programeditor.h"
#include "record/sampledb.h"

#include "link/linkstate.h"
#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"

#include "common/combowheel.h"
#include "common/naming.h"
#include "common/taborder.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSlider>
#include <QVBoxLayout>

namespace station {

namespace {

const QString kCaption = QStringLiteral("双回路控制器（温湿度控制） LX6100S ");

// The program-command list: the position of the chosen entry, 0..3, is the run
// command written to holding register 3 ("4:结束 " writes 3).
const QStringList kRunCommands = {QStringLiteral("0:停止 "), QStringLiteral("1:运行 "), QStringLiteral("2:暂停 "),
                                  QStringLiteral("4:结束 ")};

QPushButton *command(const QString &caption, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    setName(b, name);
    return b;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent)
{
    setName(this, QStringLiteral("ssqx"));
    setWindowTitle(kCaption);
    buildControls();
    keepWheelOffUnfocusedCombos(this);

    m_panelTimer.setObjectName(QStringLiteral("PanelTimer"));
    m_panelTimer.setInterval(kPanelTimerMs);
    connect(&m_panelTimer, &QTimer::timeout, this, &MainWindow::onPanelTimer);
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
    scroll->setFocusPolicy(Qt::NoFocus); // Tab goes to the controls; it scrolls to each one
    outer->addWidget(scroll);
    auto *content = new QWidget(scroll);
    scroll->setWidget(content);

    m_status = new status::StatusPanel(content);
    m_chart = new chart::TrendChart(content);
    m_function = new FunctionPanel(content);
    m_connection = new ConnectionPanel(content);
    m_stepLabel = new QLabel(content);
    setName(m_stepLabel, QStringLiteral("Label12"));
    m_readout = new CursorReadout(content);

    m_config = command(QStringLiteral("CONFIG"), QStringLiteral("Command21"), content);
    m_curve = command(QStringLiteral("曲线设置"), QStringLiteral("Command11"), content);
    m_calibrate = command(QStringLiteral("参数校准"), QStringLiteral("Command23"), content);
    m_exit = command(QStringLiteral("退出"), QStringLiteral("Command1"), content);
    m_calibrate->setVisible(false);
    m_config->setEnabled(false);
    m_calibrate->setEnabled(false);

    // Left: the clock above the chart, the function frame below it, and the
    // parameter groups at the foot.
    auto *clockRow = new QHBoxLayout;
    clockRow->addWidget(m_stepLabel);
    clockRow->addSpacing(12);
    clockRow->addWidget(m_readout);
    clockRow->addStretch(1);
    clockRow->addWidget(m_status->clockWidget());

    auto *paramRow = new QHBoxLayout;
    for (QGroupBox *g : m_status->paramGroups())
        paramRow->addWidget(g, 0, Qt::AlignTop);
    paramRow->addWidget(m_status->alarmParamGroup(), 0, Qt::AlignTop);
    paramRow->addStretch(1);

    auto *left = new QVBoxLayout;
    left->addLayout(clockRow);
    left->addWidget(m_chart);
    left->addWidget(m_function);
    left->addLayout(paramRow);
    left->addStretch(1);

    // Right: the live values, then the connection groups and the commands.
    auto *commands = new QHBoxLayout;
    commands->addWidget(m_config);
    commands->addWidget(m_curve);
    commands->addWidget(m_calibrate);
    commands->addWidget(m_exit);

    auto *right = new QVBoxLayout;
    right->addWidget(m_status->programGroup());
    right->addWidget(m_status->pvGroup());
    right->addWidget(m_status->alarmStateGroup());
    right->addWidget(m_connection);
    right->addLayout(commands);
    right->addStretch(1);

    auto *grid = new QHBoxLayout(content);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->addLayout(left);
    grid->addLayout(right);
    grid->addStretch(1);
    m_status->hide(); // its groups now live in this window's layouts

    // Tab starts in the connection group and its commands, then follows the
    // layout: the left column top to bottom, then the right column.
    QList<QWidget *> tabParts{m_connection, m_config, m_curve, m_calibrate, m_exit, m_function};
    for (QGroupBox *g : m_status->paramGroups())
        tabParts.append(g);
    tabParts << m_status->alarmParamGroup() << m_status->programGroup() << m_status->pvGroup()
             << m_status->alarmStateGroup();
    orderTabs(this, tabParts);
    m_connection->portList()->setFocus(); // the window's first stop when it is activated

    connect(m_connection->openButton(), &QPushButton::clicked, this, &MainWindow::openLink);
    connect(m_connection->closeButton(), &QPushButton::clicked, this, &MainWindow::closeLink);
    connect(m_exit, &QPushButton::clicked, this, &MainWindow::exitProgram);
    connect(m_config, &QPushButton::clicked, this, [this] { openConfigWindow(this); });
    connect(m_curve, &QPushButton::clicked, this, [this] { program::openProgramEditor(this); });
    connectWritePanels();
    connectNavigation();
    // The window's title names the link state too, so the task bar shows it.
    connect(m_connection, &ConnectionPanel::linkStateShown, this, &MainWindow::showLinkStateInTitle);
    showLinkStateInTitle(m_connection->linkStateLabel()->text());
    // A live sample is a measurement only while the controller answers.
    m_chart->chart().setLiveness([this] {
        return m_connection->shownLinkState() == link::LinkState::Answering ? chart::Liveness::Live
                                                                          : chart::Liveness::NotLive;
    });
}

void MainWindow::showLinkStateInTitle(const QString &state)
{
    setWindowTitle(state.isEmpty() ? kCaption : state + QStringLiteral(" - ") + kCaption);
}

void MainWindow::connectWritePanels()
{
    // Each write names this window, its entry, the caption beside it and what
    // the read-back label showed before, for the journal.
    const auto tag = [this](QWidget *entry, QStringView caption, QLabel *shown) {
        link::WriteTag t{objectName(), entry->objectName(), caption.toString(), QString(), std::nullopt};
        if (shown && !shown->text().isEmpty())
            t.shownBefore = shown->text();
        return t;
    };
    for (int i = 0; i < 2; ++i)
        if (QPushButton *b = m_status->setValueButton(i))
            connect(b, &QPushButton::clicked, this, [this, i, tag] {
                if (QLineEdit *entry = m_status->setValueEntry(i))
                    commands::numericWrite(entry->text(), reg::kSetValue1 + i,
                                           tag(entry, status::kSetValueButtonTexts[std::size_t(i)], m_status->setValueLabel(i)));
            });
    for (int i = 0; i < 6; ++i)
        if (QPushButton *b = m_status->alarmButton(i))
            connect(b, &QPushButton::clicked, this, [this, i, tag] {
                if (QLineEdit *entry = m_status->alarmEntry(i))
                    commands::numericWrite(entry->text(), reg::kAlarmFirst + i,
                                           tag(entry, status::kAlarmCaptions[std::size_t(i)], m_status->alarmLabel(i)));
            });
    if (QPushButton *b = m_status->runCommandButton())
        connect(b, &QPushButton::clicked, this, [this, tag] {
            QComboBox *box = m_status->runCommandBox();
            if (box)  // the curve state beside it ("运行", "停止") is what the command changes
                commands::runCommandWrite(box, tag(box, status::kRunCommandButtonText, m_status->programLabel(0)));
        });
}

void MainWindow::connectNavigation()
{
    m_navView = std::make_unique<NavigationView>(*m_function, *m_readout, *m_chart, m_timer1, *m_stepLabel);
    m_navigation = std::make_unique<chart::Navigation>(m_chart->chart(), *m_navView);
    chart::Navigation *nav = m_navigation.get();
    connect(m_function->zoomOut(), &QPushButton::clicked, this, [nav] { nav->zoomOut(); });
    connect(m_function->zoomIn(), &QPushButton::clicked, this, [nav] { nav->zoomIn(); });
    connect(m_function->ruler(), &QPushButton::clicked, this, [nav] { nav->toggleRuler(); });
    connect(m_function->pageForward(), &QPushButton::clicked, this, [nav] { nav->pageForward(); });
    connect(m_function->pageBack(), &QPushButton::clicked, this, [nav] { nav->pageBack(); });
    connect(m_function->slider(), &QSlider::valueChanged, this, [nav](int x) { nav->cursorMoved(x); });
    connect(m_function->applyY(), &QPushButton::clicked, this, [this, nav] {
        nav->changeYRange(m_function->yMaximum()->text(), m_function->yMinimum()->text());
    });

    // The function keys act wherever the focus is in this window; each runs its
    // button's handler behind the key's own guard, enabled or not.
    using Key = chart::Navigation::Key;
    const std::pair<int, Key> keys[] = {{Qt::Key_F1, Key::F1}, {Qt::Key_F2, Key::F2}, {Qt::Key_F3, Key::F3},
                                        {Qt::Key_F4, Key::F4}, {Qt::Key_F5, Key::F5}, {Qt::Key_F6, Key::F6},
                                        {Qt::Key_F7, Key::F7}};
    for (const auto &[code, key] : keys) {
        auto *shortcut = new QShortcut(QKeySequence(code), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [nav, key = key] { nav->key(key); });
    }
    // Esc is no shortcut but a key the window takes when no control wanted it
    // (see keyPressEvent): a shortcut is matched after an open drop-down list
    // has already closed itself on that same Esc, and would end the program.
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // An Esc that reaches the window was left by the control that has the
    // focus; one that closed a drop-down list stayed with the list.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        onEscape();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindow::onEscape()
{
    // Esc ends the program, but not while the operator is typing into one of
    // the window's entries (a set value, an alarm setting, the Y range, or an
    // editable list such as the port, the address or the run command): there it
    // would throw the program away in the middle of a number. An editable list
    // that holds the focus but was not typed into (the port list as the window
    // opens, or an entry picked from the list) is not typing.
    QWidget *focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit *>(focus))
        return;
    if (auto *list = qobject_cast<QComboBox *>(focus); list && list->isEditable() && list->lineEdit()->isModified())
        return;
    m_exitWay = ExitWay::EscapeKey;
    exitProgram();
}

bool MainWindow::rulerMode() const
{
    return m_chart->chart().view().rulerMode;
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
    chart::Chart &chart = m_chart->chart();
    chart.initView();                 // Y span 60, paging state, gap marks, zoom 1
    m_connection->fill();             // port, baud, parity and address lists
    QComboBox *runCommand = m_status->runCommandBox();
    runCommand->clear();
    runCommand->addItems(kRunCommands);
    runCommand->setCurrentIndex(0);
    sampleFlags().notifyEnabled = true;
    m_function->slider()->setEnabled(false);
    m_function->zoomIn()->setEnabled(false);
    m_function->pageForward()->setEnabled(false);
    chart.setDatabase(&sampledb::openMainWindowConnection); // the window's own connection
    chart.startLiveWindow();          // newest id, window end id, window length 241
    m_unloadGuard = true;
    m_function->slider()->setValue(0);
    chart.loadAndRepaint();           // history window and first repaint

    onTimer3();
    onPanelTimer();
    showSampleStep();
    m_panelTimer.start();
    m_timer1.start();
    m_timer2.start();
    m_timer3.start();
}

void MainWindow::openLink()
{
    LinkSettings &link = linkSettings();
    const LinkSettings chosen = m_connection->chosenSettings();
    // Opening again ends the cycle that runs on the old settings.
    if (m_poller)
        m_poller->stopPolling();
    link.port = chosen.port;
    link.baudCode = chosen.baudCode;
    link.parityCode = chosen.parityCode;
    link.station = chosen.station;
    // The open goes out on the link thread after whatever is queued; its
    // result is kept in the link settings when it comes back, not examined.
    link::Request open;
    open.op = link::Op::Open;
    open.port = link.port;
    open.first = link.baudCode;
    open.count = link.parityCode;
    link::linkThread().post(open, this, [this, settings = link](const link::Reply &reply) {
        linkSettings().openResult = reply.result;
        emit linkOpened(settings, reply.result);
    });
    m_connection->setLinkOpen(true);
    m_config->setEnabled(true);
    m_calibrate->setEnabled(true);
    if (m_poller)
        m_poller->startPolling();
}

void MainWindow::closeLink()
{
    // The cycle ends first: its reads that have not gone out are dropped. The
    // close is queued behind the writes queued before it, which still go out.
    if (m_poller)
        m_poller->stopPolling();
    link::Request close;
    close.op = link::Op::Close;
    close.port = linkSettings().port;
    link::linkThread().post(close);
    m_connection->setLinkOpen(false);
    emit linkClosed();
    m_config->setEnabled(false);
    m_calibrate->setEnabled(false);
}

void MainWindow::exitProgram()
{
    m_panelTimer.stop();
    m_timer1.stop();
    m_timer2.stop();
    m_timer3.stop();
    if (m_poller)
        m_poller->stopPolling();
    sampledb::closeMainWindowConnection();
    m_unloadGuard = false;
    close();
    sampleFlags().notifyEnabled = false;
    // The station's end runs here (Station::shutDown): the recorder saves,
    // then the writes still queued get their bounded time on the line.
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

void MainWindow::onPanelTimer()
{
    m_status->showLiveColours();
    m_status->refresh(registerImage());
}

void MainWindow::onTimer1()
{
    m_chart->leftScaleRefresh();
    if (sampleFlags().newSample)
        m_chart->liveAppend();
    showSampleStep();
}

void MainWindow::showSampleStep()
{
    m_stepLabel->setText(QString::number(double(m_chart->sampleStep())));
}

void MainWindow::onTimer2()
{
    m_chart->repaintChart();
}

void MainWindow::onTimer3()
{
    m_status->showClock(QDateTime::currentDateTime());
}

} // namespace station
