#include "flash/chip_erase_table.h"

namespace {

struct ChipEraseRow {
    uint32_t mid;
    ChipEraseTiming timing;
};

// The boot ROM answers the erase-all command before the part has finished;
// these parts are known to need at least the given time.
constexpr ChipEraseRow kRows[] = {
    {0x15701C, {23000, true, 120}},  // EN25QH16B
    {0x16411C, {23000, true, 120}},  // EN25QH32A
    {0x16611C, {23000, true, 120}},  // EN25QH32A
    {0x154285, {23000, false, 0}},   // P25Q80
    {0x1565C8, {10000, true, 50}},   // GD25WQ16E
    {0x1665C8, {10000, true, 50}},   // GD25WQ32E
    {0x1740C8, {10000, true, 50}},   // GD25Q64
    {0x1765C8, {10000, true, 50}},   // GD25WQ64E
    {0x13311C, {0, true, 0}},        // PN25F04B
    {0x14405E, {0, true, 0}},        // PN25F08B
    {0x15400B, {0, true, 0}},        // XT25F16B
    {0x16400B, {0, true, 0}},        // XT25F32B
    {0x17400B, {0, true, 0}},        // XT25F64B
    {0x17600B, {0, true, 0}},        // XT25Q64B
};

}  // namespace

ChipEraseTiming chip_erase_timing(uint32_t mid) {
    for (const ChipEraseRow& row : kRows) {
        if (row.mid == mid) return row.timing;
    }
    return ChipEraseTiming{};
}
