#include "virtual_chip.h"

#include <algorithm>
#include <cstdio>

namespace sim {

const char* chip_mode_name(ChipMode mode) {
    switch (mode) {
    case ChipMode::Rom: return "boot ROM";
    case ChipMode::Firmware: return "firmware";
    case ChipMode::Reset: return "reset";
    case ChipMode::Silent: return "silent";
    }
    return "?";
}

bool VirtualChip::validate(const SimConfig& config, std::string& error) {
    char buf[160];
    if (!find_flash_model(config.flash_mid)) {
        snprintf(buf, sizeof buf, "unknown flash id 0x%06X", config.flash_mid);
        error = buf;
        return false;
    }
    if (config.efuse_size == 0 || config.efuse_size > 64) {
        error = "eFuse size must be 1 to 64 bytes";
        return false;
    }
    if (config.app_baud <= 0) {
        error = "firmware baud rate must be positive";
        return false;
    }
    if (config.baud_switch_delay_us < 0 || config.efuse_busy_us < 0 || config.status_busy_reads < 0 ||
        config.faults.noise_bytes < 0 || config.faults.max_baud < 0 || config.faults.efuse_busy_fault_ms < 0) {
        error = "times and counts must not be negative";
        return false;
    }
    return true;
}

std::unique_ptr<VirtualChip> VirtualChip::create(const SimConfig& config, std::string& error) {
    if (!validate(config, error)) return nullptr;
    return std::unique_ptr<VirtualChip>(new VirtualChip(config, *find_flash_model(config.flash_mid)));
}

VirtualChip::VirtualChip(const SimConfig& config, const SimFlashModel& model)
    : m_config(config),
      m_flash(std::make_unique<SpiFlash>(model)),
      m_efuse(config.efuse_size),
      m_faults(config.faults) {
    m_registers = std::make_unique<ChipRegisters>(m_config, m_efuse);
    m_rom = std::make_unique<BootRom>(m_config, *m_flash, *m_registers);
    m_flash->set_timing(config.flash_timing);
    for (int i = 0; i < 3; ++i) m_flash->set_status_register(i, uint8_t(config.flash_status >> (8 * i)));
    m_flash->set_stuck_protect(config.faults.stuck_protect);
    m_flash->set_program_hook([this](uint8_t* stored, size_t length) { m_faults.on_program(stored, length); });
}

uint64_t VirtualChip::change_count() const {
    return m_flash->change_count() + m_efuse.change_count() + m_registers->change_count();
}

int64_t VirtualChip::byte_time_us(size_t count, int baud) const {
    if (!m_config.wire_timing || baud <= 0) return 0;
    return int64_t(count) * 10'000'000 / baud;
}

void VirtualChip::reset_to_rom(int64_t now) {
    // A reset brings a silent chip back; a silence still to come stays armed,
    // so a host that resets the chip when it opens the line still meets it.
    if (m_mode == ChipMode::Silent) m_faults.end_silence();
    m_mode = ChipMode::Rom;
    m_baud = kRomBaud;
    m_parser.reset();
    m_text_tail.clear();
    m_out.clear();
    m_registers->power_on();
    m_flash->chip_reset();
    m_rx_free = m_tx_free = m_rom_ready = now;
}

void VirtualChip::set_modem_lines(bool /*dtr*/, bool rts, int64_t now) {
    if (rts == m_rts) return;
    m_rts = rts;
    if (rts) {
        // Held in reset: nothing pending survives, a silence included.
        if (m_mode == ChipMode::Silent) m_faults.end_silence();
        m_mode = ChipMode::Reset;
        m_out.clear();
        m_parser.reset();
    } else {
        reset_to_rom(now);
    }
}

bool VirtualChip::feed_reboot_text(uint8_t byte) {
    const std::string& text = m_config.reboot_text;
    if (text.empty()) return false;
    m_text_tail.push_back(char(byte));
    if (m_text_tail.size() > text.size()) m_text_tail.erase(0, m_text_tail.size() - text.size());
    return m_text_tail == text;
}

void VirtualChip::receive(const uint8_t* data, size_t length, int sender_baud, int64_t now) {
    if (length == 0) return;
    if (m_mode == ChipMode::Reset || sender_baud != m_baud || !m_faults.rate_carried(sender_baud)) {
        m_dropped += length;
        return;
    }
    int64_t base = std::max(now, m_rx_free);
    for (size_t i = 0; i < length; ++i) {
        int64_t t = base + byte_time_us(i + 1, sender_baud);
        if (m_mode != ChipMode::Rom) {
            if (feed_reboot_text(data[i])) {
                // The firmware restarts into the boot ROM; the rest of this burst is lost meanwhile.
                reset_to_rom(t);
                m_dropped += length - i - 1;
                return;
            }
            continue;
        }
        std::optional<RomFrame> frame = m_parser.feed(data[i], t);
        if (frame) handle_frame(*frame, t);
        // A frame may have switched the rate or left the ROM: later bytes of
        // this burst were sent at the old rate.
        if (m_baud != sender_baud) {
            m_dropped += length - i - 1;
            m_rx_free = t;
            return;
        }
    }
    m_rx_free = base + byte_time_us(length, sender_baud);
}

void VirtualChip::handle_frame(const RomFrame& frame, int64_t at) {
    const bool knock = !frame.long_form && (frame.opcode == 0x00 || frame.opcode == 0xFE);
    if (m_faults.frame_silences(!knock)) {
        m_mode = ChipMode::Silent;
        m_parser.reset();
        m_text_tail.clear();
        return;
    }
    int64_t start = std::max(at, m_rom_ready);
    RomOutcome outcome = m_rom->execute(frame, start);

    CommandRecord record = make_command_record(frame, start);
    record.answered = outcome.answered;
    record.status = outcome.status;
    m_log.add(record);

    if (outcome.new_baud > 0) m_baud = outcome.new_baud;
    if (outcome.answered) {
        queue_answer(std::move(outcome.answer), std::max(start, outcome.answer_at_us), outcome.rate_switch, !knock);
        m_rom_ready = std::max(m_rom_ready, outcome.answer_at_us);
    }
    if (outcome.reboot) {
        m_mode = ChipMode::Firmware;
        m_baud = m_config.app_baud;
        m_parser.reset();
        m_text_tail.clear();
    }
}

void VirtualChip::queue_answer(std::vector<uint8_t> bytes, int64_t ready_at, bool rate_switch, bool counted) {
    if (!m_faults.shape_answer(bytes, counted)) return;
    if (!m_faults.rate_carried(m_baud)) {
        m_dropped += bytes.size();
        return;
    }
    int64_t due = ready_at;
    if (m_config.wire_timing) {
        // The whole answer is handed over once its last byte is through.
        int64_t start = std::max(ready_at, m_tx_free);
        m_tx_free = start + byte_time_us(bytes.size(), m_baud);
        due = m_tx_free;
    }
    if (!m_out.empty()) due = std::max(due, m_out.back().due);
    m_out.push_back({std::move(bytes), m_baud, due, rate_switch});
}

int64_t VirtualChip::next_output_at() const { return m_out.empty() ? kNever : m_out.front().due; }

bool VirtualChip::take_output(int64_t now, std::vector<uint8_t>& out, int& baud, bool* rate_switch) {
    if (m_out.empty() || m_out.front().due > now) return false;
    baud = m_out.front().baud;
    const bool switching = m_out.front().rate_switch;
    if (rate_switch) *rate_switch = switching;
    while (!m_out.empty() && m_out.front().due <= now && m_out.front().baud == baud &&
           m_out.front().rate_switch == switching) {
        out.insert(out.end(), m_out.front().bytes.begin(), m_out.front().bytes.end());
        m_out.pop_front();
    }
    return true;
}

}  // namespace sim
