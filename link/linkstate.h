// The link state the operator sees beside "打开"/"关闭": whether the port is
// open and the controller answers. Plain logic over the link thread's status;
// the connection panel shows it and refreshes it four times a second.
//
//   closed                                   "未连接"
//   open, a good reply within the last 1 s   "通讯正常"
//   open, no good reply for 1 s              "通讯中断" (red)
//
// The second is counted from the open when no reply has come since: right
// after "打开" the line has one second to answer. The tooltip gives the device
// path, the last error in words, the good and failed exchanges since "打开" and
// the time of the last good reply.
#pragma once

#include "link/linkthread.h"

#include <QString>

#include <chrono>

namespace station::link {

enum class LinkState { Closed, Answering, Lost };

inline constexpr std::chrono::milliseconds kLostAfter{1000};

LinkState linkState(bool open, std::chrono::steady_clock::time_point openedAt, const LinkStatus &status,
                    std::chrono::steady_clock::time_point now);
QString linkStateText(LinkState state);
QString linkStateToolTip(const LinkStatus &status);

} // namespace station::link
