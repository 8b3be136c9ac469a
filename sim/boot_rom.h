// The boot ROM's command handling: one frame in, at most one answer out.
//
// Short-form commands: link check (00), register write (01) and read (03),
// baud rate (0F), CRC of a flash range (10), memory write (21), reboot (0E A5)
// and the harmless reset magic (FE). Long-form flash commands (group F4):
// write (06), write 4 KiB (07), read (08), read 4 KiB (09), erase all (0A),
// erase 4 KiB (0B), read status (0C), write status (0D), SPI pass-through
// (0E) and erase with an SPI opcode (0F). Anything else gets no answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "chip_registers.h"
#include "frame_parser.h"
#include "sim_config.h"
#include "spi_flash.h"

namespace sim {

struct RomOutcome {
    bool answered = false;
    std::vector<uint8_t> answer;
    int64_t answer_at_us = 0;  // when the answer is ready to go out
    int new_baud = 0;          // UART rate from this command on (0 = unchanged)
    bool rate_switch = false;  // the answer to a baud-rate command: the host switches before it comes
    bool reboot = false;       // leave the ROM and run the firmware
    int status = -1;           // status byte of a long-form answer
};

// Event frames as the ROM sends them.
std::vector<uint8_t> short_answer(uint8_t opcode, const std::vector<uint8_t>& payload);
std::vector<uint8_t> long_answer(uint8_t opcode, uint8_t status, const std::vector<uint8_t>& payload);

// CRC-32 of the tool's variant: reflected, polynomial 0xEDB88320, initial
// 0xFFFFFFFF, no final inversion. Continue a running value by passing it in.
uint32_t rom_crc32(const uint8_t* data, size_t length, uint32_t crc = 0xFFFFFFFFu);

class BootRom {
public:
    BootRom(const SimConfig& config, SpiFlash& flash, ChipRegisters& registers)
        : m_config(&config), m_flash(&flash), m_registers(&registers) {}

    // Runs one frame that the ROM starts on at `now`.
    RomOutcome execute(const RomFrame& frame, int64_t now);

private:
    RomOutcome execute_short(const RomFrame& frame, int64_t now);
    RomOutcome execute_long(const RomFrame& frame, int64_t now);
    int64_t flash_start(int64_t now) const;

    const SimConfig* m_config;
    SpiFlash* m_flash;
    ChipRegisters* m_registers;
};

}  // namespace sim
