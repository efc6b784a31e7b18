// The simulated controller's memory: coils, discrete inputs, input and holding
// registers of the blocks in registermap.h, and the log of writes that came in
// over the wire. Every member is safe to call from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

typedef struct _modbus modbus_t;

namespace station::sim {

struct RegisterWrite {
    int reg = 0;
    std::int16_t value = 0;
    bool operator==(const RegisterWrite &) const = default;
};

class RegisterBank {
public:
    RegisterBank();
    ~RegisterBank();
    RegisterBank(const RegisterBank &) = delete;
    RegisterBank &operator=(const RegisterBank &) = delete;

    // Registers hold 16-bit words; the accessors read and write them as signed
    // values, so -1 is stored as 0xFFFF. Numbers outside the blocks are ignored
    // by the setters and read as 0.
    void setInput(int reg, std::int16_t value);
    std::int16_t input(int reg) const;
    void setHolding(int reg, std::int16_t value);
    std::int16_t holding(int reg) const;
    void setDiscrete(int point, bool on);
    bool discrete(int point) const;
    void setCoil(int point, bool on);
    bool coil(int point) const;

    // What a write from the station does: stores the value, appends it to the
    // write log and counts it. The server calls this for functions 06 and 16;
    // model tests call it to play the station.
    void applyWrite(int reg, std::int16_t value);

    // Writes from the station since construction or the last clearWrites().
    std::vector<RegisterWrite> writes() const;
    void clearWrites();
    // How many times the station wrote holding register reg; never cleared, so a
    // model can tell a repeated command from no command.
    std::uint64_t writeCount(int reg) const;

    // Answers one RTU request (whole frame with CRC, already checked and
    // addressed to this station) through ctx, from and into this memory. A range
    // outside the blocks answers "illegal data address", a function other than
    // 01..06, 15, 16 "illegal function". Returns modbus_reply's result.
    int answer(modbus_t *ctx, const std::uint8_t *request, int length);

private:
    struct Store;
    void storeWriteLocked(int reg, std::int16_t value);

    mutable std::mutex mutex_;
    std::unique_ptr<Store> store_;
    std::vector<RegisterWrite> log_;
    std::vector<std::uint64_t> writeCounts_;
};

} // namespace station::sim
