// The program register block: option lists, entry numbers and registers, the
// number an entry writes, the segment tables, the block read and the write
// with retry.
#include "program/programregisters.h"

#include "link/registerimage.h"

#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QtTest>

using namespace station;
using namespace station::program;
using station::test::FakeLink;
using station::test::LinkCall;
using station::test::LinkOp;

class TestProgramRegisters : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        linkSettings() = LinkSettings{3, 1, 0, 7, 0};
    }

    void comboOptionsInFillOrder()
    {
        const auto &o = comboOptions();
        const QStringList controls{o[0].control, o[1].control, o[2].control, o[3].control, o[4].control};
        QCOMPARE(controls, (QStringList{"Combo2", "Combo4", "Combo1", "Combo8", "Combo3"}));
        QCOMPARE(o[0].reg, 8193);
        QCOMPARE(o[1].reg, 8194);
        QCOMPARE(o[2].reg, 8196);
        QCOMPARE(o[3].reg, 8197);
        QCOMPARE(o[4].reg, 8198);
        QCOMPARE(o[0].entries, (QStringList{"0:小时 ", "1:分钟 ", "2:秒 "}));
        QCOMPARE(o[1].entries, (QStringList{"1:1段 ", "2:2段 ", "3:3段 ", "4:4段 ", "5:5段 ", "6:6段 ", "7:7段 ",
                                            "8:8段 "}));
        QCOMPARE(o[2].entries, (QStringList{"0:来电继续 ", "1:来电停止 ", "2:来电从第一段运行 ",
                                            "3:无偏差继续运行，有偏差停 ", "4:来电进入暂停 "}));
        QCOMPARE(o[3].entries, (QStringList{"0:测量值 ", "1:设定值 "}));
        QCOMPARE(o[4].entries, (QStringList{"0:输出控制为0 ", "1:保持最后SV控制 "}));
        QCOMPARE(o[0].caption, QStringLiteral("曲线时间单位"));
        QCOMPARE(o[4].caption, QStringLiteral("结束输出功能"));
    }

    void optionNumberByExactText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("first entry is 0, not 1") << "1:1段 " << 0;
        QTest::newRow("third entry") << "3:3段 " << 2;
        QTest::newRow("last entry") << "8:8段 " << 7;
        QTest::newRow("trailing blank missing") << "3:3段" << -1;
        QTest::newRow("bare number shown after a write") << "2" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void optionNumberByExactText()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QCOMPARE(optionNumber(comboOptions()[1].entries, text), number);
    }

    void segmentEntriesAndRegisters_data()
    {
        QTest::addColumn<int>("segment");
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("reg");
        QTest::newRow("seg 1 SV1") << 1 << 0 << 0 << 8201;
        QTest::newRow("seg 1 SV2") << 1 << 1 << 1 << 8202;
        QTest::newRow("seg 1 TIME") << 1 << 2 << 2 << 8203;
        QTest::newRow("seg 2 SV1") << 2 << 0 << 4 << 8205;
        QTest::newRow("seg 5 SV2") << 5 << 1 << 17 << 8218;
        QTest::newRow("seg 8 SV1") << 8 << 0 << 28 << 8229;
        QTest::newRow("seg 8 TIME is entry 30") << 8 << 2 << 30 << 8231;
    }
    void segmentEntriesAndRegisters()
    {
        QFETCH(int, segment);
        QFETCH(int, field);
        QFETCH(int, entry);
        QFETCH(int, reg);
        QCOMPARE(segmentEntry(segment, SegmentField(field)), entry);
        QVERIFY(segmentEntryExists(entry));
        QCOMPARE(segmentEntryRegister(entry), reg);
        QCOMPARE(segmentEntrySlot(entry), 8 + entry);
    }

    void fourthRegisterHasNoEntry()
    {
        QList<int> missing;
        for (int i = -1; i <= 33; ++i)
            if (!segmentEntryExists(i))
                missing.append(i);
        QCOMPARE(missing, (QList<int>{-1, 3, 7, 11, 15, 19, 23, 27, 31, 32, 33}));
    }

    void cycleCountEntryRegister()
    {
        QCOMPARE(textEntryRegister(kCycleCountEntry), 8195);
        QCOMPARE(imageSlot(8195), 2);
        QCOMPARE(imageSlot(8240), 47);
    }

    void entryValueRoundsHalvesToEven_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("written");
        QTest::addColumn<int>("value");
        QTest::newRow("2.5") << "2.5" << true << 2;
        QTest::newRow("3.5") << "3.5" << true << 4;
        QTest::newRow("letters") << "abc" << true << 0;
        QTest::newRow("empty box") << "" << true << 0;
        QTest::newRow("leading blanks") << "  17" << true << 17;
        QTest::newRow("stops at a letter") << "12x4" << true << 12;
        QTest::newRow("negative") << "-0.5" << true << 0;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("rounds past 32 bits") << "2147483647.5" << false << 0;
        QTest::newRow("far too large") << "99999999999" << false << 0;
    }
    void entryValueRoundsHalvesToEven()
    {
        QFETCH(QString, text);
        QFETCH(bool, written);
        QFETCH(int, value);
        const auto v = entryValue(text);
        QCOMPARE(v.has_value(), written);
        if (written)
            QCOMPARE(*v, value);
    }

    void segmentTablesFromTexts()
    {
        QMap<int, QString> texts{{0, "100"}, {1, "50"}, {2, "10"}, {28, "9999"}, {29, "12.5"}, {30, "7"},
                                 {3, "555"}};
        SegmentTables t;
        t.sv1[0] = 33;  // start point: not touched
        t.sv1[9] = 44;  // beyond segment 8: not touched
        fillSegmentTables(t, [&](int entry) { return texts.value(entry); });
        QCOMPARE(int(t.sv1[0]), 33);
        QCOMPARE(int(t.sv1[1]), 100);
        QCOMPARE(int(t.sv2[1]), 50);
        QCOMPARE(t.time[1], 10);
        QCOMPARE(int(t.sv1[2]), 0);   // empty box reads 0
        QCOMPARE(int(t.sv1[8]), 9999);
        QCOMPARE(int(t.sv2[8]), 12);  // halves to even
        QCOMPARE(t.time[8], 7);
        QCOMPARE(int(t.sv1[9]), 44);
        QCOMPARE(t.time[0], 0);
    }

    void segmentValueOutOfRangeKeepsSlot()
    {
        SegmentTables t;
        t.sv1[1] = 5;
        t.time[1] = 6;
        fillSegmentTables(t, [](int entry) { return entry == 0 ? QString("40000") : entry == 2 ? QString("1e12") : QString(); });
        QCOMPARE(int(t.sv1[1]), 5);
        QCOMPARE(t.time[1], 6);
    }

    void blockReadInThreeRunsWithTwoYields()
    {
        FakeLink fake;
        for (int r = 8193; r <= 8240; ++r)
            fake.holding[r] = r - 8000;
        QList<int> callsAtYield;
        ProgramImage image{};
        image[60] = 0;
        link::ReadChain chain;
        // At a yield the run has come back and the next is not posted yet.
        chain.setYield([&] { callsAtYield.append(int(fake.calls.size())); });
        bool done = false;
        QVERIFY(readProgramBlock(chain, image, [&] { done = true; }));
        QVERIFY(!readProgramBlock(chain, image, {})); // never two at once
        QTRY_VERIFY_WITH_TIMEOUT(done, 5000);

        const QList<LinkCall> expected{{LinkOp::ReadHolding, 3, 7, 8193, 16},
                                       {LinkOp::ReadHolding, 3, 7, 8209, 16},
                                       {LinkOp::ReadHolding, 3, 7, 8225, 16}};
        QCOMPARE(fake.calls, expected);
        QCOMPARE(callsAtYield, (QList<int>{1, 2}));
        for (int j = 0; j < 48; ++j)
            QCOMPARE(image[std::size_t(j)], 193 + j);
        for (int j = 48; j < kImageSlots; ++j)
            QCOMPARE(image[std::size_t(j)], 0);
    }

    void failedReadLeavesSlots()
    {
        FakeLink fake;
        fake.readsFail = true;
        ProgramImage image{};
        image[0] = 11;
        image[47] = 22;
        link::ReadChain chain;
        bool done = false;
        QVERIFY(readProgramBlock(chain, image, [&] { done = true; }));
        QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
        QCOMPARE(fake.calls.size(), 3);
        QCOMPARE(image[0], 11);
        QCOMPARE(image[47], 22);
    }

    void writeWithRetry_data()
    {
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<int>("writes");
        QTest::newRow("success") << QList<int>{0} << 1;
        QTest::newRow("other result counts as success") << QList<int>{-1} << 1;
        QTest::newRow("-8888 once") << QList<int>{-8888, 0} << 2;
        QTest::newRow("-8888 twice, no third") << QList<int>{-8888, -8888} << 2;
    }
    void writeWithRetry()
    {
        QFETCH(QList<int>, results);
        QFETCH(int, writes);
        FakeLink fake;
        for (int r : results)
            fake.writeResults.push_back(r);
        QCOMPARE(writeProgramRegister(8194, 2), link::kQueued);
        QCOMPARE(fake.writes().size(), writes);
        for (const LinkCall &c : fake.writes())
            QCOMPARE(c, (LinkCall{LinkOp::Write, 3, 7, 8194, 2}));
    }
};

STATION_TEST_MAIN_CORE(TestProgramRegisters)
#include "tst_programregisters.moc"
