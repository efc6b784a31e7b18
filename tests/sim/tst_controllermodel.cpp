// The controller model stepped by hand on a register bank of its own: the
// station's writes are played with applyWrite(), time passes only in step().
#include "sim/controllermodel.h"
#include "sim/registermap.h"

#include "tests/support/testenv.h"

#include <QtTest>

#include <cmath>

using namespace station::sim;

namespace {
constexpr double kFrozen = 1e12;  // a time constant that keeps PV where a test puts it
}

class TestControllerModel : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RegisterBank> bank_;
    std::unique_ptr<ControllerModel> model_;

    std::int16_t in(int reg) const { return bank_->input(reg); }
    RunState state() const { return static_cast<RunState>(bank_->input(reg::kRunState)); }

    // A two-segment program in seconds: loop 1 from SV 200 to 300 in 10 s,
    // then to 400 in 20 s; loop 2 to 500, then 600.
    void twoSegmentProgram()
    {
        bank_->setHolding(reg::kSv1, 200);
        bank_->setHolding(reg::kSv2, 450);
        bank_->setHolding(reg::kTimeUnit, 2);
        bank_->setHolding(reg::kSegmentCount, 1);
        bank_->setHolding(reg::kCycleCount, 1);
        bank_->setHolding(reg::kStartFrom, 1);
        bank_->setHolding(reg::segmentSv1(1), 300);
        bank_->setHolding(reg::segmentSv2(1), 500);
        bank_->setHolding(reg::segmentTime(1), 10);
        bank_->setHolding(reg::segmentSv1(2), 400);
        bank_->setHolding(reg::segmentSv2(2), 600);
        bank_->setHolding(reg::segmentTime(2), 20);
    }

    void command(RunCommand c) { bank_->applyWrite(reg::kRunCommand, static_cast<std::int16_t>(c)); }

private slots:
    void init()
    {
        bank_ = std::make_unique<RegisterBank>();
        model_ = std::make_unique<ControllerModel>(*bank_);
        model_->installDefaults();
        model_->setNoise(0);
    }

    void defaultsDescribeAQuietWorkingController()
    {
        model_ = std::make_unique<ControllerModel>(*bank_, 7);
        model_->installDefaults(5);
        QCOMPARE(bank_->holding(reg::kAddress), std::int16_t(5));
        QCOMPARE(bank_->holding(reg::kDigitalFilter), std::int16_t(10));
        QCOMPARE(bank_->holding(reg::kInput1High), std::int16_t(5000));
        QCOMPARE(bank_->holding(reg::kBaudCode), std::int16_t(1));
        QVERIFY(bank_->holding(reg::kProgramEnable) != 0);
        // Ten minutes with noise: both loops near their SV and no alarm.
        for (int i = 0; i < 6000; ++i)
            model_->step(0.1);
        QVERIFY2(std::abs(in(reg::kPv1) - bank_->holding(reg::kSv1)) <= 5, qPrintable(QString::number(in(reg::kPv1))));
        QVERIFY2(std::abs(in(reg::kPv2) - bank_->holding(reg::kSv2)) <= 5, qPrintable(QString::number(in(reg::kPv2))));
        QVERIFY(!bank_->discrete(reg::kAlarm1));
        QVERIFY(!bank_->discrete(reg::kAlarm2));
        QCOMPARE(in(reg::kAlarmKind1), std::int16_t(0));
        QCOMPARE(state(), RunState::Stopped);
    }

    void theDefaultProgramRunsToItsEnd()
    {
        command(RunCommand::Run);
        model_->step(0.1);
        QCOMPARE(state(), RunState::Running);
        const int total = in(reg::kStatusTotalLeft);  // minutes
        QVERIFY(total > 0);
        for (int minute = 0; minute < total; ++minute)
            model_->step(60.0);
        QCOMPARE(state(), RunState::Ended);
        QCOMPARE(in(reg::kStatusTotalLeft), std::int16_t(0));
    }

    void pvSettlesOnTheSetValue()
    {
        bank_->setHolding(reg::kSv1, 500);
        model_->setPv(1, 200);
        model_->step(1.0);
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(500));
        QVERIFY(in(reg::kPv1) > 200 && in(reg::kPv1) < 500);
        QVERIFY(bank_->discrete(reg::kOutput1));  // heating below SV
        for (int i = 0; i < 600; ++i)
            model_->step(1.0);
        QVERIFY(std::abs(in(reg::kPv1) - 500) <= 1);
        QCOMPARE(in(reg::kStatusPv1), in(reg::kPv1));
        QCOMPARE(in(reg::kStatusSv1), std::int16_t(500));

        // Above SV the output switches off.
        bank_->setHolding(reg::kSv1, 300);
        model_->step(1.0);
        QVERIFY(!bank_->discrete(reg::kOutput1));
    }

    void outputsSwitchWithHysteresis()
    {
        model_->setTimeConstant(kFrozen);
        bank_->setHolding(reg::kSv2, 600);
        bank_->setHolding(reg::kOutput2Hysteresis, 5);
        const struct { double pv; bool on; } path[] = {
            {590, true}, {597, true}, {600, false}, {597, false}, {595, false}, {594, true},
        };
        for (const auto &p : path) {
            model_->setPv(2, p.pv);
            model_->step(0.1);
            QVERIFY2(bank_->discrete(reg::kOutput2) == p.on, qPrintable(QString::number(p.pv)));
        }
    }

    void retransmissionFollowsPv_data()
    {
        QTest::addColumn<double>("pv");
        QTest::addColumn<int>("tenthsOfPercent");
        // Retransmission 1 spans 0..500 of loop 1.
        QTest::newRow("bottom") << 0.0 << 0;
        QTest::newRow("middle") << 250.0 << 500;
        QTest::newRow("a tenth") << 50.0 << 100;
        QTest::newRow("above the span") << 600.0 << 1000;
        QTest::newRow("below the span") << -50.0 << 0;
    }

    void retransmissionFollowsPv()
    {
        QFETCH(double, pv);
        QFETCH(int, tenthsOfPercent);
        model_->setTimeConstant(kFrozen);
        model_->setPv(1, pv);
        model_->step(0.1);
        QCOMPARE(int(in(reg::kRetransmission1)), tenthsOfPercent);
    }

    void negativeValuesReachTheRegisters()
    {
        model_->setTimeConstant(kFrozen);
        model_->setPv(1, -123.4);
        model_->step(0.1);
        QCOMPARE(in(reg::kPv1), std::int16_t(-123));
    }

    void alarmTripsPastItsSetValue_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("pv");
        QTest::addColumn<bool>("tripped");
        // Loop 1 at SV 250, alarm value 30 (deviations) or 300 (limits).
        QTest::newRow("high limit below") << 1 << 300.0 << false;
        QTest::newRow("high limit above") << 1 << 301.0 << true;
        QTest::newRow("low limit above") << 2 << 301.0 << false;
        QTest::newRow("low limit below") << 2 << 299.0 << true;
        QTest::newRow("high deviation inside") << 3 << 280.0 << false;
        QTest::newRow("high deviation outside") << 3 << 281.0 << true;
        QTest::newRow("low deviation inside") << 4 << 220.0 << false;
        QTest::newRow("low deviation outside") << 4 << 219.0 << true;
        QTest::newRow("band inside") << 5 << 221.0 << false;
        QTest::newRow("band outside below") << 5 << 219.0 << true;
        QTest::newRow("band outside above") << 5 << 281.0 << true;
        QTest::newRow("disabled") << 0 << 1000.0 << false;
    }

    void alarmTripsPastItsSetValue()
    {
        QFETCH(int, mode);
        QFETCH(double, pv);
        QFETCH(bool, tripped);
        model_->setTimeConstant(kFrozen);
        bank_->setHolding(reg::kSv1, 250);
        bank_->setHolding(reg::kAlarm1Mode, static_cast<std::int16_t>(mode));
        bank_->setHolding(reg::kAlarm1Value, mode == 1 || mode == 2 ? 300 : 30);
        model_->setPv(1, pv);
        model_->step(0.1);
        QCOMPARE(bank_->discrete(reg::kAlarm1), tripped);
        QCOMPARE(int(in(reg::kAlarmKind1)), tripped ? mode : 0);
        QVERIFY(!bank_->discrete(reg::kAlarm2));
    }

    void alarmClearsBelowItsHysteresis()
    {
        model_->setTimeConstant(kFrozen);
        bank_->setHolding(reg::kAlarm2Value, 800);
        bank_->setHolding(reg::kAlarm2Hysteresis, 5);
        // Alarm 2 watches loop 2 by default; loop 1 is far above its own alarm.
        model_->setPv(1, 0);
        const struct { double pv; bool on; } path[] = {
            {800, false}, {801, true}, {796, true}, {795, false}, {799, false}, {850, true},
        };
        for (const auto &p : path) {
            model_->setPv(2, p.pv);
            model_->step(0.1);
            QVERIFY2(bank_->discrete(reg::kAlarm2) == p.on, qPrintable(QString::number(p.pv)));
            QCOMPARE(int(in(reg::kAlarmKind2)), p.on ? 1 : 0);
            QVERIFY(!bank_->discrete(reg::kAlarm1));
        }
    }

    void alarmWaitsForItsDelay()
    {
        model_->setTimeConstant(kFrozen);
        bank_->setHolding(reg::kAlarm1Value, 300);
        bank_->setHolding(reg::kAlarm1Delay, 5);
        model_->setPv(1, 310);
        for (int s = 1; s < 5; ++s) {
            model_->step(1.0);
            QVERIFY2(!bank_->discrete(reg::kAlarm1), qPrintable(QString::number(s)));
        }
        model_->step(1.0);
        QVERIFY(bank_->discrete(reg::kAlarm1));
        // A dip below the value restarts the delay.
        model_->setPv(1, 290);
        model_->step(1.0);
        QVERIFY(!bank_->discrete(reg::kAlarm1));
        model_->setPv(1, 310);
        model_->step(4.0);
        QVERIFY(!bank_->discrete(reg::kAlarm1));
    }

    void aTwoSegmentProgramRunsAndEnds()
    {
        twoSegmentProgram();
        model_->step(0.1);
        QCOMPARE(state(), RunState::Stopped);
        QCOMPARE(in(reg::kStatusSegment), std::int16_t(0));

        command(RunCommand::Run);
        model_->step(0.0);
        QCOMPARE(state(), RunState::Running);
        QCOMPARE(in(reg::kStatusSegment), std::int16_t(1));
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(200));  // ramps from the set value
        QCOMPARE(in(reg::kStatusSegmentLeft), std::int16_t(10));
        QCOMPARE(in(reg::kStatusTotalLeft), std::int16_t(30));

        model_->step(5.0);
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(250));  // half-way up the ramp
        QCOMPARE(in(reg::kSvInEffect2), std::int16_t(475));
        QCOMPARE(in(reg::kStatusSv1), std::int16_t(250));
        QCOMPARE(in(reg::kStatusSegmentLeft), std::int16_t(5));
        QCOMPARE(in(reg::kStatusTotalLeft), std::int16_t(25));

        model_->step(5.0);
        QCOMPARE(in(reg::kStatusSegment), std::int16_t(2));
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(300));
        QCOMPARE(in(reg::kStatusSegmentLeft), std::int16_t(20));

        model_->step(10.0);
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(350));
        QCOMPARE(in(reg::kSvInEffect2), std::int16_t(550));
        QCOMPARE(in(reg::kStatusTotalLeft), std::int16_t(10));

        model_->step(10.5);
        QCOMPARE(state(), RunState::Ended);
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(400));  // keeps the last SV
        QCOMPARE(in(reg::kSvInEffect2), std::int16_t(600));
        QCOMPARE(in(reg::kStatusCycles), std::int16_t(1));
        QCOMPARE(in(reg::kStatusSegmentLeft), std::int16_t(0));
        QCOMPARE(in(reg::kStatusTotalLeft), std::int16_t(0));
    }

    void oneLongStepCrossesSegments()
    {
        twoSegmentProgram();
        command(RunCommand::Run);
        model_->step(25.0);
        QCOMPARE(state(), RunState::Running);
        QCOMPARE(in(reg::kStatusSegment), std::int16_t(2));
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(375));
    }

    void pauseFreezesAndRunResumes()
    {
        twoSegmentProgram();
        command(RunCommand::Run);
        model_->step(4.0);
        command(RunCommand::Pause);
        model_->step(100.0);
        QCOMPARE(state(), RunState::Paused);
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(240));
        QCOMPARE(in(reg::kStatusSegmentLeft), std::int16_t(6));
        command(RunCommand::Run);
        model_->step(6.0);
        QCOMPARE(state(), RunState::Running);
        QCOMPARE(in(reg::kStatusSegment), std::int16_t(2));
    }

    void stopReturnsToTheFixedSetValue()
    {
        twoSegmentProgram();
        command(RunCommand::Run);
        model_->step(15.0);
        command(RunCommand::Stop);
        model_->step(0.1);
        QCOMPARE(state(), RunState::Stopped);
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(200));
        QCOMPARE(in(reg::kStatusSegment), std::int16_t(0));
        QCOMPARE(in(reg::kStatusTotalLeft), std::int16_t(0));
    }

    void endStopsTheProgramAndTheSameRunCommandRestartsIt()
    {
        twoSegmentProgram();
        command(RunCommand::Run);
        model_->step(3.0);
        command(RunCommand::End);
        model_->step(0.1);
        QCOMPARE(state(), RunState::Ended);
        // The register still holds 1 from the first run: a second write of 1
        // is a new command all the same.
        command(RunCommand::Run);
        model_->step(0.0);
        QCOMPARE(state(), RunState::Running);
        QCOMPARE(in(reg::kStatusSegmentLeft), std::int16_t(10));
    }

    void valuesSetWithoutAWriteAreNoCommand()
    {
        twoSegmentProgram();
        bank_->setHolding(reg::kRunCommand, 1);
        model_->step(1.0);
        QCOMPARE(state(), RunState::Stopped);
    }

    void runIsRefusedWhileTheProgramIsDisabled()
    {
        twoSegmentProgram();
        bank_->setHolding(reg::kProgramEnable, 0);
        command(RunCommand::Run);
        model_->step(1.0);
        QCOMPARE(state(), RunState::Stopped);
    }

    void cyclesRepeatTheProgram()
    {
        twoSegmentProgram();
        bank_->setHolding(reg::kCycleCount, 2);
        command(RunCommand::Run);
        model_->step(0.0);
        QCOMPARE(in(reg::kStatusTotalLeft), std::int16_t(60));
        model_->step(31.0);
        QCOMPARE(state(), RunState::Running);
        QCOMPARE(in(reg::kStatusCycles), std::int16_t(1));
        QCOMPARE(in(reg::kStatusSegment), std::int16_t(1));
        // The second pass ramps from where the first ended.
        QCOMPARE(in(reg::kSvInEffect1), std::int16_t(390));
        model_->step(30.0);
        QCOMPARE(state(), RunState::Ended);
        QCOMPARE(in(reg::kStatusCycles), std::int16_t(2));
    }

    void remainingTimeIsInTheProgramsUnit_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<int>("segmentLeft");
        // Segment 1 lasts 10 units; what is left is rounded up.
        QTest::newRow("hours, at the start") << 0 << 0.0 << 10;
        QTest::newRow("hours, 1.5 h in") << 0 << 5400.0 << 9;
        QTest::newRow("minutes, 30 s in") << 1 << 30.0 << 10;
        QTest::newRow("minutes, 9.5 min in") << 1 << 570.0 << 1;
        QTest::newRow("seconds, 2.5 s in") << 2 << 2.5 << 8;
    }

    void remainingTimeIsInTheProgramsUnit()
    {
        QFETCH(int, unit);
        QFETCH(double, elapsed);
        QFETCH(int, segmentLeft);
        twoSegmentProgram();
        bank_->setHolding(reg::kTimeUnit, static_cast<std::int16_t>(unit));
        command(RunCommand::Run);
        model_->step(elapsed);
        QCOMPARE(state(), RunState::Running);
        QCOMPARE(int(in(reg::kStatusSegmentLeft)), segmentLeft);
    }

    void zeroLengthSegmentsDoNotHangTheModel()
    {
        twoSegmentProgram();
        bank_->setHolding(reg::segmentTime(1), 0);
        bank_->setHolding(reg::segmentTime(2), 0);
        bank_->setHolding(reg::kCycleCount, 0);  // unlimited
        command(RunCommand::Run);
        model_->step(1.0);  // returns
        QCOMPARE(state(), RunState::Running);
        QVERIFY(in(reg::kSvInEffect1) == 300 || in(reg::kSvInEffect1) == 400);
    }

    void endWithOutputsOffLetsTheLoopsCool()
    {
        twoSegmentProgram();
        bank_->setHolding(reg::kEndOutput, 0);
        model_->setTimeConstant(5.0);  // PV follows the ramp closely
        model_->setPv(1, 200);
        command(RunCommand::Run);
        for (int i = 0; i < 31; ++i)
            model_->step(1.0);
        QCOMPARE(state(), RunState::Ended);
        const int atEnd = in(reg::kPv1);
        for (int i = 0; i < 300; ++i)
            model_->step(1.0);
        QVERIFY(!bank_->discrete(reg::kOutput1));
        QVERIFY(!bank_->discrete(reg::kOutput2));
        QVERIFY2(atEnd > 300, qPrintable(QString::number(atEnd)));
        QVERIFY2(in(reg::kPv1) < 210, qPrintable(QString::number(in(reg::kPv1))));
    }
};

STATION_TEST_MAIN_CORE(TestControllerModel)
#include "tst_controllermodel.moc"
