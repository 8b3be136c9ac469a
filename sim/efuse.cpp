#include "efuse.h"

namespace sim {

void EfuseArray::burn(unsigned address, uint8_t bits) {
    if (address >= m_bytes.size()) return;
    uint8_t before = m_bytes[address];
    m_bytes[address] = uint8_t(before | bits);
    if (m_bytes[address] != before) ++m_changes;
}

uint32_t EfuseController::read_control(int64_t now) const {
    return (m_control & ~1u) | (busy(now) ? 1u : 0u);
}

// Until a command has finished the data register holds nothing valid.
uint32_t EfuseController::read_data(int64_t now) const { return busy(now) ? 0 : m_data; }

void EfuseController::write_control(uint32_t value, bool powered, int64_t now, int64_t busy_us) {
    if (busy(now)) return;  // the block takes no new word while a command runs
    m_control = value;
    if (!(value & 1u)) return;
    ++m_commands;
    unsigned address = (value >> 8) & 0x3F;
    if (value & 2u) {
        if (powered) m_array->burn(address, uint8_t(value >> 16));
    } else {
        m_data = address < m_array->size() ? (0x100u | m_array->bytes()[address]) : 0;
    }
    m_busy_until = now + busy_us;
}

void EfuseController::reset() {
    m_control = 0;
    m_data = 0;
    m_busy_until = 0;
}

}  // namespace sim
