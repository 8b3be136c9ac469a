// Link, register, baud-rate, CRC, RAM-write and reboot commands.

#include <chrono>
#include <thread>

#include "protocol/boot_frames.h"
#include "support/log.h"

using namespace bootframe;

int CBootIntf::LinkCheck(double timeout) {
    static const uint8_t frame[5] = {0x01, 0xE0, 0xFC, 0x01, 0x00};
    static const uint8_t answer[8] = {0x04, 0x0E, 0x05, 0x01, 0xE0, 0xFC, 0x01, 0x00};
    if (!m_port) return BOOT_TIMEOUT;
    uint8_t response[8];
    SendCommand(frame, sizeof frame, response, sizeof response, timeout);
    // One receive step only: the knocking loop of the caller repeats the
    // check, and an answer often completes from an earlier check's bytes.
    const int r = PollLinkResponse();
    m_port->m_resp_buf = nullptr;
    if (r != 1) return BOOT_TIMEOUT;
    m_port->Purge();
    m_port->ClearError();
    if (memcmp(response, answer, sizeof answer) == 0) return BOOT_OK;
    m_port->m_recv_len = 0;
    return BOOT_TIMEOUT;
}

int CBootIntf::WriteReg(uint32_t addr, uint32_t value, double timeout) {
    uint8_t frame[13];
    size_t p = short_header(frame, 0x09, 0x01);
    put_le32(frame + p, addr);
    put_le32(frame + p + 4, value);
    uint8_t expect[15] = {0x04, 0x0E, 0x0C, 0x01, 0xE0, 0xFC, 0x01};
    put_le32(expect + 7, addr);
    put_le32(expect + 11, value);
    uint8_t response[15];
    return transact(frame, sizeof frame, response, sizeof response, timeout, OnMismatch::ListenOn,
                    [&](const uint8_t* a) { return memcmp(a, expect, sizeof expect) == 0; });
}

namespace {

void build_read_reg(uint8_t (&frame)[9], uint32_t addr) {
    size_t p = short_header(frame, 0x05, 0x03);
    put_le32(frame + p, addr);
}

bool read_reg_answer_is(const uint8_t* a, uint32_t addr) {
    uint8_t echo[4];
    put_le32(echo, addr);
    return short_event_is(a, 0x0C, 0x03) && memcmp(a + 7, echo, 4) == 0;
}

}  // namespace

int CBootIntf::ReadReg(uint32_t addr, uint32_t& value, double timeout) {
    uint8_t frame[9];
    build_read_reg(frame, addr);
    uint8_t response[15];
    int r = transact(frame, sizeof frame, response, sizeof response, timeout, OnMismatch::ResetAndListen,
                     [&](const uint8_t* a) { return read_reg_answer_is(a, addr); });
    if (r == BOOT_OK) value = get_le32(response + 11);
    return r;
}

int CBootIntf::ReadRegChecked(uint32_t addr, uint32_t& value) {
    if (!m_port) return BOOT_TIMEOUT;
    uint8_t frame[9];
    build_read_reg(frame, addr);
    // Some ROMs echo the address with 0x100 added to it (bits 8 to 15 only).
    const uint32_t echo_plus = (addr & 0xFFFF00FFu) | (uint32_t(uint8_t((addr >> 8) + 1)) << 8);
    int result = BOOT_TIMEOUT;
    for (int attempt = 0; attempt < 5; ++attempt) {
        uint8_t response[15];
        result = transact(frame, sizeof frame, response, sizeof response, 0.1, OnMismatch::Fail,
                          [&](const uint8_t* a) {
                              return read_reg_answer_is(a, addr) || read_reg_answer_is(a, echo_plus);
                          });
        if (result == BOOT_OK) {
            value = get_le32(response + 11);
            return BOOT_OK;
        }
        if (result == BOOT_WRONG_ANSWER) {
            m_port->Purge();
            m_port->ClearError();
        }
    }
    return result;
}

int CBootIntf::SetBaudRate(int baud, int fast_link) {
    if (!m_port) return BOOT_TIMEOUT;
    uint8_t frame[10];
    size_t p = short_header(frame, 0x06, 0x0F);
    put_le32(frame + p, uint32_t(baud));
    frame[p + 4] = 0x0F;
    uint8_t expect[12] = {0x04, 0x0E, 0x09, 0x01, 0xE0, 0xFC, 0x0F};
    put_le32(expect + 7, uint32_t(baud));
    expect[11] = 0x0F;

    uint8_t response[12];
    SendCommand(frame, sizeof frame, response, sizeof response, 0.035);
    // The ROM switches after it has taken the frame and answers at the new rate.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (m_port->Configure(baud, fast_link) != 1) {
        m_port->m_resp_buf = nullptr;
        return BOOT_TIMEOUT;
    }
    const int r = poll_until_done();
    m_port->m_resp_buf = nullptr;
    if (r < 0) return BOOT_TIMEOUT;
    return memcmp(response, expect, sizeof expect) == 0 ? BOOT_OK : BOOT_WRONG_ANSWER;
}

int CBootIntf::CheckCRC(uint32_t start, uint32_t length, uint32_t& crc, int timeout_seconds) {
    if (length == 0 || uint64_t(start) + length - 1 > 0xFFFFFFFFull) {
        job_log(LOG_ERROR, "CheckCRC: invalid range 0x%x + 0x%x", start, length);
        return BOOT_BAD_ARGUMENT;
    }
    uint8_t frame[13];
    size_t p = short_header(frame, 0x09, 0x10);
    put_le32(frame + p, start);
    put_le32(frame + p + 4, start + length - 1);  // the last byte is included
    uint8_t response[11];
    int r = transact(frame, sizeof frame, response, sizeof response, double(timeout_seconds), OnMismatch::Fail,
                     [](const uint8_t* a) { return short_event_is(a, 0x08, 0x10); });
    if (r == BOOT_OK) crc = get_le32(response + 7);
    return r;
}

int CBootIntf::MemoryWrite(uint8_t opcode, uint32_t addr, const uint8_t* data, int n) {
    if (n < 5 || n > 255 || (n > 5 && !data)) {
        job_log(LOG_ERROR, "MemoryWrite: invalid length %d", n);
        return BOOT_BAD_ARGUMENT;
    }
    uint8_t frame[255 + 4];
    size_t p = short_header(frame, uint8_t(n), opcode);
    put_le32(frame + p, addr);
    if (n > 5) memcpy(frame + p + 4, data, size_t(n - 5));
    static const uint8_t head[6] = {0x04, 0x0E, 0x0A, 0x01, 0xE0, 0xFC};
    uint8_t echo[4];
    put_le32(echo, addr);
    uint8_t response[13];
    // The opcode echo (byte 6) and the last byte are not checked.
    return transact(frame, size_t(n) + 4, response, sizeof response, 0.5, OnMismatch::Fail, [&](const uint8_t* a) {
        return memcmp(a, head, sizeof head) == 0 && memcmp(a + 7, echo, 4) == 0 && a[11] == uint8_t(n - 5);
    });
}

int CBootIntf::RebootCommand() {
    static const uint8_t frame[6] = {0x01, 0xE0, 0xFC, 0x02, 0x0E, 0xA5};
    SendCommand(frame, sizeof frame, nullptr, 0, 0.0);
    return 1;
}

int CBootIntf::ResetMagic() {
    static const uint8_t frame[9] = {0x01, 0xE0, 0xFC, 0x05, 0xFE, 0x95, 0x27, 0x95, 0x27};
    for (int i = 0; i < 3; ++i) SendCommand(frame, sizeof frame, nullptr, 0, 0.0);
    return 1;
}
