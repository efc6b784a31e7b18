// Run status words and the read-back labels with their decoded options.
#include "program/runstatus.h"

#include "tests/support/testenv.h"

#include <QtTest>

using namespace station::program;

class TestRunStatus : public QObject {
    Q_OBJECT

private slots:
    void runStateWords_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::newRow("stopped, two blanks") << 0 << "停止  ";
        QTest::newRow("running") << 1 << "运行";
        QTest::newRow("paused") << 2 << "暂停";
        QTest::newRow("ended") << 3 << "结束";
        QTest::newRow("4 keeps the number") << 4 << "4";
        QTest::newRow("7 keeps the number") << 7 << "7";
        QTest::newRow("negative") << -1 << "-1";
    }
    void runStateWords()
    {
        QFETCH(int, state);
        QFETCH(QString, text);
        QCOMPARE(runStateText(state), text);
    }

    void statusLabelsShowSlotsZeroToEight()
    {
        std::array<std::int32_t, 16> status{};
        for (int i = 0; i < 16; ++i)
            status[std::size_t(i)] = 100 + i;
        status[0] = 2;
        status[6] = -35;
        const auto texts = runStatusTexts(status);
        QCOMPARE(texts[0], QStringLiteral("暂停"));
        QCOMPARE(texts[1], QStringLiteral("101"));
        QCOMPARE(texts[6], QStringLiteral("-35"));
        QCOMPARE(texts[8], QStringLiteral("108"));
        status[0] = 7;
        QCOMPARE(runStatusTexts(status)[0], QStringLiteral("7"));
    }

    void readBackLabelsThatExist()
    {
        QList<int> missing;
        for (int j = 0; j < kReadBackLabels; ++j)
            if (!readBackLabelExists(j))
                missing.append(j);
        QCOMPARE(missing, (QList<int>{6, 7, 11, 15, 19, 23, 27, 31, 35, 39, 40}));
    }

    void slotsShownAsNumbers()
    {
        ProgramImage image{};
        for (int j = 0; j < kImageSlots; ++j)
            image[std::size_t(j)] = 1000 + j;
        image[38] = -12;
        const ReadBack rb = readBackTexts(image);
        for (int j = 0; j < kReadBackLabels; ++j)
            QCOMPARE(rb.labels[std::size_t(j)].has_value(), readBackLabelExists(j));
        QCOMPARE(*rb.labels[0], QStringLiteral("1000"));  // unknown time unit keeps its number
        QCOMPARE(*rb.labels[1], QStringLiteral("1001"));  // segment count is never decoded
        QCOMPARE(*rb.labels[8], QStringLiteral("1008"));
        QCOMPARE(*rb.labels[38], QStringLiteral("-12"));
        QVERIFY(!rb.timeAxisTitle);
    }

    void timeUnit_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("title");
        QTest::newRow("hours") << 0 << "H" << "时间单位：小时";
        QTest::newRow("minutes") << 1 << "M" << "时间单位：分钟";
        QTest::newRow("seconds") << 2 << "S" << "时间单位：秒";
        QTest::newRow("unknown") << 3 << "3" << QString();
    }
    void timeUnit()
    {
        QFETCH(int, unit);
        QFETCH(QString, label);
        QFETCH(QString, title);
        ProgramImage image{};
        image[0] = unit;
        const ReadBack rb = readBackTexts(image);
        QCOMPARE(*rb.labels[0], label);
        QCOMPARE(rb.timeAxisTitle.value_or(QString()), title);
    }

    void options_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("cycles 0 unlimited") << 2 << 0 << "无限";
        QTest::newRow("cycles 5") << 2 << 5 << "5";
        QTest::newRow("power 0") << 3 << 0 << "来电继续";
        QTest::newRow("power 1") << 3 << 1 << "来电停止";
        QTest::newRow("power 2") << 3 << 2 << "第一段运行";
        QTest::newRow("power 3") << 3 << 3 << "有偏差停";
        QTest::newRow("power 4, trailing blank") << 3 << 4 << "进入暂停 ";
        QTest::newRow("power 5") << 3 << 5 << "5";
        QTest::newRow("start 0") << 4 << 0 << "测量值";
        QTest::newRow("start 1") << 4 << 1 << "设定值";
        QTest::newRow("start 2") << 4 << 2 << "2";
        QTest::newRow("end 0") << 5 << 0 << "输出为零";
        QTest::newRow("end 1") << 5 << 1 << "最后SV控制";
        QTest::newRow("end -1") << 5 << -1 << "-1";
        QTest::newRow("segment count 0 not decoded") << 1 << 0 << "0";
    }
    void options()
    {
        QFETCH(int, slot);
        QFETCH(int, value);
        QFETCH(QString, text);
        ProgramImage image{};
        image.fill(77);
        image[std::size_t(slot)] = value;
        QCOMPARE(*readBackTexts(image).labels[std::size_t(slot)], text);
    }
};

STATION_TEST_MAIN_CORE(TestRunStatus)
#include "tst_runstatus.moc"
