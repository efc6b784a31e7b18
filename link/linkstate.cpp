#include "link/linkstate.h"

#include <QStringList>

namespace station::link {

LinkState linkState(const OpenMark &mark, const LinkStatus &status, std::chrono::steady_clock::time_point now)
{
    if (!mark.open)
        return LinkState::Closed;
    const bool withinASecond = now - mark.at <= kLostAfter;
    if (status.opens < mark.ticket) // the open is still queued: the status is an older one's
        return withinASecond ? LinkState::Opening : LinkState::Lost;
    if (status.lastGoodAt != std::chrono::steady_clock::time_point{})
        return now - status.lastGoodAt <= kLostAfter ? LinkState::Answering : LinkState::Lost;
    if (status.openFailed)
        return LinkState::Lost;
    return withinASecond ? LinkState::Opening : LinkState::Lost;
}

QString linkStateText(LinkState state)
{
    switch (state) {
    case LinkState::Closed:
    case LinkState::Opening: return QStringLiteral("未连接");
    case LinkState::Answering: return QStringLiteral("通讯正常");
    case LinkState::Lost: return QStringLiteral("通讯中断");
    }
    return {};
}

QString linkStateToolTip(LinkState state, const LinkStatus &status)
{
    const QString none = QStringLiteral("无");
    QStringList lines;
    lines << QStringLiteral("设备：%1").arg(status.device.isEmpty() ? none : status.device);
    if (state == LinkState::Opening)
        lines << QStringLiteral("状态：等待控制器的第一个应答");
    const LinkFailure &f = status.lastFailure;
    if (f.fault == LinkFault::None) {
        lines << QStringLiteral("最后错误：%1").arg(none);
    } else {
        lines << QStringLiteral("最后错误：%1").arg(failureTextWithWords(f));
        if (const QString cure = failureCure(f.fault); !cure.isEmpty())
            lines << QStringLiteral("处理：%1").arg(cure);
    }
    const LineTimeouts &t = status.line;
    if (t.timeout > t.base)
        lines << QStringLiteral("应答超时：%1 毫秒（正常 %2 毫秒，最长 %3 毫秒）")
                     .arg(t.timeout.count())
                     .arg(t.base.count())
                     .arg(t.cap.count());
    if (status.writesWaiting > 0)
        lines << QStringLiteral("等待发送的写入：%1 个").arg(status.writesWaiting);
    lines << QStringLiteral("自打开起：成功 %1 次，失败 %2 次").arg(status.good).arg(status.failed);
    lines << QStringLiteral("最后正常应答：%1")
                 .arg(status.lastGood.isValid() ? status.lastGood.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                                : none);
    return lines.join(u'\n');
}

} // namespace station::link
