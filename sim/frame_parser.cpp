#include "frame_parser.h"

namespace sim {

void RomFrameParser::reset() {
    m_state = State::Hunt0;
    m_body.clear();
    m_need = 0;
    m_partial = 0;
}

// A byte that broke a header may itself start the next frame.
void RomFrameParser::restart_with(uint8_t byte) {
    m_skipped += m_partial;
    reset();
    if (byte == 0x01) {
        m_state = State::Hunt1;
        m_partial = 1;
    } else {
        ++m_skipped;
    }
}

std::optional<RomFrame> RomFrameParser::feed(uint8_t byte, int64_t now) {
    if (m_state != State::Hunt0 && now - m_last_byte_us > kGapLimitUs) {
        m_skipped += m_partial;
        reset();
    }
    m_last_byte_us = now;
    switch (m_state) {
    case State::Hunt0:
        restart_with(byte);
        return std::nullopt;
    case State::Hunt1:
        if (byte == 0xE0) {
            m_state = State::Hunt2;
            ++m_partial;
        } else {
            restart_with(byte);
        }
        return std::nullopt;
    case State::Hunt2:
        if (byte == 0xFC) {
            m_state = State::Length;
            ++m_partial;
        } else {
            restart_with(byte);
        }
        return std::nullopt;
    case State::Length:
        if (byte == 0) {
            restart_with(byte);
            return std::nullopt;
        }
        ++m_partial;
        if (byte == 0xFF) {
            m_state = State::Group;
        } else {
            m_long = false;
            m_need = byte;
            m_body.clear();
            m_state = State::Body;
        }
        return std::nullopt;
    case State::Group:
        if (byte == 0xF4) {
            ++m_partial;
            m_state = State::LongLen0;
        } else {
            restart_with(byte);
        }
        return std::nullopt;
    case State::LongLen0:
        ++m_partial;
        m_need = byte;
        m_state = State::LongLen1;
        return std::nullopt;
    case State::LongLen1:
        m_need |= size_t(byte) << 8;
        if (m_need == 0 || m_need > kMaxBody) {
            restart_with(byte);
            return std::nullopt;
        }
        ++m_partial;
        m_long = true;
        m_body.clear();
        m_state = State::Body;
        return std::nullopt;
    case State::Body:
        ++m_partial;
        m_body.push_back(byte);
        if (m_body.size() < m_need) return std::nullopt;
        RomFrame frame;
        frame.long_form = m_long;
        frame.opcode = m_body[0];
        frame.params.assign(m_body.begin() + 1, m_body.end());
        frame.wire_length = m_partial;
        m_partial = 0;
        reset();
        return frame;
    }
    return std::nullopt;
}

}  // namespace sim
