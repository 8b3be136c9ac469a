// Cuts the byte stream the boot ROM receives into command frames.
//
// Short form: 01 E0 FC, length n, then n bytes (opcode and parameters).
// Long form:  01 E0 FC FF F4, 16-bit little-endian length n, then n bytes.
// Bytes outside a frame are skipped; a frame left incomplete for longer than
// the gap limit is dropped, so a host that died mid-frame cannot make the
// start of the next session part of a stale command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

struct RomFrame {
    bool long_form = false;
    uint8_t opcode = 0;
    std::vector<uint8_t> params;
    size_t wire_length = 0;  // bytes of the whole frame
};

class RomFrameParser {
public:
    static constexpr size_t kMaxBody = 0x1100;  // a 4 KiB write plus its header
    static constexpr int64_t kGapLimitUs = 250000;

    // Feeds one byte received at `now`; returns a frame when it completes one.
    std::optional<RomFrame> feed(uint8_t byte, int64_t now);
    void reset();
    // Bytes skipped because they did not belong to a frame.
    size_t skipped() const { return m_skipped; }
    bool idle() const { return m_state == State::Hunt0; }

private:
    enum class State { Hunt0, Hunt1, Hunt2, Length, Group, LongLen0, LongLen1, Body };
    void restart_with(uint8_t byte);

    State m_state = State::Hunt0;
    bool m_long = false;
    size_t m_need = 0;
    std::vector<uint8_t> m_body;
    int64_t m_last_byte_us = 0;
    size_t m_skipped = 0;
    size_t m_partial = 0;  // bytes of the frame being collected
};

}  // namespace sim
