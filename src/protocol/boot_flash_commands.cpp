// Flash commands: long-form frames through the boot ROM's flash group. The
// answer's byte 10 is the status byte.

#include <algorithm>

#include "protocol/boot_frames.h"
#include "support/log.h"

using namespace bootframe;

namespace {

bool addr_at(const uint8_t* a, size_t offset, uint32_t addr) { return get_le32(a + offset) == addr; }

}  // namespace

double CBootIntf::flash_read4k_timeout(int baud) {
    if (baud <= 0) baud = 115200;
    // 1.3 times the time 4223 bytes take at 10 bit times per byte.
    return std::max(0.02, 1.3 * 4223.0 / (baud / 10.0));
}

double CBootIntf::flash_read_timeout(int baud, int n) {
    if (baud <= 0) baud = 115200;
    return std::max(0.04, 2.0 * (n + 128) / (baud / 10.0));
}

int CBootIntf::FlashEraseAll() {
    uint8_t frame[9];
    size_t p = long_header(frame, 2, 0x0A);
    frame[p] = 0x07;
    uint8_t response[12];
    return transact(frame, sizeof frame, response, sizeof response, 20.0, OnMismatch::Fail,
                    [](const uint8_t* a) { return long_event_is(a, 3, 0x0A); });
}

int CBootIntf::FlashErase4K(uint32_t addr) {
    uint8_t frame[12];
    size_t p = long_header(frame, 5, 0x0B);
    put_le32(frame + p, addr);
    uint8_t response[15];
    return transact(frame, sizeof frame, response, sizeof response, 0.3, OnMismatch::Fail,
                    [&](const uint8_t* a) { return long_event_is(a, 6, 0x0B) && addr_at(a, 11, addr); });
}

int CBootIntf::FlashErase(uint8_t spi_opcode, uint32_t addr) {
    uint8_t frame[13];
    size_t p = long_header(frame, 6, 0x0F);
    frame[p] = spi_opcode;
    put_le32(frame + p + 1, addr);
    uint8_t response[16];
    return transact(frame, sizeof frame, response, sizeof response, 0.1, OnMismatch::Fail, [&](const uint8_t* a) {
        return long_event_is(a, 7, 0x0F) && a[10] == 0x00 && a[11] == spi_opcode && addr_at(a, 12, addr);
    });
}

int CBootIntf::FlashReadSR(uint8_t spi_opcode, uint8_t& value) {
    uint8_t frame[9];
    size_t p = long_header(frame, 2, 0x0C);
    frame[p] = spi_opcode;
    uint8_t response[13];
    int r = transact(frame, sizeof frame, response, sizeof response, 0.1, OnMismatch::Fail,
                     [&](const uint8_t* a) { return long_event_is(a, 4, 0x0C) && a[11] == spi_opcode; });
    if (r == BOOT_OK) value = response[12];
    return r;
}

int CBootIntf::FlashWriteSR(int width, uint8_t spi_opcode, uint32_t value) {
    const uint8_t low = uint8_t(value);
    const uint8_t high = uint8_t(value >> 8);
    uint8_t frame[11];
    uint8_t response[14];
    if (width == 1) {
        size_t p = long_header(frame, 3, 0x0D);
        frame[p] = spi_opcode;
        frame[p + 1] = low;
        return transact(frame, 10, response, 13, 0.1, OnMismatch::Fail, [&](const uint8_t* a) {
            return long_event_is(a, 4, 0x0D) && a[11] == spi_opcode && a[12] == low;
        });
    }
    size_t p = long_header(frame, 4, 0x0D);
    frame[p] = spi_opcode;
    frame[p + 1] = low;
    frame[p + 2] = high;
    // Only widths 1 and 2 exist; any other width still sends the two-byte
    // frame but cannot be confirmed.
    return transact(frame, 11, response, 14, 0.1, OnMismatch::Fail, [&](const uint8_t* a) {
        return width == 2 && long_event_is(a, 5, 0x0D) && a[11] == spi_opcode && a[12] == low && a[13] == high;
    });
}

int CBootIntf::GetFlashMid(uint32_t& mid) {
    // JEDEC id (9F) and three dummy bytes through the SPI pass-through.
    static const uint8_t frame[12] = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x0E, 0x9F, 0x00, 0x00, 0x00};
    uint8_t response[15];
    int r = transact(frame, sizeof frame, response, sizeof response, 0.1, OnMismatch::Fail, [](const uint8_t* a) {
        return long_event_is(a, 5, 0x0E) || long_event_is(a, 6, 0x0E);
    });
    // Byte 11 was clocked in during the opcode and means nothing.
    if (r == BOOT_OK) mid = uint32_t(response[12]) | uint32_t(response[13]) << 8 | uint32_t(response[14]) << 16;
    return r;
}

// One SPI pass-through transfer: n bytes out (opcode first), the answer
// with the bytes clocked in left in `response`.
int CBootIntf::spi_transfer(const char* name, const uint8_t* tx, int n, uint8_t* response) {
    if (n < 1 || n > kMaxSpiBytes || !tx) {
        job_log(LOG_ERROR, "%s: invalid length %d", name, n);
        return BOOT_BAD_ARGUMENT;
    }
    uint8_t frame[8 + kMaxSpiBytes];
    size_t p = long_header(frame, uint16_t(n + 1), 0x0E);
    memcpy(frame + p, tx, size_t(n));
    return transact(frame, size_t(n) + 8, response, n + 11, 0.2, OnMismatch::Fail, [&](const uint8_t* a) {
        return long_event_is(a, uint32_t(n + 1), 0x0E) || long_event_is(a, uint32_t(n + 2), 0x0E);
    });
}

int CBootIntf::FlashSpiCommand(const uint8_t* tx, uint8_t* rx, int n) {
    uint8_t response[11 + kMaxSpiBytes];
    int r = spi_transfer("FlashSpiCommand", tx, n, response);
    if (r == BOOT_OK && rx) memcpy(rx, response + 11, size_t(n));
    return r;
}

int CBootIntf::FlashSpiRead(const uint8_t* tx, uint8_t* rx, int n) {
    if (!rx) {
        job_log(LOG_ERROR, "FlashSpiRead: invalid length %d", n);
        return BOOT_BAD_ARGUMENT;
    }
    uint8_t response[11 + kMaxSpiBytes];
    int r = spi_transfer("FlashSpiRead", tx, n, response);
    if (r != BOOT_OK) return r;
    if (long_event_is(response, uint32_t(n + 1), 0x0E)) {
        memcpy(rx, response + 11, size_t(n));
    } else if (n > 5) {
        // The bytes clocked in during a 5-byte read command header are skipped.
        memcpy(rx, response + 16, size_t(n - 5));
    }
    return r;
}

int CBootIntf::FlashWrite4K(uint32_t addr, const uint8_t* data) {
    if (!data) return BOOT_BAD_ARGUMENT;
    uint8_t frame[4108];
    size_t p = long_header(frame, 0x1005, 0x07);
    put_le32(frame + p, addr);
    memcpy(frame + p + 4, data, 4096);
    uint8_t response[15];
    // The status byte is not checked; the caller verifies the sector by CRC.
    return transact(frame, sizeof frame, response, sizeof response, 0.5, OnMismatch::Fail,
                    [&](const uint8_t* a) { return long_event_is(a, 6, 0x07) && addr_at(a, 11, addr); });
}

int CBootIntf::FlashWrite(uint32_t addr, const uint8_t* data, int n) {
    if (n < 1 || n > 255 || !data) {
        job_log(LOG_ERROR, "FlashWrite: invalid length %d", n);
        return BOOT_BAD_ARGUMENT;
    }
    uint8_t frame[12 + 255];
    size_t p = long_header(frame, uint16_t(n + 5), 0x06);
    put_le32(frame + p, addr);
    memcpy(frame + p + 4, data, size_t(n));
    uint8_t response[16];
    return transact(frame, size_t(n) + 12, response, sizeof response, 0.5, OnMismatch::Fail,
                    [&](const uint8_t* a) { return long_event_is(a, 7, 0x06) && addr_at(a, 11, addr); });
}

int CBootIntf::FlashRead4K(uint32_t addr, uint8_t* out) {
    if (!out) return BOOT_BAD_ARGUMENT;
    uint8_t frame[12];
    size_t p = long_header(frame, 5, 0x09);
    put_le32(frame + p, addr);
    uint8_t response[4111];
    const double timeout = flash_read4k_timeout(m_port ? m_port->m_baud : 0);
    int r = transact(frame, sizeof frame, response, sizeof response, timeout, OnMismatch::Fail,
                     [&](const uint8_t* a) { return long_event_is(a, 0x1006, 0x09) && addr_at(a, 11, addr); });
    if (r == BOOT_OK) memcpy(out, response + 15, 4096);
    return r;
}

int CBootIntf::FlashRead(uint32_t addr, uint8_t* out, int n) {
    if (n < 1 || n > 255 || !out) {
        job_log(LOG_ERROR, "FlashRead: invalid length %d", n);
        return BOOT_BAD_ARGUMENT;
    }
    uint8_t frame[13];
    size_t p = long_header(frame, 6, 0x08);
    put_le32(frame + p, addr);
    frame[p + 4] = uint8_t(n);
    uint8_t response[255 + 15];
    const double timeout = flash_read_timeout(m_port ? m_port->m_baud : 0, n);
    int r = transact(frame, sizeof frame, response, n + 15, timeout, OnMismatch::Fail, [&](const uint8_t* a) {
        return long_event_is(a, uint32_t(n + 6), 0x08) && addr_at(a, 11, addr);
    });
    if (r == BOOT_OK) memcpy(out, response + 15, size_t(n));
    return r;
}
