#include "link/poller.h"

#include "link/modbusrtu.h"
#include "link/registerimage.h"

#include "common/logging.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

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
{
    setObjectName(QStringLiteral("Met1"));
    m_timer.setInterval(kPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &Poller::onTick);
}

Poller::~Poller() = default;

void Poller::setYield(std::function<void()> atYield)
{
    m_chain.setYield(std::move(atYield));
}

void Poller::startPolling()
{
    m_timer.start();
}

void Poller::stopPolling()
{
    m_timer.stop();
    ++m_stops;
    m_deferred = false;
    if (m_running) {
        m_chain.stop();
        m_running = false;
        qCDebug(lcPoll) << "cycle stopped";
        emit cycleStopped();
    }
}

void Poller::onTick()
{
    startCycle();
}

void Poller::startCycle()
{
    if (m_running) {
        if (!m_deferred)
            ++m_deferredTicks;
        m_deferred = true;
        return;
    }
    beginCycle();
}

bool Poller::runCycle(int deadlineMs)
{
    const int target = m_cycles + (m_running ? 2 : 1);
    const int stops = m_stops;
    startCycle();
    QEventLoop loop;
    const auto check = [&] {
        if (m_cycles >= target || m_stops != stops)
            loop.quit();
    };
    connect(this, &Poller::cycleFinished, &loop, check);
    connect(this, &Poller::cycleStopped, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(deadlineMs);
    if (m_cycles < target && m_stops == stops)
        loop.exec();
    return m_cycles >= target;
}

void Poller::beginCycle()
{
    m_running = true;
    RegisterImage &img = registerImage();
    const LinkSettings &link = linkSettings();
    const auto read = [&link](link::Op op, std::int32_t first, std::int32_t count) {
        link::Request r;
        r.op = op;
        r.port = link.port;
        r.station = link.station;
        r.first = first;
        r.count = count;
        return r;
    };
    const auto copyWords = [](const link::Reply &reply, std::int32_t *into, std::size_t n) {
        if (reply.result == link::kOk && reply.words.size() >= n)
            std::copy_n(reply.words.begin(), n, into);
    };

    // The parameter runs gather into the image's current values.
    for (std::size_t i = 0; i < m_paramScratch.size(); ++i)
        m_paramScratch[i] = std::int32_t(img.paramImage[i]);

    std::vector<link::ReadChain::Step> steps;
    // 1, 2: measured values and the live sample.
    m_liveReads = 0;
    steps.push_back({read(link::Op::ReadInput, reg::kInputFirst, reg::kInputCount), [this, &img, copyWords](const link::Reply &r) {
                         if (r.result == link::kOk)
                             ++m_liveReads;
                         copyWords(r, img.inputWords.data(), img.inputWords.size());
                         for (std::size_t i = 0; i < img.inputWords.size(); ++i)
                             img.liveSample[i] = float(img.inputWords[i]);
                         img.liveSample[8] = img.discreteBits[0] == 1 ? 100.0f : 0.0f;
                         img.liveSample[9] = img.discreteBits[1] == 1 ? 100.0f : 0.0f;
                     }});
    // 3: program status.
    steps.push_back({read(link::Op::ReadInput, reg::kProgramStatusFirst, reg::kProgramStatusCount),
                     [&img, copyWords](const link::Reply &r) {
                         copyWords(r, img.programStatus.data(), img.programStatus.size());
                     }});
    // 4: holding words.
    steps.push_back({read(link::Op::ReadHolding, reg::kHoldingFirst, reg::kHoldingCount), [&img, copyWords](const link::Reply &r) {
                         copyWords(r, img.holdingWords.data(), img.holdingWords.size());
                         for (std::size_t i = 0; i < img.holdingWords.size(); ++i)
                             img.holdingFloat[i] = float(img.holdingWords[i]);
                     }});
    // 5: the parameter block in three runs, copied into the image in one step.
    constexpr int runs = reg::kParamCount / reg::kParamRun;
    for (int run = 0; run < runs; ++run)
        steps.push_back({read(link::Op::ReadHolding, reg::kParamFirst + run * reg::kParamRun, reg::kParamRun),
                         [this, &img, copyWords, run](const link::Reply &r) {
                             copyWords(r, m_paramScratch.data() + run * reg::kParamRun, reg::kParamRun);
                             if (run == runs - 1)
                                 for (std::size_t i = 0; i < m_paramScratch.size(); ++i)
                                     img.paramImage[i] = float(m_paramScratch[i]);
                         }});
    // 6: alarm settings.
    steps.push_back({read(link::Op::ReadHolding, reg::kAlarmFirst, reg::kAlarmCount), [&img, copyWords](const link::Reply &r) {
                         copyWords(r, img.alarmWords.data(), img.alarmWords.size());
                     }});
    // 7, 8: discrete inputs and coils, two byte slots each.
    const auto bits = [this](std::array<std::int32_t, 16> &into, bool feedsLiveSample) {
        return [this, &into, feedsLiveSample](const link::Reply &r) {
            if (feedsLiveSample && r.result == link::kOk)
                ++m_liveReads;
            std::int32_t byteSlots[2] = {-1, -1};
            if (r.result == link::kOk && r.words.size() >= 2) {
                byteSlots[0] = r.words[0];
                byteSlots[1] = r.words[1];
            }
            decodeSlots(byteSlots, into);
        };
    };
    steps.push_back({read(link::Op::ReadDiscrete, reg::kPointFirst, reg::kPointCount), bits(img.discreteBits, true)});
    steps.push_back({read(link::Op::ReadCoils, reg::kPointFirst, reg::kPointCount), bits(img.coilBits, false)});

    m_chain.start(std::move(steps), [this] { endCycle(); });
}

void Poller::endCycle()
{
    m_running = false;
    ++m_cycles;
    if (m_liveReads == kLiveReads)
        ++cycleStamp().answered;
    qCDebug(lcPoll) << "cycle" << m_cycles << "done";
    emit cycleFinished();
    if (m_deferred) {
        // A tick fell due during the cycle: the next one starts now, after one
        // turn of the event loop (a tick that comes first starts it instead).
        m_deferred = false;
        QMetaObject::invokeMethod(
            this,
            [this, stops = m_stops] {
                if (!m_running && m_stops == stops)
                    beginCycle();
            },
            Qt::QueuedConnection);
    }
}

} // namespace station
