// What the boot ROM received, frame by frame, so tests (of the host's erase
// planner, for example) can check the sequence of commands the device saw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame_parser.h"

namespace sim {

struct CommandRecord {
    static constexpr size_t kKeptParams = 16;

    int64_t time_us = 0;
    bool long_form = false;
    uint8_t opcode = 0;
    std::vector<uint8_t> params;  // the first kKeptParams parameter bytes
    size_t param_length = 0;      // all parameter bytes of the frame
    bool answered = false;
    int status = -1;  // status byte of a long-form answer, -1 otherwise

    // Command name: "LinkCheck", "FlashErase", "FlashSpi" ... or "Unknown".
    std::string name() const;
    // One line: name and decoded arguments, e.g. "FlashErase 20 0x00011000 status 0".
    std::string describe() const;
    // 32-bit little-endian parameter word at `offset`, 0 when the frame is shorter.
    uint32_t word(size_t offset) const;
};

CommandRecord make_command_record(const RomFrame& frame, int64_t time_us);

// One erase the flash was asked for: SPI erase opcode (0x20, 0x52, 0xD8; 0x60
// for the whole chip) and address.
struct EraseEvent {
    uint8_t spi_opcode;
    uint32_t address;
    bool operator==(const EraseEvent& o) const { return spi_opcode == o.spi_opcode && address == o.address; }
};

// The erases in a command sequence: ROM erase commands and erases sent through the SPI pass-through.
std::vector<EraseEvent> erase_events(const std::vector<CommandRecord>& records);

class CommandLog {
public:
    void add(const CommandRecord& record);
    const std::vector<CommandRecord>& records() const { return m_records; }
    void clear() { m_records.clear(); }
    // Called for every record as it is added (the program's log file, verbose output).
    void set_observer(std::function<void(const CommandRecord&)> observer) { m_observer = std::move(observer); }
    // A long-running simulator only passes records to its observer: a host
    // knocking for hours would otherwise fill memory.
    void set_keep_records(bool keep) { m_keep = keep; }

private:
    std::vector<CommandRecord> m_records;
    bool m_keep = true;
    std::function<void(const CommandRecord&)> m_observer;
};

}  // namespace sim
