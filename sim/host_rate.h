// The rate bytes read from the pseudo-terminal were sent at.
//
// A pseudo-terminal hands written bytes over through a kernel work queue,
// while a rate change shows on the master at once: bytes the host wrote
// before switching away from the chip's rate can reach us after the switch,
// and under load well after the host's 2 ms pause. Bytes that arrive this
// soon after such a switch are taken at the chip's rate. A host that knocks
// at a rate the chip has left does so for far longer.
#pragma once

#include <cstdint>

namespace sim {

class HostRate {
public:
    static constexpr int64_t kLateBytesUs = 200000;

    explicit HostRate(int rate) : m_rate(rate), m_previous(rate) {}

    // Records the rate the host's side shows at `now`.
    void observe(int rate, int64_t now) {
        if (rate == m_rate) return;
        m_previous = m_rate;
        m_rate = rate;
        m_changed_at = now;
    }
    int current() const { return m_rate; }

    // The rate of bytes read at `now`, for a chip whose UART runs at chip_rate.
    int sender(int chip_rate, int64_t now) const {
        if (m_rate != chip_rate && m_previous == chip_rate && now - m_changed_at < kLateBytesUs) return m_previous;
        return m_rate;
    }

private:
    int m_rate;
    int m_previous;
    int64_t m_changed_at = 0;
};

}  // namespace sim
