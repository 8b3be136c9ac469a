// A serial NOR flash part behind the chip's SPI controller.
//
// NOR rules: erasing sets bytes to 0xFF, programming can only clear bits.
// Every program, erase and status-register write needs the write-enable latch
// (opcode 06) and clears it. Block-protect bits in the status registers make
// programs and erases of the protected area fail. The security registers are
// 256-byte pages of their own, erased with 44, programmed with 42 and read
// with 48 (one dummy byte after the address).
//
// Two ways in: `transfer` clocks raw SPI bytes, as the boot ROM's
// pass-through does; the `rom_*` operations are what the boot ROM's own flash
// commands do (they issue the write enable themselves and wait until the part
// is ready).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "flash_models.h"

namespace sim {

// Status byte of the boot ROM's flash answers.
enum FlashStatus : uint8_t {
    FLASH_OK = 0,
    FLASH_PROTECTED = 1,        // the range is write-protected: nothing changed
    FLASH_OUT_OF_RANGE = 2,     // the range does not lie inside the flash
    FLASH_BAD_ARGUMENT = 3,     // e.g. an erase opcode the ROM does not issue
    FLASH_NOT_WRITE_ENABLED = 4 // status write without a write enable before it
};

// Typical durations of the datasheets, used when flash timing is on.
struct FlashTiming {
    int64_t page_program_us = 600;     // per started 256-byte page
    int64_t erase_4k_us = 45000;
    int64_t erase_32k_us = 150000;
    int64_t erase_64k_us = 250000;
    int64_t erase_chip_us_per_mib = 4000000;
    int64_t status_write_us = 5000;
};

class SpiFlash {
public:
    static constexpr uint32_t kSecurityPageSize = 256;
    using SecurityPage = std::array<uint8_t, kSecurityPageSize>;

    explicit SpiFlash(const SimFlashModel& model);

    const SimFlashModel& model() const { return *m_model; }
    uint32_t capacity() const { return m_model->size_bytes; }

    // Contents and registers as stored, for state files and tests.
    std::vector<uint8_t>& contents() { return m_data; }
    const std::vector<uint8_t>& contents() const { return m_data; }
    uint8_t status_register(int index) const { return index >= 0 && index < 3 ? m_sr[index] : 0xFF; }
    // Sets a status register directly (power-on value, saved state); bits 0
    // and 1 of register 1 (busy, write enable) are not stored.
    void set_status_register(int index, uint8_t value);
    // Register 1 in bits 0-7, 2 in 8-15, 3 in 16-23, as the part reports them.
    uint32_t combined_status(int64_t now) const;
    bool write_enabled() const { return m_wel; }
    std::map<uint32_t, SecurityPage>& security_pages() { return m_security; }
    uint8_t security_byte(uint32_t address) const;

    // True when any byte of [address, address + length) is write-protected.
    bool is_protected(uint32_t address, uint32_t length) const;

    void set_timing(bool on) { m_timing_on = on; }
    void set_stuck_protect(bool on);
    // Called after every program of the main array with the bytes just stored.
    void set_program_hook(std::function<void(uint8_t* stored, size_t length)> hook) { m_program_hook = std::move(hook); }

    // Time from which the part accepts the next program or erase.
    int64_t ready_at() const { return m_ready_at; }

    // Chip reset: the write-enable latch drops, as the ROM starts afresh.
    void chip_reset() { m_wel = false; }

    FlashStatus rom_read(uint32_t address, uint8_t* out, size_t length) const;
    FlashStatus rom_program(uint32_t address, const uint8_t* data, size_t length, int64_t now);
    FlashStatus rom_erase(uint8_t spi_opcode, uint32_t address, int64_t now);
    FlashStatus rom_erase_all(int64_t now);
    // FlashReadSR: the register behind the opcode, 0xFF for an opcode the part lacks.
    uint8_t rom_read_status(uint8_t spi_opcode, int64_t now) const;
    // FlashWriteSR: opcode and one or two value bytes.
    FlashStatus rom_write_status(uint8_t spi_opcode, const uint8_t* values, size_t count, int64_t now);

    // One chip-select cycle of raw SPI: returns as many bytes as were sent.
    // Bytes the part does not drive come back as they were sent.
    std::vector<uint8_t> transfer(const uint8_t* tx, size_t length, int64_t now);

    // Grows whenever contents, status or security registers change.
    uint64_t change_count() const { return m_changes; }

private:
    int status_index_for_read(uint8_t opcode) const;
    bool protected_interval(uint32_t& lo, uint32_t& hi, bool& inverted) const;
    void erase_range(uint32_t address, uint32_t length);
    void page_program(uint32_t address, const uint8_t* data, size_t length);
    void busy_for(int64_t now, int64_t duration_us);
    bool busy(int64_t now) const { return now < m_ready_at; }

    const SimFlashModel* m_model;
    std::vector<uint8_t> m_data;
    uint8_t m_sr[3] = {0, 0, 0};
    bool m_wel = false;
    bool m_stuck_protect = false;
    bool m_timing_on = false;
    FlashTiming m_timing;
    int64_t m_ready_at = 0;
    std::map<uint32_t, SecurityPage> m_security;  // page index (address >> 8) -> bytes
    std::function<void(uint8_t*, size_t)> m_program_hook;
    uint64_t m_changes = 0;
};

}  // namespace sim
