#include "config/configwindow.h"

#include "config/parametercoding.h"
#include "config/parametertable.h"

#include "common/combowheel.h"
#include "common/logging.h"
#include "common/naming.h"
#include "common/windowfit.h"
#include "common/writeonleave.h"
#include "link/registerimage.h"
#include "link/writetag.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace station {

using config::Parameter;

namespace {

constexpr int kDisplayMinWidth = 110;  // px; fits "温湿度专用SHT10"
constexpr int kEntryMinWidth = 150;    // px; fits "12:温湿度专用SHT10"

} // namespace

ConfigWindow::ConfigWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setName(this, QStringLiteral("CONFIG1"));
    setWindowTitle(QStringLiteral("LX6100 配置 "));
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing this window never ends the program; the main window comes back.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto *frame = new QGroupBox(QStringLiteral("CONFIG"), this);
    setName(frame, QStringLiteral("Frame1"));
    m_tabs = new QTabWidget(frame);
    setName(m_tabs, QStringLiteral("SSTab1"));
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(m_tabs);

    m_writes = new WriteOnLeave([this](QWidget *control) { return write(control); }, this);
    buildPages();
    keepWheelOffUnfocusedCombos(this);
    m_tabs->setCurrentIndex(kOpeningPage);

    m_return = new QPushButton(QStringLiteral(" Esc 返回"), this);
    setName(m_return, QStringLiteral("Command11"));
    // Deliberately no Esc shortcut: the window handles no keys.
    m_return->setAutoDefault(false);
    connect(m_return, &QPushButton::clicked, this, &ConfigWindow::returnToMain);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(m_return, 0, Qt::AlignRight);

    m_timer = new QTimer(this);
    setName(m_timer, QStringLiteral("Timer1"));
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &ConfigWindow::refresh);
    m_timer->start();
}

ConfigWindow::~ConfigWindow() = default;

void ConfigWindow::buildPages()
{
    // Label1 and Label2 elements are numbered by row in table order; their
    // indices carry no meaning beyond naming.
    int row = 0;
    for (config::Page page : config::kPages) {
        auto *widget = new QWidget(m_tabs);
        auto *grid = new QGridLayout(widget);
        int line = 0;
        QStringList footHints;
        for (const Parameter &p : config::parameters()) {
            if (p.page != page)
                continue;
            auto *caption = new QLabel(p.caption.toString(), widget);
            setName(caption, QStringLiteral("Label1"), row);

            auto *display = new QLabel(widget);
            setName(display, QStringLiteral("D_4W"), p.element());
            display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            display->setMinimumWidth(kDisplayMinWidth);
            m_displays.insert(p.element(), display);

            QWidget *control = createEntry(p, widget);
            control->setMinimumWidth(kEntryMinWidth);

            auto *hint = new QLabel(p.hint.toString(), widget);
            setName(hint, QStringLiteral("Label2"), row);

            grid->addWidget(caption, line, 0);
            grid->addWidget(display, line, 1);
            grid->addWidget(control, line, 2);
            grid->addWidget(hint, line, 3);
            if (!p.footHint.isEmpty())
                footHints.append(p.footHint.toString());
            ++line;
            ++row;
        }
        for (const QString &text : footHints) {
            auto *hint = new QLabel(text, widget);
            setName(hint, QStringLiteral("Label2"), row++);
            grid->addWidget(hint, line++, 0, 1, 4);
        }
        grid->setRowStretch(line, 1);
        grid->setColumnStretch(3, 1);
        m_tabs->addTab(widget, config::pageCaption(page).toString());
    }
}

QWidget *ConfigWindow::createEntry(const Parameter &p, QWidget *page)
{
    QWidget *control = nullptr;
    if (p.isEnumerated()) {
        auto *combo = new QComboBox(page);
        combo->setEditable(true);
        // The list is fixed: typing never adds entries nor completes them.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        for (const config::Option &option : p.options->options)
            combo->addItem(option.entry.toString());
        combo->setCurrentIndex(0);
        m_writes->watch(combo);
        control = combo;
    } else {
        auto *box = new QLineEdit(page);
        m_writes->watch(box);
        control = box;
    }
    setName(control, config::entryControlName(p));
    m_entryOf.insert(control, m_entries.size());
    m_entries.push_back({&p, control});
    return control;
}

QLabel *ConfigWindow::display(int element) const
{
    return m_displays.value(element, nullptr);
}

QWidget *ConfigWindow::entry(int element) const
{
    for (const Entry &e : m_entries)
        if (e.parameter->element() == element)
            return e.control;
    return nullptr;
}

void ConfigWindow::refresh()
{
    const auto &image = registerImage().paramImage;
    for (const Parameter &p : config::parameters()) {
        QLabel *label = m_displays.value(p.element(), nullptr);
        if (!label)
            continue;
        if (const auto text = config::displayText(p, image[std::size_t(p.element())]))
            label->setText(*text);
    }
}

bool ConfigWindow::write(QWidget *control)
{
    const auto it = m_entryOf.constFind(control);
    if (it == m_entryOf.constEnd())
        return false;
    const Entry &entry = m_entries[*it];
    if (auto *combo = qobject_cast<QComboBox *>(entry.control))
        return writeCombo(entry, combo);
    return writeTextBox(entry);
}

bool ConfigWindow::writeCombo(const Entry &entry, QComboBox *combo)
{
    const Parameter &p = *entry.parameter;
    const int code = p.options->optionNumber(combo->currentText());
    if (code < 0) {
        qCDebug(lcConfig) << "register" << p.reg << "not written: no entry reads" << combo->currentText();
        return false;
    }
    const QString entered = combo->currentText();
    combo->setEditText(QString::number(code));
    writeWithRetry(p.reg, code, writeTag(entry, entered)); // queued; the link thread logs its result
    qCDebug(lcConfig, "register %d <- %d (%s), queued", p.reg, code, qUtf8Printable(combo->objectName()));
    return true;
}

QVariant ConfigWindow::writeTag(const Entry &entry, const QString &entered) const
{
    link::WriteTag tag{objectName(), entry.control->objectName(), entry.parameter->caption.toString(), entered,
                       std::nullopt};
    if (const QLabel *shown = display(entry.parameter->element()); shown && !shown->text().isEmpty())
        tag.shownBefore = shown->text();
    return link::tagged(std::move(tag));
}

bool ConfigWindow::writeTextBox(const Entry &entry)
{
    const Parameter &p = *entry.parameter;
    auto *box = static_cast<QLineEdit *>(entry.control);
    const auto value = config::encodeEntry(p, box->text());
    if (!value) {
        qCDebug(lcConfig) << "register" << p.reg << "not written: no 32-bit value in" << box->text();
        return false;
    }
    writeWithRetry(p.reg, *value, writeTag(entry, box->text())); // queued; the link thread logs its result
    qCDebug(lcConfig, "register %d <- %d (%s), queued", p.reg, *value, qUtf8Printable(box->objectName()));
    return true;
}

void ConfigWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closeAllowed) {
        event->ignore();
        return;
    }
    m_timer->stop();
    event->accept();
}

void ConfigWindow::returnToMain()
{
    // The control that had the focus is left first, however the button was pressed.
    m_writes->leave(focusWidget());
    m_closeAllowed = true;
    close();
    emit returned();
}

ConfigWindow *openConfigWindow(QWidget *mainWindow)
{
    if (mainWindow)
        mainWindow->hide();
    auto *window = new ConfigWindow;
    if (mainWindow) {
        QPointer<QWidget> main(mainWindow);
        QObject::connect(window, &ConfigWindow::returned, mainWindow, [main] {
            if (main)
                main->show();
        });
    }
    showFitted(window, mainWindow ? mainWindow->screen() : nullptr);
    return window;
}

} // namespace station
