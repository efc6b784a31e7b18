#include "sim/registerbank.h"

#include "common/logging.h"
#include "sim/registermap.h"

#include <modbus.h>

#include <new>

namespace station::sim {

namespace {

// Largest quantities a request may ask for; above them modbus_reply answers
// "illegal data value" itself.
constexpr int kMaxReadBits = MODBUS_MAX_READ_BITS;
constexpr int kMaxWriteBits = MODBUS_MAX_WRITE_BITS;
constexpr int kMaxReadRegisters = MODBUS_MAX_READ_REGISTERS;
constexpr int kMaxWriteRegisters = MODBUS_MAX_WRITE_REGISTERS;

struct Access {
    Table table;
    int first;
    int count;
    int maxCount;
};

} // namespace

// The storage is one libmodbus mapping indexed by register number, so that
// modbus_reply can serve it directly; index 0 and the gaps between blocks are
// never reached because answer() refuses ranges outside the blocks.
struct RegisterBank::Store {
    modbus_mapping_t *map;
    Store()
        : map(modbus_mapping_new(tableEnd(Table::Coil), tableEnd(Table::Discrete), tableEnd(Table::Holding),
                                 tableEnd(Table::Input)))
    {
        if (!map)
            throw std::bad_alloc();
    }
    ~Store() { modbus_mapping_free(map); }
};

RegisterBank::RegisterBank()
    : store_(std::make_unique<Store>())
    , writeCounts_(tableEnd(Table::Holding), 0)
{
}

RegisterBank::~RegisterBank() = default;

void RegisterBank::setInput(int reg, std::int16_t value)
{
    if (!inBlocks(Table::Input, reg)) {
        qCWarning(lcSim) << "setInput outside the blocks:" << reg;
        return;
    }
    std::lock_guard lock(mutex_);
    store_->map->tab_input_registers[reg] = static_cast<std::uint16_t>(value);
}

std::int16_t RegisterBank::input(int reg) const
{
    if (!inBlocks(Table::Input, reg))
        return 0;
    std::lock_guard lock(mutex_);
    return static_cast<std::int16_t>(store_->map->tab_input_registers[reg]);
}

void RegisterBank::setHolding(int reg, std::int16_t value)
{
    if (!inBlocks(Table::Holding, reg)) {
        qCWarning(lcSim) << "setHolding outside the blocks:" << reg;
        return;
    }
    std::lock_guard lock(mutex_);
    store_->map->tab_registers[reg] = static_cast<std::uint16_t>(value);
}

std::int16_t RegisterBank::holding(int reg) const
{
    if (!inBlocks(Table::Holding, reg))
        return 0;
    std::lock_guard lock(mutex_);
    return static_cast<std::int16_t>(store_->map->tab_registers[reg]);
}

void RegisterBank::setDiscrete(int point, bool on)
{
    if (!inBlocks(Table::Discrete, point)) {
        qCWarning(lcSim) << "setDiscrete outside the blocks:" << point;
        return;
    }
    std::lock_guard lock(mutex_);
    store_->map->tab_input_bits[point] = on ? 1 : 0;
}

bool RegisterBank::discrete(int point) const
{
    if (!inBlocks(Table::Discrete, point))
        return false;
    std::lock_guard lock(mutex_);
    return store_->map->tab_input_bits[point] != 0;
}

void RegisterBank::setCoil(int point, bool on)
{
    if (!inBlocks(Table::Coil, point)) {
        qCWarning(lcSim) << "setCoil outside the blocks:" << point;
        return;
    }
    std::lock_guard lock(mutex_);
    store_->map->tab_bits[point] = on ? 1 : 0;
}

bool RegisterBank::coil(int point) const
{
    if (!inBlocks(Table::Coil, point))
        return false;
    std::lock_guard lock(mutex_);
    return store_->map->tab_bits[point] != 0;
}

void RegisterBank::applyWrite(int reg, std::int16_t value)
{
    if (!inBlocks(Table::Holding, reg)) {
        qCWarning(lcSim) << "applyWrite outside the blocks:" << reg;
        return;
    }
    std::lock_guard lock(mutex_);
    storeWriteLocked(reg, value);
}

void RegisterBank::storeWriteLocked(int reg, std::int16_t value)
{
    store_->map->tab_registers[reg] = static_cast<std::uint16_t>(value);
    log_.push_back({reg, value});
    ++writeCounts_[reg];
    qCDebug(lcSim) << "write" << reg << "=" << value;
}

std::vector<RegisterWrite> RegisterBank::writes() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

void RegisterBank::clearWrites()
{
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::uint64_t RegisterBank::writeCount(int reg) const
{
    if (!inBlocks(Table::Holding, reg))
        return 0;
    std::lock_guard lock(mutex_);
    return writeCounts_[reg];
}

int RegisterBank::answer(modbus_t *ctx, const std::uint8_t *req, int length)
{
    const int offset = modbus_get_header_length(ctx);
    const int function = req[offset];
    switch (function) {
    case MODBUS_FC_READ_COILS:
    case MODBUS_FC_READ_DISCRETE_INPUTS:
    case MODBUS_FC_READ_HOLDING_REGISTERS:
    case MODBUS_FC_READ_INPUT_REGISTERS:
    case MODBUS_FC_WRITE_SINGLE_COIL:
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
    case MODBUS_FC_WRITE_MULTIPLE_COILS:
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        break;
    default:
        qCDebug(lcSim) << "illegal function" << function;
        return modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    }
    // Function code, address and quantity (or value): every function served
    // here carries at least these five bytes after the address byte(s).
    if (length < offset + 5)
        return modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    const auto word = [req](int at) { return (req[at] << 8) | req[at + 1]; };
    const int address = word(offset + 1);
    const int quantity = word(offset + 3);

    Access access{};
    switch (function) {
    case MODBUS_FC_READ_COILS:
        access = {Table::Coil, address, quantity, kMaxReadBits};
        break;
    case MODBUS_FC_READ_DISCRETE_INPUTS:
        access = {Table::Discrete, address, quantity, kMaxReadBits};
        break;
    case MODBUS_FC_READ_HOLDING_REGISTERS:
        access = {Table::Holding, address, quantity, kMaxReadRegisters};
        break;
    case MODBUS_FC_READ_INPUT_REGISTERS:
        access = {Table::Input, address, quantity, kMaxReadRegisters};
        break;
    case MODBUS_FC_WRITE_SINGLE_COIL:
        access = {Table::Coil, address, 1, 1};
        break;
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
        access = {Table::Holding, address, 1, 1};
        break;
    case MODBUS_FC_WRITE_MULTIPLE_COILS:
        access = {Table::Coil, address, quantity, kMaxWriteBits};
        break;
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        access = {Table::Holding, address, quantity, kMaxWriteRegisters};
        break;
    }

    const bool quantityOk = access.count >= 1 && access.count <= access.maxCount;
    if (quantityOk && !inBlocks(access.table, access.first, access.count)) {
        qCDebug(lcSim) << "illegal data address, function" << function << "address" << address << "quantity"
                       << access.count;
        return modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    }

    std::lock_guard lock(mutex_);
    const int rc = modbus_reply(ctx, req, length, store_->map);
    if (function == MODBUS_FC_WRITE_SINGLE_REGISTER) {
        storeWriteLocked(address, static_cast<std::int16_t>(quantity));
    } else if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS && quantityOk) {
        // Byte count, then the values; modbus_reply stored them only when the
        // byte count matches the quantity.
        const int byteCount = req[offset + 5];
        if (byteCount == 2 * access.count && length >= offset + 6 + byteCount) {
            for (int i = 0; i < access.count; ++i)
                storeWriteLocked(address + i, static_cast<std::int16_t>(word(offset + 6 + 2 * i)));
        }
    }
    return rc;
}

} // namespace station::sim
