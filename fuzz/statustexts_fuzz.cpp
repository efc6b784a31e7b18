// Fuzz target: the texts the windows show for a register image, the status
// panel's station::status::statusTexts and the program editor's
// runStatusTexts and readBackTexts.
//
// Input: a mode byte, then the values. Mode 0 fills the image as the poller
// does (16-bit registers, floats copied from them, bits 0 or 1, live samples
// 8 and 9 at 0 or 100); mode 1 takes every integer and float as a raw bit
// pattern (NaN, infinities, INT_MIN), which no poll produces but no text may
// trip over. Then the program block's 48 registers, 16-bit in mode 0.
//
// Properties: every label that shows a register shows it as plain decimal
// that reads back (leading-number rule) as the register, or within seven
// significant digits where the value is divided; words replace numbers
// exactly for the documented codes; a state label is active exactly when its
// bit is not 0; labels that do not exist stay empty.
#include "app/status/statustables.h"
#include "app/status/statustexts.h"
#include "common/numbers.h"
#include "fuzz/fuzzcheck.h"
#include "program/programregisters.h"
#include "program/runstatus.h"

#include <cmath>
#include <map>
#include <utility>

using station::leadingNumber;
using station::fuzz::escaped;
using station::fuzz::Input;
using station::fuzz::plainDecimal;
using station::fuzz::withinSevenDigits;
namespace status = station::status;
namespace program = station::program;

namespace {

struct Source {
    Input &in;
    bool raw;
    std::int32_t word() { return raw ? in.take<std::int32_t>() : in.take<std::int16_t>(); }
    std::int32_t bit() { return raw ? in.take<std::int32_t>() : in.byte() & 1; }
    float sample(std::int32_t fromWord) { return raw ? in.take<float>() : float(fromWord); }
};

station::RegisterImage imageFrom(Source &src)
{
    station::RegisterImage img;
    for (auto &w : img.inputWords)
        w = src.word();
    for (auto &b : img.discreteBits)
        b = src.bit();
    for (auto &b : img.coilBits)
        b = src.bit();
    for (std::size_t i = 0; i < 8; ++i)
        img.liveSample[i] = src.sample(img.inputWords[i]);
    img.liveSample[8] = src.raw ? src.in.take<float>() : (img.discreteBits[0] == 1 ? 100.0f : 0.0f);
    img.liveSample[9] = src.raw ? src.in.take<float>() : (img.discreteBits[1] == 1 ? 100.0f : 0.0f);
    for (auto &w : img.programStatus)
        w = src.word();
    for (std::size_t i = 0; i < img.holdingWords.size(); ++i) {
        img.holdingWords[i] = src.word();
        img.holdingFloat[i] = src.sample(img.holdingWords[i]);
    }
    for (auto &p : img.paramImage)
        p = src.sample(src.word());
    for (auto &w : img.alarmWords)
        w = src.word();
    return img;
}

bool showsInteger(const QString &text, std::int32_t value)
{
    return plainDecimal(text) && !text.contains(u'.') && leadingNumber(text) == double(value);
}

bool showsValue(const QString &text, double value)
{
    if (!std::isfinite(value))
        return !text.isEmpty();
    return plainDecimal(text) && withinSevenDigits(leadingNumber(text), value);
}

QString describe(const char *label, int i, const QString &text, double value)
{
    return QStringLiteral("%1 %2 shows \"%3\" for %4")
        .arg(QLatin1String(label)).arg(i).arg(escaped(text), QString::number(value, 'g', 17));
}

void checkStatusTexts(const station::RegisterImage &img)
{
    const status::StatusTexts t = status::statusTexts(img);

    const std::int32_t state = img.programStatus[0];
    if (state >= 0 && state < std::int32_t(status::kRunStateTexts.size()))
        FUZZ_REQUIRE(t.program[0] == status::kRunStateTexts[std::size_t(state)], describe("program", 0, t.program[0], state));
    else
        FUZZ_REQUIRE(showsInteger(t.program[0], state), describe("program", 0, t.program[0], state));
    for (int i = 1; i < status::kProgramLabelCount; ++i)
        FUZZ_REQUIRE(showsInteger(t.program[std::size_t(i)], img.programStatus[std::size_t(i)]),
                     describe("program", i, t.program[std::size_t(i)], img.programStatus[std::size_t(i)]));

    for (int i = 0; i < status::kProcessLabelCount; ++i) {
        const float sample = img.liveSample[std::size_t(i)];
        const QString &text = t.process[std::size_t(i)];
        if (i >= status::kAlarmKindFirst) {
            const bool known = sample == std::trunc(sample) && sample >= 0 && sample <= 5;
            if (known) {
                FUZZ_REQUIRE(!plainDecimal(text) && !text.isEmpty(), describe("process", i, text, double(sample)));
                continue;
            }
        }
        const bool tenths = i == status::kRetransmission1 || i == status::kRetransmission2;
        const double shown = tenths ? double(sample) / status::kRetransmissionDivisor : double(sample);
        FUZZ_REQUIRE(showsValue(text, shown), describe("process", i, text, shown));
    }

    for (int i = 0; i < status::kSetValueLabelCount; ++i)
        FUZZ_REQUIRE(showsInteger(t.setValue[std::size_t(i)], img.holdingWords[std::size_t(i)]),
                     describe("set value", i, t.setValue[std::size_t(i)], img.holdingWords[std::size_t(i)]));

    for (int k = 0; k < status::kStateLabelCount; ++k) {
        const std::int32_t bit = img.discreteBits[std::size_t(k)];
        const status::StateLabelText &s = t.states[std::size_t(k)];
        FUZZ_REQUIRE(s.active == (bit != 0) && !s.text.isEmpty(), describe("state", k, s.text, bit));
        FUZZ_REQUIRE(s.text == (s.active ? status::kStateTexts[std::size_t(k)].active
                                         : status::kStateTexts[std::size_t(k)].inactive),
                     describe("state", k, s.text, bit));
    }

    std::array<bool, station::reg::kParamCount> shown{};
    for (const status::PanelParam &p : status::kPanelParams) {
        shown[std::size_t(p.index)] = true;
        const float v = img.paramImage[std::size_t(p.index)];
        const double value = p.index == status::kFilterParam ? double(v) / status::kFilterDivisor : double(v);
        const QString &text = t.params[std::size_t(p.index)];
        FUZZ_REQUIRE(showsValue(text, value), describe("parameter", p.index, text, value));
    }
    for (int i = 0; i < station::reg::kParamCount; ++i)
        if (!shown[std::size_t(i)])
            FUZZ_REQUIRE(t.params[std::size_t(i)].isEmpty(), describe("parameter", i, t.params[std::size_t(i)], 0));

    for (int i = 0; i < status::kAlarmLabelCount; ++i)
        FUZZ_REQUIRE(showsInteger(t.alarms[std::size_t(i)], img.alarmWords[std::size_t(i)]),
                     describe("alarm", i, t.alarms[std::size_t(i)], img.alarmWords[std::size_t(i)]));
}

void checkRunStatus(const std::array<std::int32_t, 16> &status)
{
    const auto texts = program::runStatusTexts(status);
    const std::int32_t state = status[0];
    if (state >= 0 && state <= 3)
        FUZZ_REQUIRE(texts[0] == program::runStateText(state) && !plainDecimal(texts[0]),
                     describe("run status", 0, texts[0], state));
    else
        FUZZ_REQUIRE(showsInteger(texts[0], state), describe("run status", 0, texts[0], state));
    for (int i = 1; i < program::kStatusLabels; ++i)
        FUZZ_REQUIRE(showsInteger(texts[std::size_t(i)], status[std::size_t(i)]),
                     describe("run status", i, texts[std::size_t(i)], status[std::size_t(i)]));
}

void checkReadBack(const program::ProgramImage &image)
{
    // Slots whose value is shown as a word, and the codes that have one.
    const std::map<int, std::pair<std::int32_t, std::int32_t>> words{
        {program::imageSlot(program::reg::kTimeUnit), {0, 2}},
        {program::imageSlot(program::reg::kCycleCount), {0, 0}},
        {program::imageSlot(program::reg::kPowerFailure), {0, 4}},
        {program::imageSlot(program::reg::kStartSetValue), {0, 1}},
        {program::imageSlot(program::reg::kEndOutput), {0, 1}},
    };
    const program::ReadBack back = program::readBackTexts(image);
    for (int j = 0; j < program::kReadBackLabels; ++j) {
        const auto &label = back.labels[std::size_t(j)];
        const std::int32_t value = image[std::size_t(j)];
        FUZZ_REQUIRE(label.has_value() == program::readBackLabelExists(j),
                     describe("read-back", j, label.value_or(QString()), value));
        if (!label)
            continue;
        const auto w = words.find(j);
        if (w != words.end() && value >= w->second.first && value <= w->second.second)
            FUZZ_REQUIRE(!label->isEmpty() && !plainDecimal(*label), describe("read-back", j, *label, value));
        else
            FUZZ_REQUIRE(showsInteger(*label, value), describe("read-back", j, *label, value));
    }
    const std::int32_t unit = image[std::size_t(program::imageSlot(program::reg::kTimeUnit))];
    FUZZ_REQUIRE(back.timeAxisTitle.has_value() == (unit >= 0 && unit <= 2),
                 describe("time axis title", 0, back.timeAxisTitle.value_or(QString()), unit));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in(data, size);
    Source src{in, (in.byte() & 1) != 0};
    const station::RegisterImage img = imageFrom(src);
    checkStatusTexts(img);
    checkRunStatus(img.programStatus);

    program::ProgramImage block{};
    for (int j = 0; j < program::reg::kBlockCount; ++j)
        block[std::size_t(j)] = src.word();
    checkReadBack(block);
    return 0;
}
