#include "fault_injector.h"

#include <algorithm>

namespace sim {

FaultInjector::FaultInjector(const FaultConfig& config) : m_config(config), m_state(config.seed) {}

// splitmix64: small, and the same on every platform and standard library.
uint64_t FaultInjector::next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool FaultInjector::listed(const std::vector<uint32_t>& list, uint32_t n) {
    return std::find(list.begin(), list.end(), n) != list.end();
}

bool FaultInjector::shape_answer(std::vector<uint8_t>& answer, bool counted) {
    if (counted) ++m_answers;
    if (counted && listed(m_config.drop_answers, m_answers)) return false;
    if (counted && !answer.empty() && listed(m_config.corrupt_answers, m_answers)) {
        size_t at = size_t(next() % answer.size());
        uint8_t flip = uint8_t(1 + next() % 255);
        answer[at] ^= flip;
    }
    if (m_config.noise_bytes > 0) {
        std::vector<uint8_t> noise(size_t(m_config.noise_bytes));
        for (uint8_t& b : noise) {
            do {
                b = uint8_t(next());
            } while (b == 0x04);
        }
        answer.insert(answer.begin(), noise.begin(), noise.end());
    }
    return true;
}

void FaultInjector::on_program(uint8_t* stored, size_t length) {
    ++m_programs;
    if (length == 0 || !listed(m_config.program_bit_errors, m_programs)) return;
    size_t at = size_t(next() % length);
    stored[at] ^= uint8_t(1u << (next() % 8));
}

bool FaultInjector::frame_silences(bool counted) {
    if (counted) ++m_frames;
    return m_config.silent_after_frames > 0 && !m_silence_spent && m_frames > m_config.silent_after_frames;
}

}  // namespace sim
