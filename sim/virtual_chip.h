// The virtual chip: a state machine without threads of its own. A driver
// feeds it the bytes it receives (with the rate they were sent at), the
// modem-line changes and the time, and takes out the bytes it sends (with the
// rate the chip's UART runs at).
//
// Modes: the boot ROM answers frames; the firmware (after the reboot command)
// ignores frames and listens only for the reboot text; held in reset while
// RTS is set, the chip does nothing and starts its boot ROM at 115200 when RTS
// is released; silent (a fault) behaves like the firmware.
//
// Bytes sent at a rate other than the chip's are lost, as on a UART with a
// rate mismatch. Times are microseconds on the driver's steady clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "boot_rom.h"
#include "chip_registers.h"
#include "command_log.h"
#include "efuse.h"
#include "fault_injector.h"
#include "frame_parser.h"
#include "sim_config.h"
#include "spi_flash.h"

namespace sim {

enum class ChipMode { Rom, Firmware, Reset, Silent };

const char* chip_mode_name(ChipMode mode);

class VirtualChip {
public:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
    static constexpr int kRomBaud = 115200;

    // Checks the settings (flash model known, sizes sane); the text says what is wrong.
    static bool validate(const SimConfig& config, std::string& error);
    // Null, with the reason in error, when the settings are not valid.
    static std::unique_ptr<VirtualChip> create(const SimConfig& config, std::string& error);

    // Bytes the host sent at `sender_baud`, received by `now`.
    void receive(const uint8_t* data, size_t length, int sender_baud, int64_t now);
    void set_modem_lines(bool dtr, bool rts, int64_t now);
    // Moves the output due by `now` (all of one rate) into out; false when none
    // is due. *rate_switch tells whether it is the answer to a baud-rate
    // command, which the host expects only after switching its own rate.
    bool take_output(int64_t now, std::vector<uint8_t>& out, int& baud, bool* rate_switch = nullptr);
    // When the next output falls due (kNever when nothing is pending).
    int64_t next_output_at() const;

    // Reset into the boot ROM, as after a reset pulse.
    void reset_to_rom(int64_t now);

    ChipMode mode() const { return m_mode; }
    int uart_baud() const { return m_baud; }
    const SimConfig& config() const { return m_config; }
    SpiFlash& flash() { return *m_flash; }
    EfuseArray& efuse() { return m_efuse; }
    ChipRegisters& registers() { return *m_registers; }
    CommandLog& command_log() { return m_log; }
    const FaultInjector& faults() const { return m_faults; }
    // Bytes lost because they came at another rate, in reset, or to a rate the line does not carry.
    size_t dropped_bytes() const { return m_dropped; }
    // Grows whenever flash, eFuse or registers change (to know when to save state).
    uint64_t change_count() const;

private:
    explicit VirtualChip(const SimConfig& config, const SimFlashModel& model);

    void handle_frame(const RomFrame& frame, int64_t at);
    void queue_answer(std::vector<uint8_t> bytes, int64_t ready_at, bool rate_switch, bool counted);
    bool feed_reboot_text(uint8_t byte);
    int64_t byte_time_us(size_t count, int baud) const;

    struct Pending {
        std::vector<uint8_t> bytes;
        int baud;
        int64_t due;
        bool rate_switch;
    };

    SimConfig m_config;
    std::unique_ptr<SpiFlash> m_flash;
    EfuseArray m_efuse;
    std::unique_ptr<ChipRegisters> m_registers;
    std::unique_ptr<BootRom> m_rom;
    FaultInjector m_faults;
    CommandLog m_log;
    RomFrameParser m_parser;

    ChipMode m_mode = ChipMode::Rom;
    int m_baud = kRomBaud;
    bool m_rts = false;
    std::string m_text_tail;
    std::deque<Pending> m_out;
    int64_t m_rx_free = 0;    // wire timing: when the receive line is free
    int64_t m_tx_free = 0;    // wire timing: when the transmit line is free
    int64_t m_rom_ready = 0;  // the ROM starts on the next frame no earlier than this
    size_t m_dropped = 0;
};

}  // namespace sim
