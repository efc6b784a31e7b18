// Entered text to register integer, and register value to display text.
#include "config/parametercoding.h"

#include "tests/support/testenv.h"

#include <QTest>
#include <optional>

using namespace station::config;

Q_DECLARE_METATYPE(std::optional<std::int32_t>)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

// Readable forms for the comparisons ("none" for no value).
QString shown(const std::optional<std::int32_t> &value)
{
    return value ? QString::number(*value) : QStringLiteral("none");
}

QString shown(const std::optional<QString> &text)
{
    return text ? u'"' + *text + u'"' : QStringLiteral("none");
}

} // namespace

class TestParameterCoding : public QObject {
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void display_data();
    void display();
};

void TestParameterCoding::encode_data()
{
    using Value = std::optional<std::int32_t>;
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Value>("value");

    // Digital filter: seconds in, tenths stored.
    QTest::newRow("filter 2.5") << 4099 << "2.5" << Value(25);
    QTest::newRow("filter 1.5") << 4099 << "1.5" << Value(15);
    QTest::newRow("filter 0.25 ties to even") << 4099 << "0.25" << Value(2);
    QTest::newRow("filter &HFFFF") << 4099 << "&HFFFF" << Value(-10);
    QTest::newRow("filter beyond float") << 4099 << "1e38" << Value();

    // Other numeric parameters: the leading number, rounded half to even.
    QTest::newRow("letters after the number") << 4107 << "12abc" << Value(12);
    QTest::newRow("exponent") << 4107 << "1e3" << Value(1000);
    QTest::newRow("-0.5 ties to 0") << 4107 << "-0.5" << Value(0);
    QTest::newRow("1.5 ties to 2") << 4107 << "1.5" << Value(2);
    QTest::newRow("13.5 ties to 14") << 4107 << "13.5" << Value(14);
    QTest::newRow("blank inside") << 4107 << "1 2" << Value(12);
    QTest::newRow("comma stops") << 4107 << "1,5" << Value(1);
    QTest::newRow("hex") << 4133 << "&H10" << Value(16);
    QTest::newRow("empty") << 4133 << "" << Value(0);
    QTest::newRow("int32 minimum") << 4107 << "-2147483648" << Value(INT32_MIN);
    // Single precision holds 24 bits: 16777217 becomes 16777216, and 2^31 - 1
    // becomes 2^31, which no longer fits.
    QTest::newRow("through single precision") << 4107 << "16777217" << Value(16777216);
    QTest::newRow("int32 maximum rounds up") << 4107 << "2147483647" << Value();
    QTest::newRow("too large") << 4107 << "3000000000" << Value();
    QTest::newRow("overflowing exponent") << 4107 << "1e999" << Value();
}

void TestParameterCoding::encode()
{
    QFETCH(int, reg);
    QFETCH(QString, text);
    QFETCH(std::optional<std::int32_t>, value);
    const Parameter *p = parameterForRegister(reg);
    QVERIFY(p);
    QCOMPARE(shown(encodeEntry(*p, text)), shown(value));
}

void TestParameterCoding::display_data()
{
    using Text = std::optional<QString>;
    QTest::addColumn<int>("reg");
    QTest::addColumn<float>("value");
    QTest::addColumn<Text>("text");

    QTest::newRow("filter 10") << 4099 << 10.0f << Text("1");
    QTest::newRow("filter 15") << 4099 << 15.0f << Text("1.5");
    QTest::newRow("filter 5") << 4099 << 5.0f << Text("0.5");
    QTest::newRow("filter 0") << 4099 << 0.0f << Text("0");
    QTest::newRow("filter -15") << 4099 << -15.0f << Text("-1.5");

    QTest::newRow("upper limit 5000") << 4107 << 5000.0f << Text("5000");
    QTest::newRow("shift -100") << 4109 << -100.0f << Text("-100");
    QTest::newRow("no thousands separator") << 4139 << 32767.0f << Text("32767");

    QTest::newRow("sensor type 4") << 4105 << 4.0f << Text("0MA10)");
    QTest::newRow("sensor type 13") << 4105 << 13.0f << Text();
    QTest::newRow("alarm mode 5") << 4129 << 5.0f << Text("偏差带");
    QTest::newRow("alarm mode 6") << 4130 << 6.0f << Text();
    QTest::newRow("alarm mode 1.5") << 4129 << 1.5f << Text();
    QTest::newRow("enable 1") << 4097 << 1.0f << Text("使能");
    QTest::newRow("alarm channel 1") << 4132 << 1.0f << Text("通道二报警");
    QTest::newRow("baud 2") << 4134 << 2.0f << Text("19200");
    QTest::newRow("retransmission source 0") << 4138 << 0.0f << Text("不变送");
}

void TestParameterCoding::display()
{
    QFETCH(int, reg);
    QFETCH(float, value);
    QFETCH(std::optional<QString>, text);
    const Parameter *p = parameterForRegister(reg);
    QVERIFY(p);
    QCOMPARE(shown(displayText(*p, value)), shown(text));
}

STATION_TEST_MAIN_CORE(TestParameterCoding)
#include "tst_parametercoding.moc"
