// What went wrong on the link, as a type, and what the operator reads about it.
//
// The backend keeps the last failure as a LinkFailure: a kind, a number (the
// exception code of an exception reply, the lateness in milliseconds of a reply
// that came too late, the errno otherwise) and the system's own words
// ("Permission denied", "Connection timed out"), which stay for the
// maintainer. The link-state indicator shows the kind in Chinese, with the cure
// where one is known (the table in linkerror.cpp).
#pragma once

#include <QString>

#include <cstdint>

namespace station::link {

enum class LinkFault : std::uint8_t {
    None,
    NotOpen,      // no "打开" for this port, or "关闭" since
    BadSettings,  // a baud or parity code the line does not know
    NoPermission, // the device may not be opened: the user is not in the dialout group
    NoDevice,     // nothing at the port's path: the adapter is not plugged in, or the link is wrong
    DeviceBusy,   // another program holds the device (link/portlock.h)
    DeviceLost,   // the device went away during an exchange (an adapter pulled out)
    TimedOut,     // no whole reply within the response time-out
    TooLate,      // replies come, but later than the longest time-out (number: the lateness in ms)
    BadCrc,       // a reply with a wrong checksum
    BadReply,     // a reply that does not fit its request (length, function, station)
    Exception,    // the controller refused the request (number: the exception code)
    Other,        // anything else (number: errno)
};

struct LinkFailure {
    LinkFault fault = LinkFault::None;
    int number = 0;
    QString words; // the system's own words, for the maintainer
    QString holder; // DeviceBusy: who holds the device, where that can be known

    bool operator==(const LinkFailure &) const = default;
};

// The kind in Chinese, for the operator ("控制器无应答（超时）"); the exception
// code, the lateness and the holder of a busy port are part of it.
QString failureText(const LinkFailure &failure);
// The same, followed by the system's words in brackets where there are any
// ("控制器无应答（超时） [Connection timed out]").
QString failureTextWithWords(const LinkFailure &failure);
// What the operator can do about it; empty when no cure is known.
QString failureCure(LinkFault fault);

} // namespace station::link
