// Renders the main window as the demo starts (scripts/demo.sh): five minutes of
// the simulated controller's history recorded by its model, the live image the
// poller reads from that controller after "打开", and the Y range the demo
// enters (app/demo.h). It runs on a 1920 x 1080 offscreen screen, opens the window as
// the station does and checks that it needs no scrolling there, then saves a
// PNG for the README.
//
// Re-baseline the README picture:
//   ctest --test-dir build-test -R shot_mainwindow && cp build-test/tests/app/mainwindow.png docs/
#include "app/functionpanel.h"
#include "app/demo.h"
#include "app/mainwindow.h"

#include "chart/draw/picturebox.h"
#include "chart/trendchart.h"
#include "link/registerimage.h"
#include "record/sampledb.h"
#include "sim/controllermodel.h"
#include "sim/registerbank.h"
#include "sim/registermap.h"
#include "sim/seedhistory.h"

#include "common/windowfit.h"
#include "tests/support/testenv.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

using namespace station;

namespace {

constexpr int kDemoHistorySeconds = 300;

// What one polling cycle reads from the simulated controller.
void pollOnce(const sim::RegisterBank &bank)
{
    RegisterImage &img = registerImage();
    for (std::size_t i = 0; i < img.inputWords.size(); ++i)
        img.inputWords[i] = bank.input(reg::kInputFirst + int(i));
    img.liveSample = sim::liveSampleOf(bank);
    for (std::size_t i = 0; i < img.programStatus.size(); ++i)
        img.programStatus[i] = bank.input(reg::kProgramStatusFirst + int(i));
    for (std::size_t i = 0; i < img.holdingWords.size(); ++i) {
        img.holdingWords[i] = bank.holding(reg::kHoldingFirst + int(i));
        img.holdingFloat[i] = float(img.holdingWords[i]);
    }
    for (std::size_t i = 0; i < img.paramImage.size(); ++i)
        img.paramImage[i] = bank.holding(reg::kParamFirst + int(i));
    for (std::size_t i = 0; i < img.alarmWords.size(); ++i)
        img.alarmWords[i] = bank.holding(reg::kAlarmFirst + int(i));
    for (std::size_t i = 0; i < img.discreteBits.size(); ++i)
        img.discreteBits[i] = bank.discrete(reg::kPointFirst + int(i)) ? 1 : 0;
}

} // namespace

class ShotMainWindow : public QObject {
    Q_OBJECT

private slots:
    void screenshot()
    {
        // The demo controller: its power-on memory, the program started, five
        // minutes of its history in the database.
        sim::RegisterBank bank;
        sim::ControllerModel model(bank);
        model.installDefaults();
        bank.applyWrite(sim::reg::kRunCommand, std::int16_t(sim::RunCommand::Run));
        QCOMPARE(sim::seedHistory(model, bank, sampledb::defaultPath(), kDemoHistorySeconds,
                                  QDateTime::currentDateTime()),
                 kDemoHistorySeconds);
        pollOnce(bank);

        MainWindow w;
        showFitted(&w);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Timer 1 refreshes the panel from the image.
        QTRY_VERIFY(w.findChild<QLabel *>("D_3W_0")->text() != QLatin1String("0"));
        demo::showSimulatedRange(w);
        // The left scale follows the new range at once.
        QTRY_VERIFY([&w] {
            for (QLabel *l : w.findChildren<QLabel *>())
                if (l->objectName().startsWith(QLatin1String("Label5_")) && l->text() == QLatin1String("800"))
                    return true;
            return false;
        }());

        auto *scroll = w.findChild<QScrollArea *>();
        QVERIFY(scroll);
        QVERIFY(!w.isMaximized());
        QVERIFY2(!scroll->horizontalScrollBar()->isVisible(), "the window needs a horizontal scroll bar at 1920");
        QVERIFY2(!scroll->verticalScrollBar()->isVisible(), "the window needs a vertical scroll bar at 1080");
        w.trendChart()->repaintChart(); // timer 2's work, with the new range
        // The simulated controller's curves are on the plot: PV1's red pen.
        draw::PictureBox *plot = w.trendChart()->plot();
        plot->flush();
        const QImage picture = plot->picture().toImage();
        int red = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                red += picture.pixelColor(x, y) == QColor(255, 0, 0) ? 1 : 0;
        QVERIFY2(red > picture.width() / 4, qPrintable(QString::number(red)));
        const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("mainwindow.png");
        QVERIFY(w.grab().save(path));
        qInfo() << "saved" << path;
    }
};

STATION_TEST_MAIN(ShotMainWindow)
#include "shot_mainwindow.moc"
