// The configuration window against a fake link: its controls, the one-second
// refresh from the parameter image, the writes on leaving a changed control,
// the refused close box and the way back to the main window.
#include "config/configwindow.h"
#include "config/parametertable.h"

#include "link/poller.h"
#include "link/registerimage.h"
#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using station::ConfigWindow;
using station::test::FakeLink;
using station::test::LinkCall;
using station::test::LinkOp;
namespace config = station::config;

namespace {

constexpr int kPort = 3;
constexpr int kStation = 7;

LinkCall writeCall(int reg, int value)
{
    return {LinkOp::Write, kPort, kStation, reg, value};
}

QString describeAll(const QList<LinkCall> &calls)
{
    QStringList out;
    for (const LinkCall &c : calls)
        out.append(station::test::describe(c));
    return out.join(u' ');
}

} // namespace

Q_DECLARE_METATYPE(LinkCall)

class TestConfigWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void layout();
    void firstRefreshFromZeroImage();
    void refreshShowsImageAndLeavesEntries();
    void comboPickWritesCode();
    void comboTextMatchingNoEntryWritesNothing_data();
    void comboTextMatchingNoEntryWritesNothing();
    void textBoxWrites_data();
    void textBoxWrites();
    void filterWriteReadsBack();
    void writeOnlyAfterAChange();
    void retryOnlyOnWriteFailure_data();
    void retryOnlyOnWriteFailure();
    void tabbingWritesNothing();
    void closeBoxRefused();
    void returnShowsMainWindow();

private:
    ConfigWindow *openWindow();
    void focus(QWidget *control);
    void leave(QWidget *control);
    template <typename T>
    T *control(const QString &name) const;

    std::unique_ptr<FakeLink> m_link;
    QPointer<ConfigWindow> m_window;
};

void TestConfigWindow::init()
{
    station::registerImage().paramImage.fill(0.0f);
    station::linkSettings().port = kPort;
    station::linkSettings().station = kStation;
    m_link = std::make_unique<FakeLink>();
}

void TestConfigWindow::cleanup()
{
    delete m_window.data();
    m_link.reset();
}

ConfigWindow *TestConfigWindow::openWindow()
{
    m_window = new ConfigWindow;
    m_window->show();
    m_window->activateWindow();
    if (!QTest::qWaitForWindowActive(m_window))
        qWarning("configuration window did not become active");
    return m_window;
}

template <typename T>
T *TestConfigWindow::control(const QString &name) const
{
    T *found = m_window ? m_window->findChild<T *>(name) : nullptr;
    if (!found)
        qWarning("no control %s", qPrintable(name));
    return found;
}

// Gives control the focus as Tab would, on its own page.
void TestConfigWindow::focus(QWidget *control)
{
    QVERIFY(control);
    m_window->tabs()->setCurrentWidget(control->parentWidget());
    control->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(control->hasFocus());
}

// Moves the focus on with the Tab key.
void TestConfigWindow::leave(QWidget *control)
{
    QTest::keyClick(control, Qt::Key_Tab);
    QTRY_VERIFY(!control->hasFocus());
}

void TestConfigWindow::layout()
{
    openWindow();
    QCOMPARE(m_window->objectName(), QStringLiteral("CONFIG1"));
    QCOMPARE(m_window->accessibleDescription(), QStringLiteral("CONFIG1"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("LX6100 配置 "));
    QVERIFY(m_window->isWindow());

    auto *tabs = control<QTabWidget>("SSTab1");
    QVERIFY(tabs);
    auto *frame = qobject_cast<QGroupBox *>(tabs->parentWidget());
    QVERIFY(frame);
    QCOMPARE(frame->title(), QStringLiteral("CONFIG"));
    QStringList captions;
    for (int k = 0; k < tabs->count(); ++k)
        captions.append(tabs->tabText(k));
    QCOMPARE(captions, (QStringList{"INST", "输入1", "输入2", "输出1", "输出2", "报警", "通讯", "变送1", "变送2"}));
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("输入1"));

    auto *timer = control<QTimer>("Timer1");
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(timer->isActive());

    auto *back = control<QPushButton>("Command11");
    QVERIFY(back);
    QCOMPARE(back->text(), QStringLiteral(" Esc 返回"));
    QVERIFY(back->shortcut().isEmpty());

    // One row per parameter on its page, left to right: caption, value display,
    // entry control, hint; displays and text boxes empty, combo boxes on their
    // first entry.
    int combos = 0;
    for (const config::Parameter &p : config::parameters()) {
        const QString name = config::entryControlName(p);
        QLabel *display = control<QLabel>(QStringLiteral("D_4W_%1").arg(p.element()));
        QWidget *entry = control<QWidget>(name);
        QVERIFY2(display && entry, qPrintable(name));
        QCOMPARE(m_window->display(p.element()), display);
        QCOMPARE(m_window->entry(p.element()), entry);
        QCOMPARE(entry->accessibleDescription(), name);
        QCOMPARE(display->text(), QString());
        QWidget *page = entry->parentWidget();
        QCOMPARE(tabs->tabText(tabs->indexOf(page)), config::pageCaption(p.page).toString());
        QCOMPARE(display->parentWidget(), page);
        tabs->setCurrentWidget(page);
        page->layout()->activate();

        QList<QLabel *> sameLine;
        for (QLabel *label : page->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            if (label != display && qAbs(label->geometry().center().y() - display->geometry().center().y()) < 4)
                sameLine.append(label);
        QCOMPARE(sameLine.size(), 2);
        std::sort(sameLine.begin(), sameLine.end(),
                  [](QLabel *a, QLabel *b) { return a->x() < b->x(); });
        QCOMPARE(sameLine[0]->text(), p.caption.toString());
        QVERIFY(sameLine[0]->objectName().startsWith(u"Label1_"));
        QCOMPARE(sameLine[1]->text(), p.hint.toString());
        QVERIFY(sameLine[1]->objectName().startsWith(u"Label2_"));
        QVERIFY(sameLine[0]->x() < display->x());
        QVERIFY(display->x() < entry->x());
        QVERIFY(entry->x() < sameLine[1]->x());

        if (auto *combo = qobject_cast<QComboBox *>(entry)) {
            ++combos;
            QVERIFY(p.isEnumerated());
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->count(), p.options->size());
            for (int code = 0; code < combo->count(); ++code)
                QCOMPARE(combo->itemText(code), p.options->options[std::size_t(code)].entry.toString());
            QCOMPARE(combo->currentText(), p.options->options[0].entry.toString());
        } else {
            auto *box = qobject_cast<QLineEdit *>(entry);
            QVERIFY2(box, qPrintable(name));
            QCOMPARE(box->text(), QString());
        }
    }
    QCOMPARE(combos, 19);

    // The filter's second hint sits below the rows of "INST".
    const QString footText = QStringLiteral("0.1-100.0S。 数值越大响应越慢。默认值：1S");
    QLabel *foot = nullptr;
    for (QLabel *label : m_window->findChildren<QLabel *>())
        if (label->text() == footText)
            foot = label;
    QVERIFY(foot);
    QVERIFY(foot->objectName().startsWith(u"Label2_"));
    QCOMPARE(foot->parentWidget(), m_window->entry(2)->parentWidget());
    tabs->setCurrentWidget(foot->parentWidget());
    foot->parentWidget()->layout()->activate();
    for (int element : {0, 1, 2, 3})
        QVERIFY(foot->y() > m_window->entry(element)->geometry().bottom());
}

void TestConfigWindow::firstRefreshFromZeroImage()
{
    openWindow();
    const QMap<int, QString> expected{
        {0, "禁止"},      {1, "禁止"},      {2, "0"},         {3, "摄氏度"},     {8, "0V5"},
        {9, "8888"},      {10, "0"},        {11, "0"},        {12, "0"},         {16, "0V5"},
        {17, "8888"},     {18, "0"},        {19, "0"},        {20, "0"},         {24, "0"},
        {25, "0"},        {26, "0"},        {27, "断开"},     {28, "0"},         {29, "0"},
        {30, "0"},        {31, "断开"},     {32, "禁止"},     {33, "禁止"},      {34, "通道一报警"},
        {35, "通道一报警"}, {36, "0"},       {37, "4800"},     {38, "无校验"},    {39, "0"},
        {40, "4MA20"},    {41, "不变送"},   {42, "0"},        {43, "0"},         {44, "4MA20"},
        {45, "不变送"},   {46, "0"},        {47, "0"},
    };
    QCOMPARE(expected.size(), 38);
    QCOMPARE(m_window->display(0)->text(), QString());
    // Timer1 fires one second after loading.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->display(0)->text(), QStringLiteral("禁止"), 3000);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(m_window->display(it.key())->text(), it.value());
    QVERIFY(m_link->calls.isEmpty());
}

void TestConfigWindow::refreshShowsImageAndLeavesEntries()
{
    openWindow();
    auto &image = station::registerImage().paramImage;
    image[2] = 15;
    image[8] = 4;
    image[12] = -100;
    image[32] = 1;
    image[37] = 2;
    m_window->refresh();
    QCOMPARE(m_window->display(2)->text(), QStringLiteral("1.5"));
    QCOMPARE(m_window->display(8)->text(), QStringLiteral("0MA10)"));
    QCOMPARE(m_window->display(12)->text(), QStringLiteral("-100"));
    QCOMPARE(m_window->display(32)->text(), QStringLiteral("上限"));
    QCOMPARE(m_window->display(37)->text(), QStringLiteral("19200"));

    // A code outside the list leaves the previous text.
    image[32] = 6;
    image[37] = 3;
    m_window->refresh();
    QCOMPARE(m_window->display(32)->text(), QStringLiteral("上限"));
    QCOMPARE(m_window->display(37)->text(), QStringLiteral("19200"));

    // What the operator is typing stays, and so does the focus.
    auto *box = control<QLineEdit>("T_3RW_10");
    focus(box);
    QTest::keyClicks(box, "77");
    auto *combo = control<QComboBox>("Combo3");
    image[10] = 5000;
    m_window->refresh();
    QCOMPARE(box->text(), QStringLiteral("77"));
    QVERIFY(box->hasFocus());
    QCOMPARE(combo->currentText(), QStringLiteral("0:0V5"));
    QCOMPARE(m_window->display(10)->text(), QStringLiteral("5000"));
    QVERIFY(m_link->calls.isEmpty());
}

void TestConfigWindow::comboPickWritesCode()
{
    openWindow();
    auto *combo = control<QComboBox>("Combo8");
    focus(combo);

    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    list->setCurrentIndex(combo->model()->index(2, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(combo->currentText(), QStringLiteral("2:19200BPS "));
    QTRY_VERIFY(combo->hasFocus());

    // Opening the drop-down list again is not leaving the box.
    combo->showPopup();
    QTRY_VERIFY(list->isVisible());
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(!list->isVisible());
    QVERIFY2(m_link->writes().isEmpty(), qPrintable(describeAll(m_link->writes())));

    QTRY_VERIFY(combo->hasFocus());
    leave(combo);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>{writeCall(4134, 2)}));
    QCOMPARE(combo->currentText(), QStringLiteral("2"));
}

void TestConfigWindow::comboTextMatchingNoEntryWritesNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<LinkCall>>("writes");
    QTest::addColumn<QString>("left");
    QTest::newRow("whole entry") << "1:9600BPS " << QList<LinkCall>{writeCall(4134, 1)} << "1";
    QTest::newRow("bare code") << "1" << QList<LinkCall>{} << "1";
    QTest::newRow("display text") << "9600" << QList<LinkCall>{} << "9600";
    QTest::newRow("entry without its blank") << "1:9600BPS" << QList<LinkCall>{} << "1:9600BPS";
    QTest::newRow("emptied") << "" << QList<LinkCall>{} << "";
}

void TestConfigWindow::comboTextMatchingNoEntryWritesNothing()
{
    QFETCH(QString, typed);
    QFETCH(QList<LinkCall>, writes);
    QFETCH(QString, left);
    openWindow();
    auto *combo = control<QComboBox>("Combo8");
    focus(combo);
    QTest::keyClick(combo, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(combo, Qt::Key_Delete);
    QTest::keyClicks(combo, typed);
    QCOMPARE(combo->currentText(), typed);
    leave(combo);
    QCOMPARE(describeAll(m_link->writes()), describeAll(writes));
    QCOMPARE(combo->currentText(), left);
}

void TestConfigWindow::textBoxWrites_data()
{
    QTest::addColumn<int>("element");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::newRow("filter 1.5") << 2 << "1.5" << 4099 << 15;
    QTest::newRow("filter 2.5") << 2 << "2.5" << 4099 << 25;
    QTest::newRow("shift -100") << 12 << "-100" << 4109 << -100;
    QTest::newRow("address beyond its hint") << 36 << "600" << 4133 << 600;
    QTest::newRow("letters after the number") << 10 << "12abc" << 4107 << 12;
    QTest::newRow("blank inside") << 47 << "1 2" << 4144 << 12;
    QTest::newRow("exponent") << 24 << "1e3" << 4121 << 1000;
}

void TestConfigWindow::textBoxWrites()
{
    QFETCH(int, element);
    QFETCH(QString, typed);
    QFETCH(int, reg);
    QFETCH(int, value);
    openWindow();
    auto *box = control<QLineEdit>(QStringLiteral("T_3RW_%1").arg(element));
    focus(box);
    QTest::keyClicks(box, typed);
    QVERIFY(m_link->writes().isEmpty());
    leave(box);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>{writeCall(reg, value)}));
    QCOMPARE(box->text(), typed);
}

void TestConfigWindow::filterWriteReadsBack()
{
    openWindow();
    station::Poller poller;
    poller.setYield([] {});
    auto *box = control<QLineEdit>("T_3RW_2");
    focus(box);
    QTest::keyClicks(box, "1.5");
    leave(box);
    QCOMPARE(m_link->holding.value(4099), 15);
    poller.runCycle();
    QCOMPARE(station::registerImage().paramImage[2], 15.0f);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->display(2)->text(), QStringLiteral("1.5"), 3000);
}

void TestConfigWindow::writeOnlyAfterAChange()
{
    openWindow();
    auto *box = control<QLineEdit>("T_3RW_39");
    focus(box);
    QTest::keyClicks(box, "5");
    leave(box);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>{writeCall(4136, 5)}));

    // Passing through again after the write sends nothing more.
    m_link->clear();
    focus(box);
    leave(box);
    QVERIFY(m_link->writes().isEmpty());

    // Typing the same number again is a change: the operator may mean to
    // restore a value changed elsewhere.
    focus(box);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, "5");
    leave(box);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>{writeCall(4136, 5)}));

    // A number that fits no 32-bit integer is not written, and the box keeps it.
    m_link->clear();
    focus(box);
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClicks(box, "0000000000");
    leave(box);
    QVERIFY(m_link->writes().isEmpty());
    QCOMPARE(box->text(), QStringLiteral("50000000000"));

    // Picking the entry the combo box already shows still writes it.
    auto *combo = control<QComboBox>("Combo9");
    focus(combo);
    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_Up);
    QCOMPARE(combo->currentText(), QStringLiteral("0:无校验 "));
    leave(combo);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>{writeCall(4135, 0)}));
    QCOMPARE(combo->currentText(), QStringLiteral("0"));
}

void TestConfigWindow::retryOnlyOnWriteFailure_data()
{
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<int>("calls");
    QTest::newRow("-8888 once") << QList<int>{-8888} << 2;
    QTest::newRow("-8888 twice") << QList<int>{-8888, -8888} << 2;
    QTest::newRow("success") << QList<int>{0} << 1;
    QTest::newRow("other failure") << QList<int>{-1} << 1;
    QTest::newRow("8888") << QList<int>{8888} << 1;
}

void TestConfigWindow::retryOnlyOnWriteFailure()
{
    QFETCH(QList<int>, results);
    QFETCH(int, calls);
    openWindow();
    m_link->writeResults.assign(results.cbegin(), results.cend());

    auto *box = control<QLineEdit>("T_3RW_12");
    focus(box);
    QTest::keyClicks(box, "-100");
    leave(box);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>(calls, writeCall(4109, -100))));

    m_link->clear();
    m_link->writeResults.assign(results.cbegin(), results.cend());
    auto *combo = control<QComboBox>("Combo10");
    focus(combo);
    QTest::keyClick(combo, Qt::Key_Down);
    leave(combo);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>(calls, writeCall(4106, 1))));
}

void TestConfigWindow::tabbingWritesNothing()
{
    openWindow();
    QTabWidget *tabs = m_window->tabs();
    int visited = 0;
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        QList<QWidget *> entries;
        for (const config::Parameter &p : config::parameters())
            if (m_window->entry(p.element())->parentWidget() == tabs->widget(page))
                entries.append(m_window->entry(p.element()));
        QVERIFY(!entries.isEmpty());
        focus(entries.first());
        // The Tab key walks the rows top to bottom.
        for (int k = 0; k < entries.size(); ++k) {
            QCOMPARE(QApplication::focusWidget(), entries[k]);
            leave(entries[k]);
            ++visited;
        }
    }
    QCOMPARE(visited, 38);
    QVERIFY2(m_link->calls.isEmpty(), qPrintable(describeAll(m_link->calls)));
}

void TestConfigWindow::closeBoxRefused()
{
    openWindow();
    QVERIFY(!m_window->close());
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->windowHandle());
    QVERIFY(!m_window->windowHandle()->close());
    QVERIFY(m_window->isVisible());
    // Esc is not bound to the return button.
    QTest::keyClick(m_window, Qt::Key_Escape);
    QTest::keyClick(m_window->entry(8), Qt::Key_Escape);
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isCloseAllowed());
}

void TestConfigWindow::returnShowsMainWindow()
{
    QWidget mainWindow;
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);

    m_window = station::openConfigWindow(&mainWindow);
    QVERIFY(m_window);
    QVERIFY(!mainWindow.isVisible());
    QVERIFY(m_window->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QSignalSpy returned(m_window.data(), &ConfigWindow::returned);

    // A change still pending when the operator returns is written as the
    // button takes the focus.
    auto *box = control<QLineEdit>("T_3RW_11");
    focus(box);
    QTest::keyClicks(box, "-5");
    QTest::mouseClick(m_window->returnButton(), Qt::LeftButton);
    QCOMPARE(describeAll(m_link->writes()), describeAll(QList<LinkCall>{writeCall(4108, -5)}));

    QCOMPARE(returned.count(), 1);
    QTRY_VERIFY(mainWindow.isVisible());
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(lastClosed.count(), 0);

    // The next opening starts afresh.
    m_window = station::openConfigWindow(&mainWindow);
    QVERIFY(!mainWindow.isVisible());
    QCOMPARE(control<QLineEdit>("T_3RW_11")->text(), QString());
    QCOMPARE(m_window->tabs()->currentIndex(), ConfigWindow::kOpeningPage);
    m_window->returnButton()->click();
    QTRY_VERIFY(m_window.isNull());
    QVERIFY(mainWindow.isVisible());
}

STATION_TEST_MAIN(TestConfigWindow)
#include "tst_configwindow.moc"
