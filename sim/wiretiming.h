// How long an exchange takes on a real RS-485 line, so the simulator can hold
// its reply back by that much and the station sees realistic polling times.
//
// A character is a start bit, 8 data bits, the parity bit and the stop bits;
// without parity the line uses 2 stop bits, so every character is 11 bits:
//
//   9600 baud:  11 / 9600 s  = 1.1458 ms per character
//               3.5 chars    = 4.010 ms frame gap
//   a read of 16 registers: request 8 bytes (9.17 ms), reply 3 + 32 + 2 = 37
//   bytes (42.40 ms); with a gap after each frame the exchange takes
//   (8 + 3.5 + 37 + 3.5) * 1.1458 = 59.58 ms.
//   4800 baud doubles every figure; 19200 halves them (0.5729 ms per character).
//
// Above 19200 baud the gap is a fixed 1.75 ms instead of 3.5 characters.
#pragma once

#include <chrono>

namespace station::sim {

struct LineFormat {
    int baud = 9600;
    char parity = 'N';  // 'N', 'O' or 'E'
    int stopBits = 0;   // 0: the usual rule, 2 without parity, 1 with
};

int bitsPerCharacter(const LineFormat &format);
std::chrono::nanoseconds characterTime(const LineFormat &format);
// The silent interval that ends a frame: 3.5 characters, or 1.75 ms above 19200 baud.
std::chrono::nanoseconds frameGap(const LineFormat &format);
// Time from the first bit of a request to the end of the gap after its reply.
std::chrono::nanoseconds exchangeTime(const LineFormat &format, int requestBytes, int replyBytes);

} // namespace station::sim
