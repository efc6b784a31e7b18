#include "link/poller.h"

#include "link/modbusrtu.h"
#include "link/registerimage.h"

#include "common/logging.h"

#include <QCoreApplication>

namespace station {

std::array<std::int32_t, 8> decodeByte(std::int32_t byte)
{
    std::array<std::int32_t, 8> bits{};
    for (int i = 0; i < 8; ++i)
        bits[std::size_t(i)] = (byte >> i) & 1;
    return bits;
}

namespace {

void decodeSlots(const std::int32_t (&byteSlots)[2], std::array<std::int32_t, 16> &bits)
{
    for (int k = 0; k < 2; ++k) {
        if (!isAcceptedByte(byteSlots[k]))
            continue;
        const auto decoded = decodeByte(byteSlots[k]);
        std::copy(decoded.begin(), decoded.end(), bits.begin() + 8 * k);
    }
}

} // namespace

Poller::Poller(QObject *parent)
    : QObject(parent)
    , m_yield([] { QCoreApplication::processEvents(); })
{
    setObjectName(QStringLiteral("Met1"));
    m_timer.setInterval(kPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &Poller::onTick);
}

void Poller::startPolling()
{
    m_timer.start();
}

void Poller::stopPolling()
{
    m_timer.stop();
    ++m_stops;
}

void Poller::onTick()
{
    if (m_running) {
        ++m_dropped;
        return;
    }
    runCycle();
}

bool Poller::yieldAndContinue(int stopsAtStart)
{
    if (m_yield)
        m_yield();
    return m_stops == stopsAtStart;
}

void Poller::runCycle()
{
    if (m_running) {
        ++m_dropped;
        return;
    }
    m_running = true;
    const int stops = m_stops;
    const auto done = [this] {
        m_running = false;
    };

    RegisterImage &img = registerImage();
    const LinkSettings &link = linkSettings();

    // 1, 2: measured values and the live sample.
    Get_3X_DX(link.port, link.station, reg::kInputFirst, reg::kInputCount, img.inputWords.data());
    for (std::size_t i = 0; i < img.inputWords.size(); ++i)
        img.liveSample[i] = float(img.inputWords[i]);
    img.liveSample[8] = img.discreteBits[0] == 1 ? 100.0f : 0.0f;
    img.liveSample[9] = img.discreteBits[1] == 1 ? 100.0f : 0.0f;
    if (!yieldAndContinue(stops))
        return done();

    // 3: program status.
    Get_3X_DX(link.port, link.station, reg::kProgramStatusFirst, reg::kProgramStatusCount,
              img.programStatus.data());
    if (!yieldAndContinue(stops))
        return done();

    // 4: holding words.
    Get_4X_DX(link.port, link.station, reg::kHoldingFirst, reg::kHoldingCount, img.holdingWords.data());
    for (std::size_t i = 0; i < img.holdingWords.size(); ++i)
        img.holdingFloat[i] = float(img.holdingWords[i]);
    if (!yieldAndContinue(stops))
        return done();

    // 5: the parameter block in three runs; a run that fails leaves zeros. The
    // copy into the image is one step, so a reader always sees one pass.
    std::array<std::int32_t, reg::kParamCount> scratch{};
    for (int run = 0; run < reg::kParamCount / reg::kParamRun; ++run) {
        Get_4X_DX(link.port, link.station, reg::kParamFirst + run * reg::kParamRun, reg::kParamRun,
                  scratch.data() + run * reg::kParamRun);
        if (run == reg::kParamCount / reg::kParamRun - 1)
            for (std::size_t i = 0; i < scratch.size(); ++i)
                img.paramImage[i] = float(scratch[i]);
        if (!yieldAndContinue(stops))
            return done();
    }

    // 6: alarm settings.
    Get_4X_DX(link.port, link.station, reg::kAlarmFirst, reg::kAlarmCount, img.alarmWords.data());
    if (!yieldAndContinue(stops))
        return done();

    // 7, 8: discrete inputs and coils, two byte byteSlots each.
    std::int32_t byteSlots[2] = {-1, -1};
    Get_1X_B16(link.port, link.station, reg::kPointFirst, byteSlots);
    decodeSlots(byteSlots, img.discreteBits);
    if (!yieldAndContinue(stops))
        return done();

    std::int32_t coilSlots[2] = {-1, -1};
    Get_0X_B16(link.port, link.station, reg::kPointFirst, coilSlots);
    decodeSlots(coilSlots, img.coilBits);

    ++m_cycles;
    done();
    qCDebug(lcPoll) << "cycle" << m_cycles << "done";
    emit cycleFinished();
}

} // namespace station
