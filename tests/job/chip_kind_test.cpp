// The chip-id table: kind, family and how the link switches the baud rate.

#include <gtest/gtest.h>

#include "job/chip_kind.h"

namespace {

struct KindCase {
    uint32_t id;
    uint8_t kind;
    BaudSwitch baud_switch;
};

TEST(ChipKind, TableOfChipIds) {
    const KindCase cases[] = {
        {0x5810, 1, BaudSwitch::Direct},       {0x5810A, 2, BaudSwitch::None},
        {0x5870, 4, BaudSwitch::Direct},       {0x5810C, 5, BaudSwitch::Negotiated},
        {0x5820, 6, BaudSwitch::Negotiated},   {0x5800A, 8, BaudSwitch::None},
        {0x5850, 9, BaudSwitch::Negotiated},   {0x3D40, 9, BaudSwitch::Negotiated},
        {0x5830, 10, BaudSwitch::Negotiated},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        EXPECT_EQ(chip_kind_for_id(c.id), c.kind);
        EXPECT_EQ(chip_kind_baud_switch(c.kind), c.baud_switch);
        EXPECT_EQ(chip_kind_has_family(c.kind), c.baud_switch != BaudSwitch::None);
    }
    // Unknown ids are left to the chip selection (which runs them as kind 5).
    for (uint32_t id : {0u, 0x5840u, 0x58100000u, 0xFFFFFFFFu}) EXPECT_EQ(chip_kind_for_id(id), CHIP_KIND_NONE);
    for (uint8_t kind : {0, 3, 7, 11}) EXPECT_FALSE(chip_kind_has_family(kind));
}

}  // namespace
