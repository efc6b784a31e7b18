// The seven link operations the station calls. Every argument and result is a
// 32-bit signed integer; a buffer is the address of consecutive 32-bit slots.
//
//   OpenPort_Modbus(port, baudCode, parityCode)   baud 0 = 4800, 1 = 9600, 2 = 19200;
//                                                 parity 0 none, 1 odd, 2 even
//   ClosePort_Modbus(port)
//   Get_3X_DX(port, station, first, count, buf)  input registers, one slot each,
//                                                 16-bit signed widened to 32 bits
//   Get_4X_DX(port, station, first, count, buf)  holding registers, the same
//   Get_1X_B16(port, station, first, buf)        16 discrete inputs from `first` into two
//                                                 byte slots: slot 0 points first..first+7,
//                                                 slot 1 the next eight, lowest point in bit 0
//   Get_0X_B16(port, station, first, buf)        the same for coils
//   Set_4X_D1(port, station, reg, value)         one holding register; kWriteFailed on failure.
//                                                 value kWriteMin..kWriteMax, the signed and
//                                                 the unsigned reading of one 16-bit word;
//                                                 any other value fails without an exchange
//
// Register and point numbers go on the wire unchanged (4097 is address 0x1001).
// A failed read leaves the buffer untouched and returns kReadFailed.
// Every call runs on the link thread (link/linkthread.h), one at a time; called
// from another thread a call is handed over and waited for there, so each still
// blocks its caller until its exchange ends (or fails, kReadFailed or
// kWriteFailed, when the link thread gives up its queue at exit). The windows
// never call them.
#pragma once

#include <cstdint>

namespace station::link {
inline constexpr std::int32_t kWriteFailed = -8888;
inline constexpr std::int32_t kReadFailed = -1;
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kWriteMin = -32768;
inline constexpr std::int32_t kWriteMax = 65535;
// A value Set_4X_D1 sends: the signed or the unsigned reading of a 16-bit word.
inline constexpr bool isRegisterWord(std::int32_t value)
{
    return value >= kWriteMin && value <= kWriteMax;
}
} // namespace station::link

std::int32_t OpenPort_Modbus(std::int32_t port, std::int32_t baudCode, std::int32_t parityCode);
std::int32_t ClosePort_Modbus(std::int32_t port);
std::int32_t Get_3X_DX(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t count,
                       std::int32_t *buffer);
std::int32_t Get_4X_DX(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t count,
                       std::int32_t *buffer);
std::int32_t Get_1X_B16(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t *buffer);
std::int32_t Get_0X_B16(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t *buffer);
std::int32_t Set_4X_D1(std::int32_t port, std::int32_t station, std::int32_t reg, std::int32_t value);
