// The chip's eFuse: an array of one-time-programmable bytes behind a control
// register and a data register.
//
// Control register: bit 0 starts a command and reads 1 while it runs, bit 1
// selects a write (burn) instead of a read, bits 8-13 the byte address, bits
// 16-23 the value to burn. A read leaves the byte in bits 0-7 of the data
// register with bit 8 set as the valid flag. A burn can only set bits, and
// only while the power bit is set; without power it completes without effect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct EfuseRegisterSet {
    const char* name;
    uint32_t power_reg;
    uint32_t power_mask;
    uint32_t control_reg;
    uint32_t data_reg;
};

// Set A: most chips. Set B (the 5850): power bit 31 lives in the control register itself.
inline constexpr EfuseRegisterSet kEfuseSetA{"A", 0x00800008, 0x00800000, 0x00800074, 0x00800078};
inline constexpr EfuseRegisterSet kEfuseSetB{"B", 0x44880000, 0x80000000, 0x44880000, 0x44880004};

class EfuseArray {
public:
    explicit EfuseArray(size_t size) : m_bytes(size, 0) {}
    size_t size() const { return m_bytes.size(); }
    std::vector<uint8_t>& bytes() { return m_bytes; }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    void burn(unsigned address, uint8_t bits);
    uint64_t change_count() const { return m_changes; }

private:
    std::vector<uint8_t> m_bytes;
    uint64_t m_changes = 0;
};

// The control and data register of one register set.
class EfuseController {
public:
    EfuseController(EfuseArray& array, const EfuseRegisterSet& set) : m_array(&array), m_set(set) {}
    const EfuseRegisterSet& set() const { return m_set; }

    uint32_t read_control(int64_t now) const;
    uint32_t read_data(int64_t now) const;
    // `powered`: the power bit as it is while this word is written.
    void write_control(uint32_t value, bool powered, int64_t now, int64_t busy_us);
    void reset();

    // Commands that ran, for tests: reads and burns (with or without power).
    unsigned commands_run() const { return m_commands; }

private:
    bool busy(int64_t now) const { return now < m_busy_until; }

    EfuseArray* m_array;
    EfuseRegisterSet m_set;
    uint32_t m_control = 0;
    uint32_t m_data = 0;
    int64_t m_busy_until = 0;
    unsigned m_commands = 0;
};

}  // namespace sim
