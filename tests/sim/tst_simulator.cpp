// The simulator as the station sees it: a real libmodbus RTU client opens the
// link in the data folder and talks to the simulator over its pty.
#include "sim/controllermodel.h"
#include "sim/registermap.h"
#include "sim/simulator.h"

#include "common/datadir.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <modbus.h>

#include <array>
#include <cerrno>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace station::sim;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(station::sim::Table)
Q_DECLARE_METATYPE(station::sim::Fault)

namespace {

constexpr int kPort = 3;
// Generous for answers that must come, so a loaded machine does not fail the
// test; every expected time-out costs this much.
constexpr int kResponseMs = 400;
constexpr int kByteMs = 50;
constexpr int kWaitMs = 5000;

// A libmodbus master on the simulator's link, as the station opens it.
class Client {
public:
    explicit Client(const QString &path, int slave = 1, int responseMs = kResponseMs)
    {
        ctx_ = modbus_new_rtu(QFile::encodeName(path).constData(), 9600, 'N', 8, 2);
        if (!ctx_)
            return;
        modbus_set_slave(ctx_, slave);
        modbus_set_response_timeout(ctx_, 0, responseMs * 1000);
        modbus_set_byte_timeout(ctx_, 0, kByteMs * 1000);
        if (modbus_connect(ctx_) != 0) {
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
    }
    ~Client()
    {
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool ok() const { return ctx_ != nullptr; }
    modbus_t *ctx() const { return ctx_; }

    // Reads n registers of table t (input or holding) as signed values; empty on failure.
    std::vector<std::int16_t> read(Table t, int first, int n)
    {
        std::vector<std::uint16_t> raw(n);
        const int rc = t == Table::Input ? modbus_read_input_registers(ctx_, first, n, raw.data())
                                         : modbus_read_registers(ctx_, first, n, raw.data());
        error = rc == -1 ? errno : 0;
        if (rc != n)
            return {};
        return {raw.begin(), raw.end()};
    }
    int error = 0;

private:
    modbus_t *ctx_ = nullptr;
};

// Values that catch a sign lost in widening and a line discipline that is not
// raw (CR/LF translation, XON/XOFF eaten).
std::int16_t pattern(int i)
{
    static constexpr std::array<std::int16_t, 8> special{-1, -1999, 32767, -32768, 0x0D0A, 0x1113, 0, 9999};
    return i < int(special.size()) ? special[i] : static_cast<std::int16_t>(i * 37 - 300);
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Client> client_;

    // Waits until the simulator is done with the request just sent (answered,
    // or for a silent fault only received), then drops what is left on the line.
    void settleAfterFault(std::uint64_t requestsBefore, std::uint64_t repliesBefore, bool answered)
    {
        QVERIFY(sim_->waitForRequests(requestsBefore + 1, kWaitMs));
        if (answered)
            QVERIFY(sim_->waitForReplies(repliesBefore + 1, kWaitMs));
        modbus_flush(client_->ctx());
    }

private slots:
    void initTestCase()
    {
        sim_ = std::make_unique<Simulator>(kPort);
        QVERIFY(sim_->start());
    }

    void init()
    {
        sim_->setFault(Fault::None);
        sim_->setStation(1);
        sim_->setWireTiming(false);
        sim_->setSlowDelay(Simulator::kDefaultSlowDelay);
        sim_->clearWrites();
        if (!sim_->isRunning())
            QVERIFY(sim_->start());
        client_ = std::make_unique<Client>(sim_->linkPath());
        QVERIFY(client_->ok());
    }

    void cleanup() { client_.reset(); }

    void cleanupTestCase()
    {
        const QString link = sim_->linkPath();
        sim_.reset();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void theLinkInTheDataFolderNamesThePty()
    {
        const QFileInfo link(sim_->linkPath());
        QCOMPARE(link.absoluteFilePath(), QDir(station::dataDir()).absoluteFilePath("serial/com3"));
        QVERIFY(link.isSymLink());
        QVERIFY(sim_->slavePath().startsWith("/dev/pts/"));
        QCOMPARE(link.symLinkTarget(), sim_->slavePath());
    }

    void readsReturnWhatWasSet_data()
    {
        QTest::addColumn<Table>("table");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::newRow("inputs 1..8") << Table::Input << 1 << 8;
        QTest::newRow("program status 4097..4112") << Table::Input << 4097 << 16;
        QTest::newRow("holding 1..8") << Table::Holding << 1 << 8;
        QTest::newRow("alarm settings 257..264") << Table::Holding << 257 << 8;
        QTest::newRow("parameters 4097..4112") << Table::Holding << 4097 << 16;
        QTest::newRow("parameters 4113..4128") << Table::Holding << 4113 << 16;
        QTest::newRow("parameters 4129..4144") << Table::Holding << 4129 << 16;
        QTest::newRow("program 8193..8208") << Table::Holding << 8193 << 16;
        QTest::newRow("program 8209..8224") << Table::Holding << 8209 << 16;
        QTest::newRow("program 8225..8240") << Table::Holding << 8225 << 16;
        QTest::newRow("whole program block") << Table::Holding << 8193 << 48;
    }

    void readsReturnWhatWasSet()
    {
        QFETCH(Table, table);
        QFETCH(int, first);
        QFETCH(int, count);
        std::vector<std::int16_t> expected;
        for (int i = 0; i < count; ++i) {
            // Offset by the first register so neighbouring blocks differ.
            const auto v = static_cast<std::int16_t>(pattern(i) + (i >= 8 ? first : 0));
            expected.push_back(v);
            if (table == Table::Input)
                sim_->setInput(first + i, v);
            else
                sim_->setHolding(first + i, v);
        }
        const auto got = client_->read(table, first, count);
        QCOMPARE(client_->error, 0);
        QCOMPARE(got, expected);
        // The address went on the wire unchanged: 4097 is 0x1001.
        const auto request = sim_->lastRequest();
        QCOMPARE(request.size(), std::size_t(8));
        QCOMPARE((request[2] << 8) | request[3], first);
    }

    void bitsReturnWhatWasSet()
    {
        // Points 1, 3, 8, 9 and 16 of the discrete inputs; the complement on the coils.
        const std::array<bool, 16> on{true, false, true, false, false, false, false, true,
                                      true, false, false, false, false, false, false, true};
        for (int p = 1; p <= 16; ++p) {
            sim_->setDiscrete(p, on[p - 1]);
            sim_->setCoil(p, !on[p - 1]);
        }
        std::array<std::uint8_t, 16> discrete{};
        std::array<std::uint8_t, 16> coils{};
        QCOMPARE(modbus_read_input_bits(client_->ctx(), 1, 16, discrete.data()), 16);
        QCOMPARE(modbus_read_bits(client_->ctx(), 1, 16, coils.data()), 16);
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(discrete[i] != 0, on[i]);
            QCOMPARE(coils[i] != 0, !on[i]);
        }
    }

    void addressesOutsideTheBlocksAreRefused_data()
    {
        QTest::addColumn<Table>("table");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::newRow("holding 0") << Table::Holding << 0 << 1;
        QTest::newRow("holding 9") << Table::Holding << 9 << 1;
        QTest::newRow("holding 1..9 past the block") << Table::Holding << 1 << 9;
        QTest::newRow("holding 4145") << Table::Holding << 4145 << 1;
        QTest::newRow("holding 8241") << Table::Holding << 8241 << 1;
        QTest::newRow("input 9") << Table::Input << 9 << 1;
        QTest::newRow("input 4113") << Table::Input << 4113 << 1;
        QTest::newRow("input 4100..4116 past the block") << Table::Input << 4100 << 17;
        QTest::newRow("discrete 17") << Table::Discrete << 17 << 1;
        QTest::newRow("coil 0") << Table::Coil << 0 << 16;
    }

    void addressesOutsideTheBlocksAreRefused()
    {
        QFETCH(Table, table);
        QFETCH(int, first);
        QFETCH(int, count);
        std::vector<std::uint16_t> words(count);
        std::vector<std::uint8_t> bits(count);
        int rc = 0;
        switch (table) {
        case Table::Holding: rc = modbus_read_registers(client_->ctx(), first, count, words.data()); break;
        case Table::Input: rc = modbus_read_input_registers(client_->ctx(), first, count, words.data()); break;
        case Table::Discrete: rc = modbus_read_input_bits(client_->ctx(), first, count, bits.data()); break;
        case Table::Coil: rc = modbus_read_bits(client_->ctx(), first, count, bits.data()); break;
        }
        QCOMPARE(rc, -1);
        QCOMPARE(errno, int(EMBXILADD));
    }

    void writesOutsideTheBlocksAreRefusedAndNotLogged()
    {
        sim_->setHolding(4144, 12);
        QCOMPARE(modbus_write_register(client_->ctx(), 9, 1), -1);
        QCOMPARE(errno, int(EMBXILADD));
        const std::uint16_t values[2] = {1, 2};
        QCOMPARE(modbus_write_registers(client_->ctx(), 4144, 2, values), -1);
        QCOMPARE(errno, int(EMBXILADD));
        QVERIFY(sim_->writes().empty());
        QCOMPARE(sim_->holding(4144), std::int16_t(12));
    }

    void otherFunctionsAreIllegal()
    {
        std::uint8_t id[MODBUS_RTU_MAX_ADU_LENGTH];
        QCOMPARE(modbus_report_slave_id(client_->ctx(), sizeof id, id), -1);
        QCOMPARE(errno, int(EMBXILFUN));
    }

    void aSingleWriteIsStoredLoggedAndReadBack()
    {
        const std::uint64_t before = sim_->writeCount(1);
        QCOMPARE(modbus_write_register(client_->ctx(), 4100, 1), 1);
        QCOMPARE(modbus_write_register(client_->ctx(), 1, static_cast<std::uint16_t>(-100)), 1);
        QCOMPARE(modbus_write_register(client_->ctx(), 8231, 9999), 1);

        QCOMPARE(sim_->holding(4100), std::int16_t(1));
        QCOMPARE(sim_->holding(1), std::int16_t(-100));
        const std::vector<RegisterWrite> expected{{4100, 1}, {1, -100}, {8231, 9999}};
        QCOMPARE(sim_->writes(), expected);
        QCOMPARE(sim_->writeCount(1), before + 1);
        QCOMPARE(client_->read(Table::Holding, 1, 1), std::vector<std::int16_t>{-100});
        QCOMPARE(client_->read(Table::Holding, 4100, 1), std::vector<std::int16_t>{1});

        sim_->clearWrites();
        QVERIFY(sim_->writes().empty());
        QCOMPARE(sim_->writeCount(1), before + 1);  // the count survives a cleared log
    }

    void aMultipleWriteIsLoggedPerRegister()
    {
        const std::uint16_t segment[3] = {300, static_cast<std::uint16_t>(-50), 5};
        QCOMPARE(modbus_write_registers(client_->ctx(), reg::segmentSv1(2), 3, segment), 3);
        const std::vector<RegisterWrite> expected{{8205, 300}, {8206, -50}, {8207, 5}};
        QCOMPARE(sim_->writes(), expected);
        QCOMPARE(client_->read(Table::Holding, 8205, 3), (std::vector<std::int16_t>{300, -50, 5}));
    }

    void requestsForOtherStationsAreIgnored()
    {
        sim_->setInput(1, 123);
        const std::uint64_t before = sim_->requestCount();
        {
            Client other(sim_->linkPath(), 2);
            QVERIFY(other.ok());
            QVERIFY(other.read(Table::Input, 1, 1).empty());
            QCOMPARE(other.error, ETIMEDOUT);
        }
        QCOMPARE(sim_->requestCount(), before);
        // The very next request for our station is answered: the simulator
        // does not take it for the other station's reply.
        QCOMPARE(client_->read(Table::Input, 1, 1), std::vector<std::int16_t>{123});

        sim_->setStation(16);
        QVERIFY(client_->read(Table::Input, 1, 1).empty());
        QCOMPARE(client_->error, ETIMEDOUT);
        Client sixteen(sim_->linkPath(), 16);
        QCOMPARE(sixteen.read(Table::Input, 1, 1), std::vector<std::int16_t>{123});
    }

    void faultsFailTheExchangeAndClearing_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("expectedError");  // 0: any failure
        QTest::addColumn<bool>("answered");
        QTest::newRow("silent") << Fault::Silent << int(ETIMEDOUT) << false;
        QTest::newRow("slow") << Fault::Slow << int(ETIMEDOUT) << true;
        QTest::newRow("bad CRC") << Fault::BadCrc << int(EMBBADCRC) << true;
        QTest::newRow("exception") << Fault::Exception << int(EMBXILADD) << true;
        QTest::newRow("garbage") << Fault::Garbage << 0 << true;
    }

    void faultsFailTheExchangeAndClearing()
    {
        QFETCH(Fault, fault);
        QFETCH(int, expectedError);
        QFETCH(bool, answered);
        for (int i = 0; i < 8; ++i)
            sim_->setInput(1 + i, pattern(i));
        const std::vector<std::int16_t> expected{pattern(0), pattern(1), pattern(2), pattern(3),
                                                 pattern(4), pattern(5), pattern(6), pattern(7)};
        sim_->setSlowDelay(std::chrono::milliseconds(2 * kResponseMs));

        // Twice, so a fault is seen to last until it is cleared.
        sim_->setFault(fault);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const std::uint64_t requests = sim_->requestCount();
            const std::uint64_t replies = sim_->replyCount();
            QVERIFY(client_->read(Table::Input, 1, 8).empty());
            if (expectedError != 0)
                QCOMPARE(client_->error, expectedError);
            else
                QVERIFY(client_->error != 0);
            settleAfterFault(requests, replies, answered);
        }

        sim_->setFault(Fault::None);
        QCOMPARE(client_->read(Table::Input, 1, 8), expected);
        QCOMPARE(client_->error, 0);
    }

    void writesSurviveALostReplyButNotSilence()
    {
        sim_->setHolding(2, 40);
        sim_->setFault(Fault::Silent);
        QCOMPARE(modbus_write_register(client_->ctx(), 2, 41), -1);
        sim_->setFault(Fault::Exception);
        QCOMPARE(modbus_write_register(client_->ctx(), 2, 42), -1);
        QVERIFY(sim_->writes().empty());
        QCOMPARE(sim_->holding(2), std::int16_t(40));

        const std::uint64_t replies = sim_->replyCount();
        sim_->setFault(Fault::BadCrc);
        QCOMPARE(modbus_write_register(client_->ctx(), 2, 43), -1);
        QCOMPARE(errno, int(EMBBADCRC));
        QVERIFY(sim_->waitForReplies(replies + 1, kWaitMs));
        QCOMPARE(sim_->writes(), (std::vector<RegisterWrite>{{2, 43}}));
        QCOMPARE(sim_->holding(2), std::int16_t(43));
    }

    void aFaultCanLastForSomeRequestsOnly()
    {
        sim_->setInput(2, -7);
        sim_->setFault(Fault::Silent, 1);
        QVERIFY(client_->read(Table::Input, 2, 1).empty());
        QCOMPARE(client_->error, ETIMEDOUT);
        QCOMPARE(sim_->fault(), Fault::None);
        modbus_flush(client_->ctx());
        QCOMPARE(client_->read(Table::Input, 2, 1), std::vector<std::int16_t>{-7});

        // Two bad CRCs, then good answers: the station's write-with-retry fails.
        sim_->setFault(Fault::BadCrc, 2);
        QCOMPARE(modbus_write_register(client_->ctx(), 257, 300), -1);
        QCOMPARE(modbus_write_register(client_->ctx(), 257, 300), -1);
        QCOMPARE(modbus_write_register(client_->ctx(), 257, 301), 1);
        QCOMPARE(sim_->holding(257), std::int16_t(301));
    }

    void aSlowReplyComesAfterItsDelay()
    {
        sim_->setInput(1, 55);
        sim_->setSlowDelay(300ms);
        sim_->setFault(Fault::Slow);
        Client patient(sim_->linkPath(), 1, 3000);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(patient.read(Table::Input, 1, 1), std::vector<std::int16_t>{55});
        QVERIFY2(timer.elapsed() >= 300, qPrintable(QString::number(timer.elapsed())));
    }

    void wireTimingHoldsTheReplyBack_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<char>("parity");
        // A read of 16 registers, (8 + 37 + 7) characters of 11 bits.
        QTest::newRow("9600 E") << 9600 << 'E';
        QTest::newRow("4800 N") << 4800 << 'N';
    }

    void wireTimingHoldsTheReplyBack()
    {
        QFETCH(int, baud);
        QFETCH(char, parity);
        sim_->setWireTiming(true, baud, parity);
        const auto least = std::chrono::duration_cast<std::chrono::milliseconds>(
            exchangeTime(LineFormat{baud, parity, 0}, 8, 37));
        QVERIFY(least >= 59ms);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(client_->read(Table::Holding, 4097, 16).size(), std::size_t(16));
        QVERIFY2(timer.elapsed() >= least.count(),
                 qPrintable(QStringLiteral("%1 ms < %2 ms").arg(timer.elapsed()).arg(least.count())));
    }

    void vanishAndReappear()
    {
        sim_->setInput(1, 77);
        QCOMPARE(client_->read(Table::Input, 1, 1), std::vector<std::int16_t>{77});
        const QString link = sim_->linkPath();

        sim_->vanish();
        QVERIFY(!sim_->isRunning());
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(link));
        QVERIFY(sim_->slavePath().isEmpty());
        QVERIFY(client_->read(Table::Input, 1, 1).empty());
        QVERIFY(client_->error != 0);
        QVERIFY(!Client(link).ok());

        QVERIFY(sim_->reappear());
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim_->slavePath());
        // The old descriptor belongs to the pty that went away.
        QVERIFY(client_->read(Table::Input, 1, 1).empty());
        Client again(link);
        QVERIFY(again.ok());
        QCOMPARE(again.read(Table::Input, 1, 1), std::vector<std::int16_t>{77});
    }

    void theStationRunsTheProgramOverTheWire()
    {
        ControllerModel model(*sim_);
        model.setNoise(0);
        model.installDefaults();
        sim_->setHolding(reg::kTimeUnit, 2);  // seconds
        model.step(0.1);
        QCOMPARE(client_->read(Table::Input, reg::kRunState, 1), std::vector<std::int16_t>{0});

        QCOMPARE(modbus_write_register(client_->ctx(), reg::kRunCommand, 1), 1);
        model.step(0.1);
        const auto status = client_->read(Table::Input, reg::kRunState, 16);
        QCOMPARE(status.size(), std::size_t(16));
        QCOMPARE(status[0], std::int16_t(RunState::Running));
        QCOMPARE(status[reg::kStatusSegment - reg::kRunState], std::int16_t(1));
    }
};

// Start, stop and the link, each on a simulator of its own.
class TestSimulatorLifecycle : public QObject {
    Q_OBJECT

private slots:
    void startReplacesAStaleLinkAndStopRemovesIt()
    {
        Simulator sim(5);
        const QString link = sim.linkPath();
        QDir().mkpath(QFileInfo(link).absolutePath());
        QFile::remove(link);
        QVERIFY(QFile::link("/dev/pts/999999", link));  // a pty gone with a run that crashed

        QVERIFY(sim.start());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.slavePath());
        QVERIFY(sim.start());  // already running: nothing changes
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.slavePath());
        sim.stop();
        QVERIFY(!QFileInfo(link).isSymLink());
        sim.stop();  // twice is harmless
    }

    void startLeavesAForeignLinkAlone_data()
    {
        QTest::addColumn<QString>("target");  // empty: a plain file
        QTest::newRow("USB adapter") << QStringLiteral("/dev/ttyUSB0");
        QTest::newRow("dangling by-id link") << QStringLiteral("/dev/serial/by-id/usb-adapter-if00-port0");
        QTest::newRow("plain file") << QString();
    }

    void startLeavesAForeignLinkAlone()
    {
        QFETCH(QString, target);
        Simulator sim(9);
        const QString link = sim.linkPath();
        QDir().mkpath(QFileInfo(link).absolutePath());
        QFile::remove(link);
        if (target.isEmpty()) {
            QFile file(link);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QFile::link(target, link));
        }

        QVERIFY(!sim.start());
        QVERIFY(!sim.isRunning());
        QVERIFY(sim.startError().contains(link));
        if (!target.isEmpty()) {
            QVERIFY(sim.startError().contains(target));
            QCOMPARE(QFileInfo(link).symLinkTarget(), target);
        } else {
            QVERIFY(QFileInfo(link).isFile());
        }
        sim.stop();
        QVERIFY(QFileInfo(link).isSymLink() == !target.isEmpty());
        QFile::remove(link);
    }

    // The demo controller on the command line: one line on stderr naming the
    // link and its target, a failed exit, the link as it was.
    void theDemoControllerRefusesAForeignLink()
    {
        const QString link = station::dataDir() + QStringLiteral("/serial/com10");
        QDir().mkpath(QFileInfo(link).absolutePath());
        QFile::remove(link);
        QVERIFY(QFile::link(QStringLiteral("/dev/ttyUSB0"), link));
        QProcess sim;
        sim.start(QStringLiteral(STATION_SIM_EXECUTABLE), {QStringLiteral("--port"), QStringLiteral("10")});
        QVERIFY(sim.waitForFinished(20000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QVERIFY(sim.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
        QCOMPARE(err.count(QLatin1Char('\n')), 1);
        QVERIFY2(err.contains(link) && err.contains(QLatin1String("/dev/ttyUSB0")), qPrintable(err));
        QVERIFY(sim.readAllStandardOutput().isEmpty());
        QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/ttyUSB0"));
        QFile::remove(link);
    }

    void stopLeavesALinkThatIsNoLongerItsOwn()
    {
        Simulator sim(6);
        QVERIFY(sim.start());
        const QString link = sim.linkPath();
        QFile::remove(link);
        QVERIFY(QFile::link("/dev/null", link));
        sim.stop();
        QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/null"));
        QFile::remove(link);
    }

    void stopDoesNotWaitForAPendingReply()
    {
        auto sim = std::make_unique<Simulator>(7);
        QVERIFY(sim->start());
        sim->setSlowDelay(10s);
        sim->setFault(Fault::Slow);
        Client client(sim->linkPath(), 1, 100);
        QVERIFY(client.ok());
        QVERIFY(client.read(Table::Input, 1, 1).empty());
        QVERIFY(sim->waitForRequests(1, kWaitMs));

        QElapsedTimer timer;
        timer.start();
        sim.reset();
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    void aStationThatGoesAwayDoesNotStopTheServer()
    {
        Simulator sim(8);
        QVERIFY(sim.start());
        sim.setInput(3, 250);
        for (int i = 0; i < 3; ++i) {
            Client client(sim.linkPath());
            QVERIFY(client.ok());
            QCOMPARE(client.read(Table::Input, 3, 1), std::vector<std::int16_t>{250});
        }
        // A frame spoiled on the line is dropped; the one after it is answered.
        Client client(sim.linkPath());
        const std::uint8_t spoiled[8] = {1, MODBUS_FC_READ_INPUT_REGISTERS, 0, 3, 0, 1, 0xDE, 0xAD};
        QCOMPARE(::write(modbus_get_socket(client.ctx()), spoiled, sizeof spoiled), ssize_t(sizeof spoiled));
        QCOMPARE(client.read(Table::Input, 3, 1), std::vector<std::int16_t>{250});
        QCOMPARE(sim.requestCount(), std::uint64_t(4));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    station::test::initTestEnvironment();
    int status = 0;
    {
        TestSimulator tc;
        status |= QTest::qExec(&tc, argc, argv);
    }
    {
        TestSimulatorLifecycle tc;
        status |= QTest::qExec(&tc, argc, argv);
    }
    return status;
}

#include "tst_simulator.moc"
