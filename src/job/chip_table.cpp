#include "job/chip_table.h"

#include <cstdio>
#include <set>

namespace {

// The kinds that reach the calibration all use these values; the others get
// them too, as nothing else is known about them.
constexpr DcoParams kDco{27, 7, 0x04000000, 0x7F};

constexpr EfuseParamTexts kNoEfuseParams{nullptr, nullptr, nullptr, nullptr, nullptr};
// The block at 0x44880000 with its OTP enable at 0x4B00800C (5850 and 5870).
constexpr EfuseParamTexts kEfuseParamsB{"0x20", "0x1F", "0x44880000", "0x44880000", "0x4B00800C"};

constexpr ChipRow kRows[] = {
    {CHIP_KIND_5810, "CQN_WIFI_5810", {0x5810, 0}, false, BaudSwitch::Direct, false, {}, kDco, nullptr,
     kNoEfuseParams, UserOperateEngine::None},
    {CHIP_KIND_5810A, nullptr, {0x5810A, 0}, false, BaudSwitch::None, false, {}, kDco, nullptr, kNoEfuseParams,
     UserOperateEngine::None},
    {CHIP_KIND_5870, "CQN_WIFI_5870", {0x5870, 0}, false, BaudSwitch::Direct, false, {}, kDco, &kEfuseSetA,
     kEfuseParamsB, UserOperateEngine::Common},
    {CHIP_KIND_5810N, "CQN_WIFI_5810N", {0x5810C, 0}, true, BaudSwitch::Negotiated, true, {}, kDco, &kEfuseSetA,
     {"0x20", "0x1F", "0x00800074", "0x00800008", "0x0"}, UserOperateEngine::Common},
    // The 5820's UART cannot make 512000 and 961200; the job keeps the substitute.
    {CHIP_KIND_5820, "CQN_WIFI_5820", {0x5820, 0}, false, BaudSwitch::Negotiated, false,
     {{512000, 500000}, {961200, 650000}}, kDco, &kEfuseSetA, {"0x4", "0x1F", "0x44880010", "0x44880010", "0x44010040"},
     UserOperateEngine::Qn5820},
    {CHIP_KIND_5800A, nullptr, {0x5800A, 0}, false, BaudSwitch::None, false, {}, kDco, nullptr, kNoEfuseParams,
     UserOperateEngine::None},
    {CHIP_KIND_5850, "CQN_WIFI_5850", {0x5850, 0x3D40}, false, BaudSwitch::Negotiated, false, {}, kDco,
     &kEfuseSetB, kEfuseParamsB, UserOperateEngine::Common},
    // No eFuse parameters are known for the 5830: its engine refuses the
    // stages that need them.
    {CHIP_KIND_5830, "CQN_WIFI_5830", {0x5830, 0}, false, BaudSwitch::Negotiated, true, {}, kDco, &kEfuseSetA,
     kNoEfuseParams, UserOperateEngine::Common},
};

std::string row_name(const ChipRow& row) {
    char name[48];
    std::snprintf(name, sizeof name, "kind %d (%s)", row.kind, row.family ? row.family : "no family");
    return name;
}

bool is_hex_text(const char* text) {
    if (!text || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || text[2] == '\0') return false;
    for (const char* p = text + 2; *p; ++p) {
        const char c = *p;
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

std::string check_row(const ChipRow& row) {
    const std::string name = row_name(row);
    if (row.kind == CHIP_KIND_NONE) return name + ": kind 0 means no chip";
    if (row.ids[0] == 0) return name + ": no chip id";
    if (row.has_family() != (row.baud_switch != BaudSwitch::None)) {
        return name + ": a family and a baud switch go together";
    }
    if (!row.has_family() && (row.efuse_set || row.engine != UserOperateEngine::None || row.takes_unknown_ids)) {
        return name + ": eFuse, engine or unknown ids without a family";
    }
    if (row.sys_clk_step && row.baud_switch != BaudSwitch::Negotiated) {
        return name + ": clock steps run only with the negotiated switch";
    }
    for (const BaudSubstitute& s : row.substitutes) {
        if (s.asked == 0 && s.used == 0) continue;
        if (row.baud_switch != BaudSwitch::Negotiated) return name + ": substitute rates need the negotiated switch";
        if (s.asked <= 0 || s.used <= 0 || s.asked == s.used) return name + ": a substitute rate must differ";
    }
    const EfuseParamTexts& p = row.efuse_params;
    const char* texts[] = {p.efuse_size, p.enable_bit, p.efuse_ctrl_reg, p.efuse_power_reg, p.aux_ctrl_reg};
    int given = 0;
    for (const char* t : texts) {
        if (!t) continue;
        ++given;
        if (!is_hex_text(t)) return name + ": eFuse parameter \"" + t + "\" is not a 0x number";
    }
    if (given != 0 && given != 5) return name + ": eFuse parameters are all given or none";
    if (given && row.engine == UserOperateEngine::None) return name + ": eFuse parameters without an engine";
    if (row.engine == UserOperateEngine::Qn5820 && !given) return name + ": the 5820 engine needs its parameters";
    return "";
}

}  // namespace

int32_t ChipRow::substitute_rate(int32_t asked) const {
    for (const BaudSubstitute& s : substitutes)
        if (s.asked != 0 && s.asked == asked) return s.used;
    return asked;
}

std::span<const ChipRow> chip_table() { return kRows; }

const ChipRow* chip_row_for_kind(uint8_t kind) {
    for (const ChipRow& row : kRows)
        if (row.kind == kind) return &row;
    return nullptr;
}

const ChipRow* chip_row_for_id(uint32_t chip_id) {
    if (chip_id == 0) return nullptr;
    for (const ChipRow& row : kRows)
        for (uint32_t id : row.ids)
            if (id == chip_id) return &row;
    return nullptr;
}

const ChipRow& chip_row_for_unknown_id() {
    for (const ChipRow& row : kRows)
        if (row.takes_unknown_ids) return row;
    // The table's self-check guarantees one such row.
    return kRows[0];
}

uint8_t chip_kind_for_id(uint32_t chip_id) {
    const ChipRow* row = chip_row_for_id(chip_id);
    return row ? row->kind : uint8_t(CHIP_KIND_NONE);
}

bool chip_kind_has_family(uint8_t kind) {
    const ChipRow* row = chip_row_for_kind(kind);
    return row && row->has_family();
}

BaudSwitch chip_kind_baud_switch(uint8_t kind) {
    const ChipRow* row = chip_row_for_kind(kind);
    return row ? row->baud_switch : BaudSwitch::None;
}

DcoParams dco_params(uint8_t kind) {
    const ChipRow* row = chip_row_for_kind(kind);
    return row ? row->dco : kDco;
}

bool is_known_chip_id(uint32_t& id) {
    if (chip_row_for_id(id)) return true;
    // Only the chips with 16-bit ids keep their number in the upper half.
    id >>= 16;
    return chip_row_for_id(id) != nullptr;
}

std::string check_chip_table(std::span<const ChipRow> rows) {
    std::set<uint8_t> kinds;
    std::set<uint32_t> ids;
    int unknown_rows = 0;
    for (const ChipRow& row : rows) {
        std::string problem = check_row(row);
        if (!problem.empty()) return problem;
        if (!kinds.insert(row.kind).second) return row_name(row) + ": kind listed twice";
        for (uint32_t id : row.ids) {
            if (id != 0 && !ids.insert(id).second) {
                char text[64];
                std::snprintf(text, sizeof text, ": chip id 0x%x listed twice", id);
                return row_name(row) + text;
            }
        }
        if (row.takes_unknown_ids) ++unknown_rows;
    }
    if (unknown_rows != 1) return "exactly one row must take the unrecognised chip ids";
    return "";
}
