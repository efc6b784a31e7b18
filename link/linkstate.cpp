#include "link/linkstate.h"

#include <algorithm>

namespace station::link {

LinkState linkState(bool open, std::chrono::steady_clock::time_point openedAt, const LinkStatus &status,
                    std::chrono::steady_clock::time_point now)
{
    if (!open)
        return LinkState::Closed;
    const auto since = std::max(openedAt, status.lastGoodAt);
    return now - since <= kLostAfter ? LinkState::Answering : LinkState::Lost;
}

QString linkStateText(LinkState state)
{
    switch (state) {
    case LinkState::Closed: return QStringLiteral("未连接");
    case LinkState::Answering: return QStringLiteral("通讯正常");
    case LinkState::Lost: return QStringLiteral("通讯中断");
    }
    return {};
}

QString linkStateToolTip(const LinkStatus &status)
{
    const QString none = QStringLiteral("无");
    QStringList lines;
    lines << QStringLiteral("设备：%1").arg(status.device.isEmpty() ? none : status.device);
    lines << QStringLiteral("最后错误：%1").arg(status.lastError.isEmpty() ? none : status.lastError);
    lines << QStringLiteral("自打开起：成功 %1 次，失败 %2 次").arg(status.good).arg(status.failed);
    lines << QStringLiteral("最后正常应答：%1")
                 .arg(status.lastGood.isValid() ? status.lastGood.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                                : none);
    return lines.join(u'\n');
}

} // namespace station::link
