#include "program/programregisters.h"

#include "common/logging.h"
#include "common/numbers.h"
#include "link/modbusrtu.h"
#include "link/registerimage.h"


namespace station::program {

const std::array<ComboOption, 5> &comboOptions()
{
    // Entries keep their trailing blank; the option number is found by exact text.
    static const std::array<ComboOption, 5> options{{
        {QStringLiteral("Combo2"), QStringLiteral("曲线时间单位"), reg::kTimeUnit,
         {QStringLiteral("0:小时 "), QStringLiteral("1:分钟 "), QStringLiteral("2:秒 ")}},
        {QStringLiteral("Combo4"), QStringLiteral("程序段数"), reg::kSegmentCount,
         {QStringLiteral("1:1段 "), QStringLiteral("2:2段 "), QStringLiteral("3:3段 "), QStringLiteral("4:4段 "),
          QStringLiteral("5:5段 "), QStringLiteral("6:6段 "), QStringLiteral("7:7段 "), QStringLiteral("8:8段 ")}},
        {QStringLiteral("Combo1"), QStringLiteral("掉电处理"), reg::kPowerFailure,
         {QStringLiteral("0:来电继续 "), QStringLiteral("1:来电停止 "), QStringLiteral("2:来电从第一段运行 "),
          QStringLiteral("3:无偏差继续运行，有偏差停 "), QStringLiteral("4:来电进入暂停 ")}},
        {QStringLiteral("Combo8"), QStringLiteral("起始设定值"), reg::kStartSetValue,
         {QStringLiteral("0:测量值 "), QStringLiteral("1:设定值 ")}},
        {QStringLiteral("Combo3"), QStringLiteral("结束输出功能"), reg::kEndOutput,
         {QStringLiteral("0:输出控制为0 "), QStringLiteral("1:保持最后SV控制 ")}},
    }};
    return options;
}

int optionNumber(const QStringList &entries, const QString &text)
{
    return int(entries.indexOf(text));
}

std::optional<std::int32_t> entryValue(const QString &text)
{
    return toInt32(leadingNumber(text));
}

void fillSegmentTables(SegmentTables &tables, const std::function<QString(int entry)> &text)
{
    for (int k = 1; k <= kSegments; ++k) {
        if (const auto v = toInt16(leadingNumber(text(segmentEntry(k, SegmentField::Sv1)))))
            tables.sv1[std::size_t(k)] = *v;
        if (const auto v = toInt16(leadingNumber(text(segmentEntry(k, SegmentField::Sv2)))))
            tables.sv2[std::size_t(k)] = *v;
        if (const auto v = toInt32(leadingNumber(text(segmentEntry(k, SegmentField::Time)))))
            tables.time[std::size_t(k)] = *v;
    }
    tables.time[0] = 0;
}

bool readProgramBlock(link::ReadChain &chain, ProgramImage &image, std::function<void()> done)
{
    const LinkSettings &settings = linkSettings();
    constexpr int runs = reg::kBlockCount / reg::kBlockRun;
    std::vector<link::ReadChain::Step> steps;
    for (int run = 0; run < runs; ++run) {
        link::Request r;
        r.op = link::Op::ReadHolding;
        r.port = settings.port;
        r.station = settings.station;
        r.first = reg::kBlockFirst + run * reg::kBlockRun;
        r.count = reg::kBlockRun;
        std::int32_t *into = image.data() + run * reg::kBlockRun;
        steps.push_back({r, [into](const link::Reply &reply) {
                             if (reply.result == link::kOk && reply.words.size() >= std::size_t(reg::kBlockRun))
                                 std::copy_n(reply.words.begin(), reg::kBlockRun, into);
                         }});
    }
    return chain.start(std::move(steps), std::move(done));
}

std::int32_t writeProgramRegister(std::int32_t reg, std::int32_t value, const QVariant &tag)
{
    const std::int32_t result = writeWithRetry(reg, value, tag);
    qCDebug(lcProgram, "write %d = %d -> %d", reg, value, result);
    return result;
}

} // namespace station::program
