// The shared number and date rules: the leading-number rule, rounding halves to
// even, the value texts, and day numbers.
#include "common/datenum.h"
#include "common/numbers.h"

#include "tests/support/testenv.h"

#include <QtTest>
#include <cmath>

using namespace station;

class TestNumbers : public QObject {
    Q_OBJECT

private slots:
    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("letters") << "abc" << 0.0;
        QTest::newRow("integer with a trailing blank") << "7 " << 7.0;
        QTest::newRow("leading blanks") << "   42" << 42.0;
        QTest::newRow("stops at letters") << "12abc" << 12.0;
        QTest::newRow("50 then letters") << "50abc" << 50.0;
        QTest::newRow("blanks inside") << "1 2" << 12.0;
        QTest::newRow("tab and line feed inside") << "1\t2\n3" << 123.0;
        QTest::newRow("minus, blank, digits") << "- 5" << -5.0;
        QTest::newRow("plus sign") << "+8" << 8.0;
        QTest::newRow("fraction") << "12.5" << 12.5;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("second point stops") << "1.2.3" << 1.2;
        QTest::newRow("comma stops") << "1,5" << 1.0;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("D is no exponent marker") << "2D2" << 2.0;
        QTest::newRow("d is no exponent marker") << "1d2" << 1.0;
        QTest::newRow("negative exponent") << "25E-1" << 2.5;
        QTest::newRow("exponent without digits") << "3e" << 3.0;
        QTest::newRow("exponent leading zeros") << "1E00000001" << 10.0;
        QTest::newRow("underflow reads 0") << "1e-400" << 0.0;
        QTest::newRow("hex") << "&H1F" << 31.0;
        QTest::newRow("hex word is signed") << "&HFFFF" << -1.0;
        QTest::newRow("hex beyond a word") << "&H10000" << 65536.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("hex without digits") << "&H" << 0.0;
        QTest::newRow("sign alone") << "-" << 0.0;
        QTest::newRow("full-width digits") << "１２" << 12.0;
        QTest::newRow("full-width minus") << "－５" << -5.0;
        QTest::newRow("full-width plus") << "＋８" << 8.0;
        QTest::newRow("full-width digit, ASCII point") << "１.５" << 1.5;
        QTest::newRow("full-width point") << "１．５" << 1.5;
        QTest::newRow("full-width blank inside") << "　１　2" << 12.0;
        QTest::newRow("full-width comma stops") << "１，５" << 1.0;
    }

    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(station::leadingNumber(text), value);
    }

    void overflowReadsInfinity()
    {
        QVERIFY(std::isinf(station::leadingNumber(u"1e400")));
        QVERIFY(station::leadingNumber(u"-1e400") < 0);
        QVERIFY(!station::toInt32(station::leadingNumber(u"1e400")));
    }

    void roundingHalvesToEven_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        QTest::newRow("12.5") << 12.5 << 12.0;
        QTest::newRow("13.5") << 13.5 << 14.0;
        QTest::newRow("-0.5") << -0.5 << 0.0;
        QTest::newRow("1.5") << 1.5 << 2.0;
        QTest::newRow("-2.5") << -2.5 << -2.0;
        QTest::newRow("312.5") << 312.5 << 312.0;
        QTest::newRow("937.5") << 937.5 << 938.0;
        QTest::newRow("37.5") << 37.5 << 38.0;
        QTest::newRow("2.4999") << 2.4999 << 2.0;
    }

    void roundingHalvesToEven()
    {
        QFETCH(double, value);
        QFETCH(double, rounded);
        QCOMPARE(roundHalfEven(value), rounded);
    }

    void integersThatDoNotFitAreRefused()
    {
        QCOMPARE(toInt16(32767.4).value_or(0), 32767);
        QVERIFY(!toInt16(32767.5));
        QCOMPARE(toInt16(-32768.5).value_or(0), -32768);
        QVERIFY(!toInt16(48000));
        QCOMPARE(toInt32(2147483647.0).value_or(0), 2147483647);
        QVERIFY(!toInt32(2147483648.0));
        QVERIFY(!toInt32(std::nan("")));
    }

    void numberText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("503 / 10") << 503 / 10.0 << "50.3";
        QTest::newRow("500 / 10") << 500 / 10.0 << "50";
        QTest::newRow("negative") << -0.5 << "-0.5";
        QTest::newRow("integer") << 503.0 << "503";
        QTest::newRow("negative integer") << -1999.0 << "-1999";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("float 50.3") << double(503.0f / 10.0f) << "50.3";
        QTest::newRow("seven digits") << 1.0 / 3.0 << "0.3333333";
        QTest::newRow("small") << 0.000012345678 << "0.00001234568";
        QTest::newRow("large fraction") << 12345678.5 << "12345680";
        QTest::newRow("large integer stays exact") << 123456789.0 << "123456789";
    }

    void numberText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(station::numberText(value), text);
    }

    void shortestFloatText()
    {
        QCOMPARE(station::shortestFloatText(287.0f), QStringLiteral("287"));
        QCOMPARE(station::shortestFloatText(1.5f), QStringLiteral("1.5"));
        QCOMPARE(station::shortestFloatText(0.1f), QStringLiteral("0.1"));
        QCOMPARE(station::shortestFloatText(-20.0f), QStringLiteral("-20"));
        QCOMPARE(station::shortestFloatText(1e10f), QStringLiteral("10000000000"));
    }

    void dayNumbers()
    {
        QCOMPARE(dayNumber(QDate(1899, 12, 30)), 0.0);
        QCOMPARE(dayNumber(QDate(1900, 1, 1)), 2.0);
        QCOMPARE(dayNumber(QDate(2026, 12, 8)), 46364.0);
        QCOMPARE(dateFromDayNumber(46364.0), QDate(2026, 12, 8));
        QCOMPARE(dayFraction(QTime(12, 0, 0)), 0.5);
        QCOMPARE(dayFraction(QTime(0, 0, 1, 999)), 1.0 / 86400.0); // to the second
        QCOMPARE(timeFromDayFraction(0.5), QTime(12, 0, 0));
        QCOMPARE(timeFromDayFraction(1.0), QTime(0, 0, 0));
        QCOMPARE(timeText(dayFraction(QTime(23, 59, 59))), QStringLiteral("23:59:59"));
        QCOMPARE(shortDateText(0), QStringLiteral("1899-12-30"));
        QCOMPARE(clockDateText(QDate(2026, 3, 4)), QStringLiteral("03-04-2026"));
        QCOMPARE(clockTimeText(QTime(7, 5, 9)), QStringLiteral("07:05:09"));
    }
};

STATION_TEST_MAIN_CORE(TestNumbers)
#include "tst_numbers.moc"
