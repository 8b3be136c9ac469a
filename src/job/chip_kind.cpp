#include "job/chip_kind.h"

namespace {

struct KindRow {
    uint32_t chip_id;
    uint8_t kind;
};

constexpr KindRow kKinds[] = {
    {0x5810, CHIP_KIND_5810},   {0x5810A, CHIP_KIND_5810A}, {0x5870, CHIP_KIND_5870},
    {0x5810C, CHIP_KIND_5810N}, {0x5820, CHIP_KIND_5820},   {0x5800A, CHIP_KIND_5800A},
    {0x5850, CHIP_KIND_5850},   {0x3D40, CHIP_KIND_5850},   {0x5830, CHIP_KIND_5830},
};

}  // namespace

uint8_t chip_kind_for_id(uint32_t chip_id) {
    for (const KindRow& row : kKinds)
        if (row.chip_id == chip_id) return row.kind;
    return CHIP_KIND_NONE;
}

bool chip_kind_has_family(uint8_t kind) { return chip_kind_baud_switch(kind) != BaudSwitch::None; }

BaudSwitch chip_kind_baud_switch(uint8_t kind) {
    switch (kind) {
        case CHIP_KIND_5810:
        case CHIP_KIND_5870:
            return BaudSwitch::Direct;
        case CHIP_KIND_5810N:
        case CHIP_KIND_5820:
        case CHIP_KIND_5850:
        case CHIP_KIND_5830:
            return BaudSwitch::Negotiated;
        default:
            return BaudSwitch::None;
    }
}

DcoParams dco_params(uint8_t /*kind*/) { return DcoParams{27, 7, 0x04000000, 0x7F}; }
