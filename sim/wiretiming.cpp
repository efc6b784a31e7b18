#include "sim/wiretiming.h"

#include <algorithm>

namespace station::sim {

namespace {
constexpr int kStartBits = 1;
constexpr int kDataBits = 8;
constexpr int kFastLineBaud = 19200;
constexpr std::chrono::nanoseconds kFastLineGap = std::chrono::microseconds(1750);
} // namespace

int bitsPerCharacter(const LineFormat &format)
{
    const bool parity = format.parity == 'O' || format.parity == 'E';
    const int stopBits = format.stopBits > 0 ? format.stopBits : (parity ? 1 : 2);
    return kStartBits + kDataBits + (parity ? 1 : 0) + stopBits;
}

std::chrono::nanoseconds characterTime(const LineFormat &format)
{
    const long long baud = std::max(1, format.baud);
    return std::chrono::nanoseconds(bitsPerCharacter(format) * 1'000'000'000LL / baud);
}

std::chrono::nanoseconds frameGap(const LineFormat &format)
{
    if (format.baud > kFastLineBaud)
        return kFastLineGap;
    return characterTime(format) * 7 / 2;
}

std::chrono::nanoseconds exchangeTime(const LineFormat &format, int requestBytes, int replyBytes)
{
    return characterTime(format) * (requestBytes + replyBytes) + 2 * frameGap(format);
}

} // namespace station::sim
