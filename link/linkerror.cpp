#include "link/linkerror.h"

#include <array>

namespace station::link {

namespace {

struct FaultWords {
    LinkFault fault;
    const char16_t *text;
    const char16_t *cure; // empty: none known
};

// One row per kind: what the operator reads, and what to do about it.
constexpr std::array<FaultWords, 13> kFaultWords{{
    {LinkFault::None, u"无", u""},
    {LinkFault::NotOpen, u"端口未打开", u"请选择端口后按“打开”"},
    {LinkFault::BadSettings, u"串口参数无效", u"请重新选择波特率和校验方式"},
    {LinkFault::NoPermission, u"无权打开串口设备",
     u"请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），然后注销并重新登录"},
    {LinkFault::NoDevice, u"串口设备不存在",
     u"请插好 USB 适配器，并把 serial/comN 链接到 /dev/serial/by-id/ 下该适配器的名字"},
    {LinkFault::DeviceBusy, u"串口被占用", u"请关闭正在使用该串口的其他程序；串口空出后自动连接"},
    {LinkFault::DeviceLost, u"串口设备已断开", u"请插好 USB 适配器；设备回来后自动重新连接"},
    {LinkFault::TimedOut, u"控制器无应答（超时）", u"请检查模块地址、波特率、校验方式和接线"},
    {LinkFault::TooLate, u"控制器应答过迟", u"请检查网关或无线链路的延时，以及线上是否有其他主站"},
    {LinkFault::BadCrc, u"应答校验错误（CRC）", u"请检查波特率、校验方式、接线和屏蔽"},
    {LinkFault::BadReply, u"应答与请求不符", u"请检查模块地址，以及线上是否有其他设备使用同一地址"},
    {LinkFault::Exception, u"控制器拒绝请求", u""},
    {LinkFault::Other, u"通讯错误", u""},
}};

const FaultWords &wordsOf(LinkFault fault)
{
    for (const FaultWords &w : kFaultWords)
        if (w.fault == fault)
            return w;
    return kFaultWords.back();
}

// Modbus exception codes 1..11.
constexpr std::array<const char16_t *, 12> kExceptionNames{{
    u"", u"非法功能码", u"非法数据地址", u"非法数据值", u"从站设备故障", u"确认", u"从站设备忙",
    u"否定确认", u"存储奇偶校验错误", u"", u"网关路径不可用", u"网关目标设备无应答",
}};

} // namespace

QString failureText(const LinkFailure &failure)
{
    const QString text = QString::fromUtf16(wordsOf(failure.fault).text);
    switch (failure.fault) {
    case LinkFault::Exception: {
        const bool named = failure.number > 0 && failure.number < int(kExceptionNames.size())
                           && *kExceptionNames[std::size_t(failure.number)];
        const QString name = named ? QString::fromUtf16(kExceptionNames[std::size_t(failure.number)])
                                   : QStringLiteral("异常");
        return QStringLiteral("%1：%2（异常码 %3）").arg(text, name).arg(failure.number);
    }
    case LinkFault::TooLate:
        return QStringLiteral("%1（约 %2 毫秒）").arg(text).arg(failure.number);
    case LinkFault::DeviceBusy:
        return failure.holder.isEmpty() ? text : QStringLiteral("%1：%2").arg(text, failure.holder);
    default:
        return text;
    }
}

QString failureTextWithWords(const LinkFailure &failure)
{
    QString text = failureText(failure);
    if (!failure.words.isEmpty())
        text += QStringLiteral(" [%1]").arg(failure.words);
    return text;
}

QString failureCure(LinkFault fault)
{
    return QString::fromUtf16(wordsOf(fault).cure);
}

} // namespace station::link
