// Settings of one virtual chip: what kind of chip it is, how its line and
// flash behave in time, and which faults it injects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// Faults are off by default; every random choice they make comes from `seed`,
// so a run with the same seed and the same traffic fails the same way.
struct FaultConfig {
    uint64_t seed = 1;
    // Random bytes (never 0x04, the first byte of an answer) sent before every answer.
    int noise_bytes = 0;
    // Answers counted from 1 since the chip was created: these are not sent.
    std::vector<uint32_t> drop_answers;
    // Answers counted from 1: one byte of each is changed.
    std::vector<uint32_t> corrupt_answers;
    // After this many frames the chip stops listening (0 = never); a reset or
    // the reboot text brings it back, and then the fault is spent.
    uint32_t silent_after_frames = 0;
    // Rates above this are not carried by the line in either direction (0 = no limit).
    int max_baud = 0;
    // Block-protect bits BP0..BP2 are set and cannot be cleared.
    bool stuck_protect = false;
    // Program operations counted from 1 (ROM writes and SPI page programs):
    // one bit of the data each of these stores comes out wrong.
    std::vector<uint32_t> program_bit_errors;
    // Every eFuse command stays busy for this long instead of the normal time (0 = off).
    int efuse_busy_fault_ms = 0;
};

enum class EfuseSets {
    Auto,  // set B on a 5850, set A otherwise
    A,
    B,
    Both,
};

struct SimConfig {
    // Chip id and the register that holds it; the other id places read as plain memory.
    uint32_t chip_id = 0x5810;
    uint32_t chip_id_address = 0x44010004;
    // Answer reads of the id register with the address echo raised by 0x100
    // (bits 8 to 15, no carry), as some chip revisions do.
    bool chip_id_echo_plus_100 = false;

    // JEDEC id of the flash model (one of the table in flash_models.h).
    uint32_t flash_mid = 0x1540C8;
    // Power-on value of status registers 1 to 3 (register 1 in bits 0 to 7)
    // when no saved state says otherwise.
    uint32_t flash_status = 0;

    size_t efuse_size = 32;
    EfuseSets efuse_sets = EfuseSets::Auto;
    // How long an eFuse command keeps the busy bit set.
    int efuse_busy_us = 2000;

    // Reads of the status word 0x00800040 that show busy bits after each write
    // of the system control word 0x0080005C (0 = never busy), and those bits.
    int status_busy_reads = 0;
    uint32_t status_busy_bits = 0x01;

    // Text that brings the chip from its firmware back into the boot ROM, and
    // the rate its firmware listens at.
    std::string reboot_text = "reboot\r\n";
    int app_baud = 115200;

    // Delay between a baud-rate command and its answer at the new rate; the
    // host switches its own port 2 ms after sending the command.
    int baud_switch_delay_us = 5000;

    // 10 bit times per byte at the current rate, in both directions.
    bool wire_timing = false;
    // Typical erase and program durations of serial NOR flash.
    bool flash_timing = false;

    // Power-on values of registers, applied over the built-in ones.
    std::vector<std::pair<uint32_t, uint32_t>> register_overrides;

    FaultConfig faults;
};

}  // namespace sim
