#include "boot_rom.h"

#include <algorithm>
#include <array>

namespace sim {

namespace {

uint32_t le32(const std::vector<uint8_t>& p, size_t at) {
    return uint32_t(p[at]) | (uint32_t(p[at + 1]) << 8) | (uint32_t(p[at + 2]) << 16) | (uint32_t(p[at + 3]) << 24);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

std::array<uint32_t, 256> make_crc_table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[i] = c;
    }
    return t;
}

RomOutcome answer_now(std::vector<uint8_t> bytes, int64_t at) {
    RomOutcome o;
    o.answered = true;
    o.answer = std::move(bytes);
    o.answer_at_us = at;
    return o;
}

RomOutcome flash_answer(uint8_t opcode, uint8_t status, const std::vector<uint8_t>& payload, int64_t at) {
    RomOutcome o = answer_now(long_answer(opcode, status, payload), at);
    o.status = status;
    return o;
}

}  // namespace

std::vector<uint8_t> short_answer(uint8_t opcode, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out = {0x04, 0x0E, uint8_t(4 + payload.size()), 0x01, 0xE0, 0xFC, opcode};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<uint8_t> long_answer(uint8_t opcode, uint8_t status, const std::vector<uint8_t>& payload) {
    size_t n = 2 + payload.size();
    std::vector<uint8_t> out = {0x04, 0x0E, 0xFF, 0x01, 0xE0, 0xFC, 0xF4, uint8_t(n), uint8_t(n >> 8), opcode, status};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

uint32_t rom_crc32(const uint8_t* data, size_t length, uint32_t crc) {
    static const std::array<uint32_t, 256> table = make_crc_table();
    for (size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

int64_t BootRom::flash_start(int64_t now) const { return std::max(now, m_flash->ready_at()); }

RomOutcome BootRom::execute(const RomFrame& frame, int64_t now) {
    return frame.long_form ? execute_long(frame, now) : execute_short(frame, now);
}

RomOutcome BootRom::execute_short(const RomFrame& frame, int64_t now) {
    const std::vector<uint8_t>& p = frame.params;
    switch (frame.opcode) {
    case 0x00:  // link check: the answer carries 01 00
        return answer_now(short_answer(0x01, {0x00}), now);
    case 0x01: {
        if (p.size() != 8) break;
        uint32_t address = le32(p, 0);
        RomOutcome o = answer_now(short_answer(0x01, p), now);
        o.new_baud = m_registers->write(address, le32(p, 4), now);
        return o;
    }
    case 0x03: {
        if (p.size() != 4) break;
        uint32_t address = le32(p, 0);
        std::vector<uint8_t> payload = p;
        if (m_config->chip_id_echo_plus_100 && (address & ~3u) == (m_config->chip_id_address & ~3u))
            payload[1] = uint8_t(payload[1] + 1);
        put32(payload, m_registers->read(address, now));
        return answer_now(short_answer(0x03, payload), now);
    }
    case 0x0F: {
        if (p.size() != 5) break;
        int64_t baud = le32(p, 0);
        if (baud <= 0 || baud > 100000000) break;
        RomOutcome o = answer_now(short_answer(0x0F, p), now + m_config->baud_switch_delay_us);
        o.new_baud = int(baud);
        o.rate_switch = true;
        return o;
    }
    case 0x10: {
        if (p.size() != 8) break;
        uint32_t start = le32(p, 0), end = le32(p, 4);
        // A range that is empty or leaves the flash gets no CRC rather than a made-up one.
        if (end < start || end >= m_flash->capacity()) break;
        int64_t at = flash_start(now);
        uint32_t crc = rom_crc32(m_flash->contents().data() + start, size_t(end - start) + 1);
        std::vector<uint8_t> payload;
        put32(payload, crc);
        return answer_now(short_answer(0x10, payload), at);
    }
    case 0x21: {
        if (p.size() < 4) break;
        uint32_t address = le32(p, 0);
        m_registers->write_bytes(address, p.data() + 4, p.size() - 4);
        std::vector<uint8_t> payload(p.begin(), p.begin() + 4);
        payload.push_back(uint8_t(p.size() - 4));
        payload.push_back(0x00);
        return answer_now(short_answer(0x21, payload), now);
    }
    case 0x0E: {
        if (p.size() == 1 && p[0] == 0xA5) {
            RomOutcome o;
            o.reboot = true;
            return o;
        }
        break;
    }
    default:  // FE (reset magic) and unknown opcodes: nothing
        break;
    }
    return RomOutcome{};
}

RomOutcome BootRom::execute_long(const RomFrame& frame, int64_t now) {
    const std::vector<uint8_t>& p = frame.params;
    const uint8_t op = frame.opcode;
    switch (op) {
    case 0x0A: {  // erase all; the answer goes out while the part is still erasing
        if (p.size() != 1) break;
        int64_t at = flash_start(now);
        FlashStatus s = m_flash->rom_erase_all(at);
        return flash_answer(op, s, p, at);
    }
    case 0x0B: {
        if (p.size() != 4) break;
        int64_t at = flash_start(now);
        FlashStatus s = m_flash->rom_erase(0x20, le32(p, 0), at);
        return flash_answer(op, s, p, at);
    }
    case 0x0F: {
        if (p.size() != 5) break;
        int64_t at = flash_start(now);
        FlashStatus s = m_flash->rom_erase(p[0], le32(p, 1), at);
        return flash_answer(op, s, p, at);
    }
    case 0x0C: {
        if (p.size() != 1) break;
        std::vector<uint8_t> payload = {p[0], m_flash->rom_read_status(p[0], now)};
        return flash_answer(op, FLASH_OK, payload, now);
    }
    case 0x0D: {
        if (p.size() != 2 && p.size() != 3) break;
        FlashStatus s = m_flash->rom_write_status(p[0], p.data() + 1, p.size() - 1, now);
        return flash_answer(op, s, p, now);
    }
    case 0x0E: {
        if (p.empty()) break;
        std::vector<uint8_t> rx = m_flash->transfer(p.data(), p.size(), now);
        return flash_answer(op, FLASH_OK, rx, now);
    }
    case 0x07: {
        if (p.size() != 4 + 4096) break;
        int64_t at = flash_start(now);
        FlashStatus s = m_flash->rom_program(le32(p, 0), p.data() + 4, 4096, at);
        std::vector<uint8_t> payload(p.begin(), p.begin() + 4);
        return flash_answer(op, s, payload, std::max(at, m_flash->ready_at()));
    }
    case 0x06: {
        if (p.size() < 5) break;
        int64_t at = flash_start(now);
        size_t n = p.size() - 4;
        FlashStatus s = m_flash->rom_program(le32(p, 0), p.data() + 4, n, at);
        std::vector<uint8_t> payload(p.begin(), p.begin() + 4);
        payload.push_back(uint8_t(n));
        return flash_answer(op, s, payload, std::max(at, m_flash->ready_at()));
    }
    case 0x09: {
        if (p.size() != 4) break;
        int64_t at = flash_start(now);
        std::vector<uint8_t> payload(p.begin(), p.begin() + 4);
        payload.resize(4 + 4096);
        FlashStatus s = m_flash->rom_read(le32(p, 0), payload.data() + 4, 4096);
        return flash_answer(op, s, payload, at);
    }
    case 0x08: {
        if (p.size() != 5) break;
        int64_t at = flash_start(now);
        size_t n = p[4];
        std::vector<uint8_t> payload(p.begin(), p.begin() + 4);
        payload.resize(4 + n);
        FlashStatus s = m_flash->rom_read(le32(p, 0), payload.data() + 4, n);
        return flash_answer(op, s, payload, at);
    }
    default:
        break;
    }
    return RomOutcome{};
}

}  // namespace sim
