#include "record/recorderhealth.h"

#include <array>
#include <utility>

namespace station {

namespace {

struct KindRow {
    RecorderHealthKind kind;
    const char *text;  // UTF-8
    bool trouble;
    const char *name;
};

constexpr std::array<KindRow, 8> kKinds{{
    {RecorderHealthKind::DiskSlow, "记录延迟：磁盘写入缓慢，样本按序排队等待写入", true, "disk-slow"},
    {RecorderHealthKind::DiskRecovered, "记录恢复：排队的样本已写入", false, "disk-recovered"},
    {RecorderHealthKind::SamplesDropped, "记录丢失：磁盘长时间无响应，部分秒的样本未能保存", true, "samples-dropped"},
    {RecorderHealthKind::FileSetAside, "数据库文件无法使用，已另存备查，并新建记录继续记录", false, "file-set-aside"},
    {RecorderHealthKind::IndexReplaced, "数据库的只读索引文件已重建，记录继续", false, "index-replaced"},
    {RecorderHealthKind::Suspended, "记录暂停：数据库文件无法打开或写入", true, "suspended"},
    {RecorderHealthKind::Resumed, "记录已恢复", false, "resumed"},
    {RecorderHealthKind::ExitIncomplete, "退出时未能将全部记录合并到数据库文件", true, "exit-incomplete"},
}};

const KindRow &rowOf(RecorderHealthKind kind)
{
    for (const KindRow &row : kKinds)
        if (row.kind == kind)
            return row;
    return kKinds.back();
}

} // namespace

QString recorderHealthText(RecorderHealthKind kind)
{
    return QString::fromUtf8(rowOf(kind).text);
}

QString recorderHealthName(RecorderHealthKind kind)
{
    return QLatin1String(rowOf(kind).name);
}

bool isRecorderTrouble(RecorderHealthKind kind)
{
    return rowOf(kind).trouble;
}

RecorderHealth recorderHealth(RecorderHealthKind kind, const QString &details)
{
    return RecorderHealth{kind, recorderHealthText(kind), details};
}

} // namespace station
