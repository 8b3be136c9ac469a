// The chip's 32-bit register space as the boot ROM's register commands see it.
//
// A few registers behave: the chip id (at one of three places), the system
// control word 0x0080005C and the status word 0x00800040 whose busy bits show
// for a number of reads after each control write, the UART configuration
// 0x00802100 whose divider field 9 moves the UART to 2600000 baud, and the
// eFuse control and data registers. Everything else is plain memory that
// reads 0 until written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "efuse.h"
#include "sim_config.h"

namespace sim {

inline constexpr uint32_t kRegChipIdA = 0x44010004;
inline constexpr uint32_t kRegChipIdB = 0x34010004;
inline constexpr uint32_t kRegChipIdC = 0x00800000;
inline constexpr uint32_t kRegSysCtrl = 0x0080005C;
inline constexpr uint32_t kRegSysStatus = 0x00800040;
inline constexpr uint32_t kRegPeriClkMux = 0x00802000;
inline constexpr uint32_t kRegSpiCtrl = 0x00802700;
inline constexpr uint32_t kRegClkSet = 0x00800008;
inline constexpr uint32_t kRegUartCfg = 0x00802100;

// Rate the UART runs at once its divider field (bits 8-20) holds 9.
inline constexpr int kDividerNineBaud = 2600000;

class ChipRegisters {
public:
    ChipRegisters(const SimConfig& config, EfuseArray& efuse);

    // Power-on values: the built-in ones with the configured overrides.
    void power_on();

    // What the ROM's register read returns; reads of the status word count
    // down its busy bits.
    uint32_t read(uint32_t address, int64_t now);
    // Returns the UART rate the write asks for, or 0 when the rate stays.
    int write(uint32_t address, uint32_t value, int64_t now);
    // Byte writes into memory (the ROM's memory write), little-endian words.
    void write_bytes(uint32_t address, const uint8_t* data, size_t length);

    // Stored word without side effects (0 when never written).
    uint32_t peek(uint32_t address) const;
    // Plain memory, keyed by word address; for state files and tests.
    std::map<uint32_t, uint32_t>& memory() { return m_memory; }

    void set_efuse_busy_us(int64_t us) { m_efuse_busy_us = us; }
    const std::vector<std::unique_ptr<EfuseController>>& efuse_controllers() const { return m_efuse; }
    uint64_t change_count() const { return m_changes; }

private:
    EfuseController* efuse_for_control(uint32_t address) const;
    EfuseController* efuse_for_data(uint32_t address) const;

    const SimConfig* m_config;
    std::map<uint32_t, uint32_t> m_memory;
    std::vector<std::unique_ptr<EfuseController>> m_efuse;
    int m_status_busy_left = 0;
    int64_t m_efuse_busy_us;
    uint64_t m_changes = 0;
};

}  // namespace sim
