#include "flash/flash_models.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>

namespace {

// Lookup takes the first matching row, so a duplicated id would hide the
// later row; flash_models_self_test guards against that.
constexpr FlashModel kFlashModels[] = {
    // mid, name, vendor, size in bits, status registers, unprotect, protect,
    // mask, shift, bits, read-status opcodes, write-status opcodes
    {0x13311C, "PN25F04B", "xtx", 0x00400000, 1, 0, 7, 0x003C, 2, 4, {0x05, 0xFF, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 0
    {0x14405E, "PN25F08B", "xtx", 0x00800000, 1, 0, 7, 0x003C, 2, 4, {0x05, 0xFF, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 1
    {0x15400B, "XT25F16B", "xtx", 0x01000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 2
    {0x16400B, "XT25F32B", "xtx", 0x02000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 3
    {0x17600B, "XT25Q64B", "xtx", 0x04000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 4
    {0x17400B, "XT25F64B", "xtx", 0x04000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 5
    {0x18600B, "XT25Q128B", "xtx", 0x08000000, 3, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0x15, 0xFF}, {0x01, 0x31, 0x11, 0xFF}},  // 6
    {0x18400B, "XT25F128F", "xtx", 0x08000000, 3, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0x15, 0xFF}, {0x01, 0x31, 0x11, 0xFF}},  // 7
    {0x136085, "P25Q40", "Puya", 0x00400000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 8
    {0x146085, "P25Q80", "Puya", 0x00800000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 9
    {0x154285, "P25Q80", "Puya", 0x01000000, 1, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 10
    {0x152085, "P25Q16HB_K", "Puya", 0x01000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 11
    {0x156085, "P25Q16SU", "Puya", 0x01000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 12
    {0x166085, "P25Q32H", "Puya", 0x02000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 13
    {0x176085, "P25Q64H", "Puya", 0x04000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 14
    {0x1423C2, "MX25V8035F", "WH", 0x00800000, 2, 0, 7, 0x103C, 2, 5, {0x05, 0x15, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 15
    {0x1523C2, "MX25V1635F", "WH", 0x01000000, 2, 0, 7, 0x103C, 2, 5, {0x05, 0x15, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 16
    {0x1340E0, "PN25Q40A", "BY", 0x00400000, 1, 0, 7, 0x401C, 2, 3, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 17
    {0x1440E0, "PN25Q80A", "BY", 0x00800000, 1, 0, 7, 0x401C, 2, 3, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 18
    {0x1840EF, "WB25Q128JV", "WB", 0x08000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 19
    {0x18505E, "DS_ZB25LQ128C", "WB", 0x08000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0x15, 0xFF}, {0x01, 0x31, 0x11, 0xFF}},  // 20
    {0x15701C, "EN25QH16B", "ESMT", 0x01000000, 1, 0, 7, 0x003C, 2, 4, {0x05, 0xFF, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 21
    {0x16411C, "EN25QH32A", "ESMT", 0x02000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 22
    {0x16611C, "EN25QH32A", "ESMT", 0x02000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 23
    {0x1360CD, "TH25D_40HB", "TH", 0x00400000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 24
    {0x1460CD, "TH25Q_80HB", "TH", 0x00800000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 25
    {0x1560EB, "TH25Q_16HB", "TH", 0x01000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 26
    {0x134051, "GD25D40", "GD", 0x00400000, 1, 0, 7, 0x001C, 2, 3, {0x05, 0xFF, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 27
    {0x1340C8, "GD25Q41B", "GD", 0x00400000, 1, 0, 7, 0x401C, 2, 3, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 28
    {0x144051, "GD25D80", "GD", 0x00800000, 1, 0, 7, 0x001C, 2, 3, {0x05, 0xFF, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 29
    {0x1440C8, "GD25D80", "GD", 0x00800000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 30
    {0x1540C8, "GD25Q16B", "GD", 0x01000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 31
    {0x1565C8, "GD25WQ16E", "GD", 0x01000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 32
    {0x1665C8, "GD25WQ32E", "GD", 0x02000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 33
    {0x1765C8, "GD25WQ64E", "GD", 0x04000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 34
    {0x1740C8, "GD25Q64", "GD", 0x04000000, 1, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 35
    {0x1860C8, "GD25LQ128E", "GD", 0x08000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 36
    {0x184120, "XM25QU128C", "XMC", 0x08000000, 2, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 37
    {0x1640C8, "NA_NA", "NA", 0x02000000, 1, 0, 7, 0x407C, 2, 5, {0x05, 0x35, 0xFF, 0xFF}, {0x01, 0xFF, 0xFF, 0xFF}},  // 38
};

constexpr uint32_t kSplitUnprotectIds[] = {0x154285, 0x1640C8};

// The image slots hold 16 MiB; no supported flash is larger.
constexpr uint32_t kMaxFlashBytes = 0x1000000;

std::string row_label(size_t index, const FlashModel& model) {
    char text[64];
    snprintf(text, sizeof text, "row %zu (0x%06X %.16s)", index, static_cast<unsigned>(model.mid), model.name);
    return text;
}

bool text_field_ok(const char (&field)[16]) {
    return field[0] != '\0' && memchr(field, '\0', sizeof field) != nullptr;
}

}  // namespace

std::span<const FlashModel> flash_models() { return kFlashModels; }

const FlashModel* find_flash_model(uint32_t mid) {
    for (const FlashModel& model : kFlashModels) {
        if (model.mid == mid) {
            return &model;
        }
    }
    return nullptr;
}

bool flash_needs_split_unprotect(const FlashModel& model) {
    for (uint32_t mid : kSplitUnprotectIds) {
        if (model.mid == mid) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> flash_table_problems(std::span<const FlashModel> models) {
    std::vector<std::string> problems;
    std::set<uint32_t> seen;
    for (size_t i = 0; i < models.size(); ++i) {
        const FlashModel& m = models[i];
        const std::string label = row_label(i, m);
        auto fail = [&](const char* what) { problems.push_back(label + ": " + what); };

        if (m.mid == 0 || m.mid > 0xFFFFFF) {
            fail("id is not a 24-bit JEDEC id");
        }
        const uint32_t maker = m.mid & 0xFF;
        if (maker == 0x00 || maker == 0xFF) {
            fail("manufacturer code is blank");
        }
        if (!seen.insert(m.mid).second) {
            fail("id already used by an earlier row");
        }
        if (!text_field_ok(m.name)) {
            fail("name is empty or not terminated");
        }
        if (!text_field_ok(m.vendor)) {
            fail("vendor is empty or not terminated");
        }

        const uint32_t capacity_code = (m.mid >> 16) & 0xFF;
        if (capacity_code < 0x10 || capacity_code > 0x18) {
            fail("capacity code out of range");
        } else if (m.size != (1u << (capacity_code + 3))) {
            fail("size does not match the capacity code of the id");
        }
        if (m.size == 0 || (m.size & (m.size - 1)) != 0 || flash_size_bytes(m) > kMaxFlashBytes) {
            fail("size is not a power of two up to 16 MiB");
        }

        if (m.sr_count < 1 || m.sr_count > 3) {
            fail("status register count not 1 to 3");
        }
        if (m.bits < 1 || m.bits > 8 || m.shift + m.bits > 24) {
            fail("protection field outside the status registers");
        } else {
            const uint32_t off = flash_protect_bits(m, m.unprotect_value);
            const uint32_t on = flash_protect_bits(m, m.protect_value);
            if ((off & ~m.mask) != 0 || (on & ~m.mask) != 0) {
                fail("protection state has bits outside the mask, it can never be reached");
            }
            if (off == on) {
                fail("protected and unprotected states are the same");
            }
        }

        size_t read_count = 0;
        while (read_count < 4 && m.read_sr[read_count] != kNoOpcode) {
            ++read_count;
        }
        for (size_t j = read_count; j < 4; ++j) {
            if (m.read_sr[j] != kNoOpcode) {
                fail("read-status opcodes have a gap");
                break;
            }
        }
        if (read_count < m.sr_count || read_count > 3) {
            fail("read-status opcodes do not cover the status registers");
        }
        if (m.write_sr[0] == kNoOpcode || m.write_sr[3] != kNoOpcode) {
            fail("write-status opcode missing");
        }
        if (flash_needs_split_unprotect(m) && read_count < 2) {
            fail("split unprotect needs the status register 2 read opcode");
        }
    }
    return problems;
}

std::vector<std::string> flash_models_self_test() { return flash_table_problems(kFlashModels); }
