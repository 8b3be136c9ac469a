// Frame building and answer checks shared by the command sources, and the
// request/answer pattern every command follows. Internal to protocol/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/boot_intf.h"
#include "serial/comm_port.h"

namespace bootframe {

inline void put_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Short form: 01 E0 FC, n, opcode; returns the offset of the parameters.
// `n` counts the opcode and the parameters.
inline size_t short_header(uint8_t* frame, uint8_t n, uint8_t opcode) {
    frame[0] = 0x01;
    frame[1] = 0xE0;
    frame[2] = 0xFC;
    frame[3] = n;
    frame[4] = opcode;
    return 5;
}

// Long form: 01 E0 FC FF F4, n (16 bits), opcode; returns the offset of the
// parameters. `n` counts the opcode and the parameters.
inline size_t long_header(uint8_t* frame, uint16_t n, uint8_t opcode) {
    frame[0] = 0x01;
    frame[1] = 0xE0;
    frame[2] = 0xFC;
    frame[3] = 0xFF;
    frame[4] = 0xF4;
    frame[5] = uint8_t(n);
    frame[6] = uint8_t(n >> 8);
    frame[7] = opcode;
    return 8;
}

// Short event: 04 0E n 01 E0 FC opcode (bytes 0 to 6).
inline bool short_event_is(const uint8_t* answer, uint8_t n, uint8_t opcode) {
    const uint8_t head[7] = {0x04, 0x0E, n, 0x01, 0xE0, 0xFC, opcode};
    return memcmp(answer, head, sizeof head) == 0;
}

// Long event: 04 0E FF 01 E0 FC F4, n (16 bits), opcode (bytes 0 to 9).
inline bool long_event_is(const uint8_t* answer, uint32_t n, uint8_t opcode) {
    const uint8_t head[10] = {0x04, 0x0E, 0xFF, 0x01, 0xE0, 0xFC, 0xF4, uint8_t(n), uint8_t(n >> 8), opcode};
    return n <= 0xFFFF && memcmp(answer, head, sizeof head) == 0;
}

}  // namespace bootframe

// Send, poll until the answer is complete or the time-out, check it.
template <typename Match>
int CBootIntf::transact(const uint8_t* frame, size_t length, uint8_t* response, int expected, double timeout,
                        OnMismatch on_mismatch, Match matches) {
    if (!m_port) return BOOT_TIMEOUT;
    SendCommand(frame, length, response, expected, timeout);
    int result = BOOT_TIMEOUT;
    for (;;) {
        if (poll_until_done() < 0) {
            result = BOOT_TIMEOUT;
            break;
        }
        if (matches(static_cast<const uint8_t*>(response))) {
            result = BOOT_OK;
            break;
        }
        if (on_mismatch == OnMismatch::Fail) {
            result = BOOT_WRONG_ANSWER;
            break;
        }
        if (on_mismatch == OnMismatch::ResetAndListen) m_port->m_recv_len = 0;
    }
    // The buffer belongs to the caller's stack frame; nothing may write to it
    // once the command has returned.
    m_port->m_resp_buf = nullptr;
    return result;
}
