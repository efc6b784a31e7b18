// The first show of each window on the screen it opens on. CTest runs this
// binary once per screen size (the offscreen platform reads the screen from a
// configuration file): 1920x1080, 1366x768 and 1280x800.
//   - On 1920x1080 the main window shows its whole content: no scroll bar.
//   - On a screen too small for it, the main window is scaled as a whole: the
//     connection group, the link indicator, "打开" and "退出" are on the
//     screen without scrolling, the text no smaller than kMinScale allows.
//   - On every size, the configuration window and the program editor open with
//     their whole frame, and so their return button, inside the screen.
//   - Every window carries the station's icon.
#include "app/mainwindow.h"
#include "app/station.h"

#include "common/windowfit.h"
#include "config/configwindow.h"
#include "program/ui/programeditor.h"

#include "link/registerimage.h"
#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

using namespace station;

namespace {

QRect globalRect(const QWidget *w)
{
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

} // namespace

class TestWindowFit : public QObject {
    Q_OBJECT

    std::unique_ptr<Station> m_station;
    std::unique_ptr<test::FakeLink> m_fake;

    MainWindow *main() const { return m_station->mainWindow(); }
    QRect available() const { return QGuiApplication::primaryScreen()->availableGeometry(); }

    void checkInside(QWidget *window)
    {
        QTRY_VERIFY(window->isVisible());
        QVERIFY2(available().contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("frame %1,%2 %3x%4 on a %5x%6 screen")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())
                                .arg(available().width())
                                .arg(available().height())));
        auto *back = window->findChild<QPushButton *>(QStringLiteral("Command11"));
        QVERIFY(back);
        QVERIFY(back->isVisible());
        QVERIFY(available().contains(globalRect(back)));
        // Nothing covers it: the button is what the window shows at its centre.
        QCOMPARE(window->childAt(back->mapTo(window, back->rect().center())), back);
        // The station's icon in the title bar and the task bar.
        QVERIFY(!window->windowIcon().pixmap(32, 32).isNull());
    }

private slots:
    void initTestCase()
    {
        qInfo("screen %dx%d, available %dx%d", QGuiApplication::primaryScreen()->size().width(),
              QGuiApplication::primaryScreen()->size().height(), available().width(), available().height());
        linkSettings() = LinkSettings{};
        m_fake = std::make_unique<test::FakeLink>();
        m_station = std::make_unique<Station>();
        QSignalSpy started(m_station.get(), &Station::started);
        m_station->start();
        QVERIFY(started.wait(10000));
        QTRY_VERIFY(main()->isVisible());
    }

    void cleanupTestCase()
    {
        m_station.reset();
        m_fake.reset();
    }

    void mainWindowShowsItsContent()
    {
        QVERIFY(!main()->windowIcon().pixmap(32, 32).isNull());
        auto *area = main()->findChild<QScrollArea *>();
        QVERIFY(area && area->widget());
        const QSize content = area->widget()->sizeHint();
        const QRect room = available();
        if (room.width() >= 1920 && room.height() >= 1080) {
            QVERIFY(!main()->isMaximized());
            QVERIFY(!area->horizontalScrollBar()->isVisible());
            QVERIFY(!area->verticalScrollBar()->isVisible());
            QVERIFY(area->viewport()->width() >= content.width());
            QVERIFY(area->viewport()->height() >= content.height());
            QVERIFY(room.contains(main()->frameGeometry()));
        } else {
            // Content of about 1500 x 925 px at full size: scaled to fit, the
            // text at least kMinScale of the application's.
            QVERIFY(main()->font().pointSizeF() >= kMinScale * QApplication::font().pointSizeF());
            QVERIFY(main()->font().pointSizeF() < QApplication::font().pointSizeF());
        }
        // Where the operator looks first, on every screen: in sight as the
        // window opens, without scrolling.
        QTRY_VERIFY(main()->isActiveWindow() || main()->isVisible());
        const QRect viewport = globalRect(area->viewport());
        for (const char *name : {"Frame_Port", "Frame_Parity", "Command9", "LinkState", "Command1"}) {
            auto *w = main()->findChild<QWidget *>(QLatin1String(name));
            QVERIFY2(w && w->isVisible(), name);
            QVERIFY2(room.contains(globalRect(w)), name);
            QVERIFY2(viewport.contains(globalRect(w)), name);
        }
    }

    void programEditorFits()
    {
        auto *curve = main()->findChild<QPushButton *>(QStringLiteral("Command11"));
        QVERIFY(curve);
        curve->click();
        QPointer<QWidget> editor;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("Tech"))
                editor = w;
        QVERIFY(editor);
        checkInside(editor);
        editor->findChild<QPushButton *>(QStringLiteral("Command11"))->click();
        QTRY_VERIFY(main()->isVisible());
    }

    void configWindowFits()
    {
        QPointer<ConfigWindow> window = openConfigWindow(main());
        checkInside(window);
        // Every page shows all its rows: the tab widget has the room its pages ask for.
        for (int i = 0; i < window->tabs()->count(); ++i) {
            const QWidget *page = window->tabs()->widget(i);
            QVERIFY(page->minimumSizeHint().height() <= window->tabs()->currentWidget()->height());
        }
        window->returnButton()->click();
        QTRY_VERIFY(main()->isVisible());
    }
};

STATION_TEST_MAIN(TestWindowFit)
#include "tst_windowfit.moc"
