#include "program/runstatus.h"

#include <QStringList>

namespace station::program {

namespace {

// Word for value v from a list indexed by value; nullopt outside the list.
std::optional<QString> word(const QStringList &words, std::int32_t v)
{
    if (v < 0 || v >= words.size())
        return std::nullopt;
    return words.at(v);
}

} // namespace

QString runStateText(std::int32_t state)
{
    static const QStringList words{QStringLiteral("停止  "), QStringLiteral("运行"), QStringLiteral("暂停"),
                                   QStringLiteral("结束")};
    return word(words, state).value_or(QString::number(state));
}

std::array<QString, kStatusLabels> runStatusTexts(const std::array<std::int32_t, 16> &status)
{
    std::array<QString, kStatusLabels> texts;
    for (int i = 0; i < kStatusLabels; ++i)
        texts[std::size_t(i)] = QString::number(status[std::size_t(i)]);
    texts[0] = runStateText(status[0]);
    return texts;
}

ReadBack readBackTexts(const ProgramImage &image)
{
    ReadBack out;
    for (int j = 0; j < kReadBackLabels; ++j)
        if (readBackLabelExists(j))
            out.labels[std::size_t(j)] = QString::number(image[std::size_t(j)]);

    auto decode = [&](std::int32_t reg, const QStringList &words) {
        const int slot = imageSlot(reg);
        if (auto w = word(words, image[std::size_t(slot)]))
            out.labels[std::size_t(slot)] = *w;
    };

    static const QStringList unitLetters{QStringLiteral("H"), QStringLiteral("M"), QStringLiteral("S")};
    static const QStringList unitTitles{QStringLiteral("时间单位：小时"), QStringLiteral("时间单位：分钟"),
                                        QStringLiteral("时间单位：秒")};
    decode(reg::kTimeUnit, unitLetters);
    out.timeAxisTitle = word(unitTitles, image[std::size_t(imageSlot(reg::kTimeUnit))]);

    if (image[std::size_t(imageSlot(reg::kCycleCount))] == 0)
        out.labels[std::size_t(imageSlot(reg::kCycleCount))] = QStringLiteral("无限");

    decode(reg::kPowerFailure, {QStringLiteral("来电继续"), QStringLiteral("来电停止"), QStringLiteral("第一段运行"),
                                QStringLiteral("有偏差停"), QStringLiteral("进入暂停 ")});
    decode(reg::kStartSetValue, {QStringLiteral("测量值"), QStringLiteral("设定值")});
    decode(reg::kEndOutput, {QStringLiteral("输出为零"), QStringLiteral("最后SV控制")});
    return out;
}

} // namespace station::program
