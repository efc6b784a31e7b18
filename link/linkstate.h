// The link state the operator sees beside "打开"/"关闭": whether the port is
// open and the controller answers. Plain logic over the link thread's status;
// the connection panel shows it and refreshes it four times a second.
//
//   closed                                          "未连接"
//   open, no good reply yet, for at most 1 s        "未连接" (Opening)
//   open, a good reply within the last 1 s          "通讯正常"
//   open, the open failed, or no good reply for 1 s "通讯中断" (red)
//
// Only a reply proves the line: the open itself counts for nothing, so a
// silent line or a missing device never reads "通讯正常". The indicator counts
// from its own open: the open's ticket (LinkThread::opensPosted() right after
// it was posted) tells whether the status read already belongs to that open,
// so a reply from before it, still in the status, is not taken for one after.
// An open that failed reads "通讯中断" as soon as it has been carried out.
//
// The tooltip gives the device path, the last failure in Chinese with its cure
// where one is known and the system's words in brackets, the response time-out
// when it has grown, the writes waiting, the good and failed exchanges since
// "打开" and the time of the last good reply.
#pragma once

#include "link/linkthread.h"

#include <QString>

#include <chrono>
#include <cstdint>

namespace station::link {

enum class LinkState { Closed, Opening, Answering, Lost };

inline constexpr std::chrono::milliseconds kLostAfter{1000};

// The open the indicator counts from.
struct OpenMark {
    bool open = false;
    std::chrono::steady_clock::time_point at{}; // when "打开" was pressed
    std::uint64_t ticket = 0;                   // opensPosted() once its open was posted
};

LinkState linkState(const OpenMark &mark, const LinkStatus &status, std::chrono::steady_clock::time_point now);
QString linkStateText(LinkState state);
QString linkStateToolTip(LinkState state, const LinkStatus &status);

} // namespace station::link
