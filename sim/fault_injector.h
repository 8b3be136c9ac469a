// Decides, from the fault settings and one seeded generator, what goes wrong
// with the chip's answers and flash programs. Counting starts at 1 with the
// first answer or program after the chip was created. Link checks and the
// reset magic are not counted: how many of them a host sends before the chip
// answers depends on timing, and counting them would move a fault to another
// command from one run to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim_config.h"

namespace sim {

class FaultInjector {
public:
    explicit FaultInjector(const FaultConfig& config);

    // Counts the answer (unless it is not `counted`) and applies noise and
    // corruption. Returns false when the answer is to be dropped.
    bool shape_answer(std::vector<uint8_t>& answer, bool counted = true);
    // Counts a flash program and flips one bit of the stored bytes when it is one of the chosen ones.
    void on_program(uint8_t* stored, size_t length);
    // Counts a received frame (unless it is not `counted`); true when the
    // chip is to fall silent now.
    bool frame_silences(bool counted = true);
    // A reset or the reboot text ended the silence: it does not come back.
    void end_silence() { m_silence_spent = true; }
    // False for rates the line cannot carry.
    bool rate_carried(int baud) const { return m_config.max_baud <= 0 || baud <= m_config.max_baud; }

    uint32_t answers() const { return m_answers; }
    uint32_t programs() const { return m_programs; }
    uint32_t frames() const { return m_frames; }

private:
    uint64_t next();
    static bool listed(const std::vector<uint32_t>& list, uint32_t n);

    FaultConfig m_config;
    uint64_t m_state;
    uint32_t m_answers = 0;
    uint32_t m_programs = 0;
    uint32_t m_frames = 0;
    bool m_silence_spent = false;
};

}  // namespace sim
