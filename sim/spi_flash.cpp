#include "spi_flash.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint32_t kPage = 256;
constexpr uint8_t kStuckBits = 0x1C;  // BP0..BP2

uint32_t addr24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }

bool overlaps(uint32_t a_lo, uint32_t a_hi, uint32_t b_lo, uint32_t b_hi) { return a_lo < b_hi && b_lo < a_hi; }

}  // namespace

SpiFlash::SpiFlash(const SimFlashModel& model) : m_model(&model), m_data(model.size_bytes, 0xFF) {}

void SpiFlash::set_status_register(int index, uint8_t value) {
    if (index < 0 || index >= m_model->status_regs) return;
    if (index == 0) value &= 0xFC;
    if (index == 0 && m_stuck_protect) value |= kStuckBits;
    if (m_sr[index] != value) ++m_changes;
    m_sr[index] = value;
}

void SpiFlash::set_stuck_protect(bool on) {
    m_stuck_protect = on;
    if (on) set_status_register(0, m_sr[0]);
}

uint32_t SpiFlash::combined_status(int64_t now) const {
    uint32_t sr1 = m_sr[0] | (m_wel ? 0x02 : 0) | (busy(now) ? 0x01 : 0);
    return sr1 | (uint32_t(m_sr[1]) << 8) | (uint32_t(m_sr[2]) << 16);
}

uint8_t SpiFlash::security_byte(uint32_t address) const {
    auto it = m_security.find(address >> 8);
    return it == m_security.end() ? 0xFF : it->second[address & 0xFF];
}

// Generic block-protect layout: BP0..BP2 (bits 2-4) choose the protected
// share (none, 1/32 up to 1/2 of the part, or all of it); where the part has
// them, bit 5 moves the share from the top to the bottom, bit 6 makes it 4 KiB
// sectors instead, and bit 14 (CMP) protects everything but that share.
bool SpiFlash::protected_interval(uint32_t& lo, uint32_t& hi, bool& inverted) const {
    uint32_t s = combined_status(0) & m_model->protect_mask;
    uint32_t cap = capacity();
    uint32_t level = (s >> 2) & 7;
    bool bottom = (s & 0x20) != 0;
    bool sectors = (s & 0x40) != 0;
    inverted = (s & 0x4000) != 0;
    uint32_t size;
    if (level == 0) {
        size = 0;
    } else if (level >= 6) {
        size = cap;
    } else if (sectors) {
        size = std::min<uint32_t>(0x1000u << (level - 1), 0x8000u);
    } else {
        size = cap >> (6 - level);
    }
    lo = bottom ? 0 : cap - size;
    hi = bottom ? size : cap;
    return size != 0 || inverted;
}

bool SpiFlash::is_protected(uint32_t address, uint32_t length) const {
    if (length == 0) return false;
    uint32_t lo, hi;
    bool inverted;
    if (!protected_interval(lo, hi, inverted)) return false;
    uint64_t end64 = uint64_t(address) + length;
    uint32_t end = end64 > capacity() ? capacity() : uint32_t(end64);
    if (!inverted) return overlaps(address, end, lo, hi);
    // Everything outside [lo, hi) is protected.
    return address < lo || end > hi;
}

void SpiFlash::busy_for(int64_t now, int64_t duration_us) {
    if (!m_timing_on) return;
    m_ready_at = std::max(m_ready_at, now) + duration_us;
}

void SpiFlash::erase_range(uint32_t address, uint32_t length) {
    std::memset(&m_data[address], 0xFF, length);
    ++m_changes;
}

// A page program latches at most one page; the address wraps inside the page.
void SpiFlash::page_program(uint32_t address, const uint8_t* data, size_t length) {
    uint32_t base = address & ~(kPage - 1);
    uint8_t page[kPage];
    std::memcpy(page, &m_data[base], kPage);
    uint8_t latch[kPage];
    std::memset(latch, 0xFF, kPage);
    for (size_t i = 0; i < length; ++i) latch[(address + i) & (kPage - 1)] = data[i];
    for (uint32_t i = 0; i < kPage; ++i) page[i] &= latch[i];
    std::memcpy(&m_data[base], page, kPage);
    // The hook sees the bytes of the page that the program touched.
    uint32_t first = address & (kPage - 1);
    size_t touched = std::min<size_t>(length, kPage);
    if (m_program_hook) {
        if (first + touched <= kPage) {
            m_program_hook(&m_data[base + first], touched);
        } else {
            m_program_hook(&m_data[base], kPage);
        }
    }
    ++m_changes;
}

FlashStatus SpiFlash::rom_read(uint32_t address, uint8_t* out, size_t length) const {
    uint64_t end = uint64_t(address) + length;
    if (end > capacity()) {
        for (size_t i = 0; i < length; ++i) out[i] = uint64_t(address) + i < capacity() ? m_data[address + i] : 0xFF;
        return FLASH_OUT_OF_RANGE;
    }
    if (length) std::memcpy(out, &m_data[address], length);
    return FLASH_OK;
}

FlashStatus SpiFlash::rom_program(uint32_t address, const uint8_t* data, size_t length, int64_t now) {
    if (uint64_t(address) + length > capacity()) return FLASH_OUT_OF_RANGE;
    if (length == 0) return FLASH_OK;
    m_wel = false;
    // The ROM programs page by page; the part skips a protected page.
    bool refused = false;
    size_t done = 0;
    int pages = 0;
    uint32_t first_programmed = 0;
    size_t programmed = 0;  // bytes of the first run of programmed pages
    while (done < length) {
        uint32_t a = address + uint32_t(done);
        size_t n = std::min<size_t>(kPage - (a & (kPage - 1)), length - done);
        if (is_protected(a, uint32_t(n))) {
            refused = true;
        } else {
            for (size_t i = 0; i < n; ++i) m_data[a + i] &= data[done + i];
            if (programmed == 0) first_programmed = a;
            if (first_programmed + programmed == a) programmed += n;
        }
        ++pages;
        done += n;
    }
    if (programmed) {
        // One program operation as far as faults are concerned.
        if (m_program_hook) m_program_hook(&m_data[first_programmed], programmed);
        ++m_changes;
    }
    busy_for(now, pages * m_timing.page_program_us);
    return refused ? FLASH_PROTECTED : FLASH_OK;
}

FlashStatus SpiFlash::rom_erase(uint8_t spi_opcode, uint32_t address, int64_t now) {
    uint32_t size;
    int64_t duration;
    switch (spi_opcode) {
    case 0x20: size = 0x1000; duration = m_timing.erase_4k_us; break;
    case 0x52: size = 0x8000; duration = m_timing.erase_32k_us; break;
    case 0xD8: size = 0x10000; duration = m_timing.erase_64k_us; break;
    default: return FLASH_BAD_ARGUMENT;
    }
    if (address >= capacity()) return FLASH_OUT_OF_RANGE;
    uint32_t base = address & ~(size - 1);
    m_wel = false;
    if (is_protected(base, size)) return FLASH_PROTECTED;
    erase_range(base, size);
    busy_for(now, duration);
    return FLASH_OK;
}

FlashStatus SpiFlash::rom_erase_all(int64_t now) {
    m_wel = false;
    if (is_protected(0, capacity())) return FLASH_PROTECTED;
    erase_range(0, capacity());
    busy_for(now, m_timing.erase_chip_us_per_mib * int64_t(capacity()) / (1024 * 1024));
    return FLASH_OK;
}

int SpiFlash::status_index_for_read(uint8_t opcode) const {
    for (int i = 0; i < m_model->status_regs; ++i)
        if (m_model->read_ops[i] == opcode) return i;
    return -1;
}

uint8_t SpiFlash::rom_read_status(uint8_t spi_opcode, int64_t now) const {
    int i = status_index_for_read(spi_opcode);
    if (i < 0) return 0xFF;
    return uint8_t(combined_status(now) >> (8 * i));
}

FlashStatus SpiFlash::rom_write_status(uint8_t spi_opcode, const uint8_t* values, size_t count, int64_t now) {
    std::vector<uint8_t> tx(1 + count);
    tx[0] = spi_opcode;
    std::memcpy(tx.data() + 1, values, count);
    bool was_enabled = m_wel && !busy(now);
    transfer(tx.data(), tx.size(), now);
    return was_enabled ? FLASH_OK : FLASH_NOT_WRITE_ENABLED;
}

std::vector<uint8_t> SpiFlash::transfer(const uint8_t* tx, size_t length, int64_t now) {
    std::vector<uint8_t> rx(tx, tx + length);
    if (length == 0) return rx;
    const uint8_t op = tx[0];
    const uint32_t cap = capacity();

    // While a program or erase runs the part answers status reads only.
    int sr_index = status_index_for_read(op);
    if (sr_index >= 0) {
        uint8_t v = uint8_t(combined_status(now) >> (8 * sr_index));
        for (size_t i = 1; i < length; ++i) rx[i] = v;
        return rx;
    }
    if (busy(now)) return rx;

    switch (op) {
    case 0x06:
        m_wel = true;
        break;
    case 0x04:
        m_wel = false;
        break;
    case 0x9F: {
        const uint8_t id[3] = {uint8_t(m_model->mid), uint8_t(m_model->mid >> 8), uint8_t(m_model->mid >> 16)};
        for (size_t i = 1; i < length; ++i) rx[i] = i <= 3 ? id[i - 1] : 0xFF;
        break;
    }
    case 0x03:
    case 0x0B: {
        size_t data_at = op == 0x03 ? 4 : 5;
        if (length <= data_at) break;
        uint32_t a = addr24(tx + 1);
        for (size_t i = data_at; i < length; ++i) rx[i] = m_data[(a + (i - data_at)) % cap];
        break;
    }
    case 0x01:
    case 0x31:
    case 0x11: {
        if (length < 2) break;  // the part acts when chip select rises after a value byte
        if (!m_wel) break;
        m_wel = false;
        if (op == 0x01) {
            set_status_register(0, tx[1]);
            if (length >= 3 && m_model->status_regs >= 2) set_status_register(1, tx[2]);
        } else if (op == 0x31) {
            if (m_model->status_regs >= 2) set_status_register(1, tx[1]);
        } else {
            if (m_model->status_regs >= 3) set_status_register(2, tx[1]);
        }
        busy_for(now, m_timing.status_write_us);
        break;
    }
    case 0x02: {
        if (length < 5 || !m_wel) break;
        m_wel = false;
        uint32_t a = addr24(tx + 1) % cap;
        size_t n = length - 4;
        // Only the last page's worth of data stays in the latch.
        const uint8_t* d = tx + 4;
        if (n > kPage) {
            d += n - kPage;
            a = (a & ~(kPage - 1)) | ((a + uint32_t(n - kPage)) & (kPage - 1));
            n = kPage;
        }
        if (is_protected(a & ~(kPage - 1), kPage)) break;
        page_program(a, d, n);
        busy_for(now, m_timing.page_program_us);
        break;
    }
    case 0x20:
    case 0x52:
    case 0xD8: {
        if (length < 4 || !m_wel) break;
        m_wel = false;
        uint32_t size = op == 0x20 ? 0x1000 : op == 0x52 ? 0x8000 : 0x10000;
        uint32_t base = (addr24(tx + 1) % cap) & ~(size - 1);
        if (is_protected(base, size)) break;
        erase_range(base, size);
        busy_for(now, op == 0x20 ? m_timing.erase_4k_us : op == 0x52 ? m_timing.erase_32k_us : m_timing.erase_64k_us);
        break;
    }
    case 0x60:
    case 0xC7: {
        if (!m_wel) break;
        m_wel = false;
        if (is_protected(0, cap)) break;
        erase_range(0, cap);
        busy_for(now, m_timing.erase_chip_us_per_mib * int64_t(cap) / (1024 * 1024));
        break;
    }
    case 0x44: {
        if (length < 4 || !m_wel) break;
        m_wel = false;
        uint32_t page = addr24(tx + 1) >> 8;
        if (m_security.erase(page)) ++m_changes;
        busy_for(now, m_timing.erase_4k_us);
        break;
    }
    case 0x42: {
        if (length < 5 || !m_wel) break;
        m_wel = false;
        uint32_t a = addr24(tx + 1);
        auto it = m_security.find(a >> 8);
        SecurityPage page;
        if (it == m_security.end()) {
            page.fill(0xFF);
        } else {
            page = it->second;
        }
        uint8_t latch[kPage];
        std::memset(latch, 0xFF, kPage);
        for (size_t i = 4; i < length; ++i) latch[(a + (i - 4)) & (kPage - 1)] = tx[i];
        bool blank = true;
        for (uint32_t i = 0; i < kPage; ++i) {
            page[i] &= latch[i];
            if (page[i] != 0xFF) blank = false;
        }
        if (!blank) m_security[a >> 8] = page;
        ++m_changes;
        busy_for(now, m_timing.page_program_us);
        break;
    }
    case 0x48: {
        if (length <= 5) break;
        uint32_t a = addr24(tx + 1);
        for (size_t i = 5; i < length; ++i) {
            uint32_t at = (a & ~(kPage - 1)) | ((a + uint32_t(i - 5)) & (kPage - 1));
            rx[i] = security_byte(at);
        }
        break;
    }
    case 0x66:
    case 0x99:
        m_wel = false;
        break;
    default:
        break;
    }
    return rx;
}

}  // namespace sim
