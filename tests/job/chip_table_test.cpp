// The chip table: kinds, families and baud switches of the chip ids, the
// upper-half chip ids, and the self-check that keeps the rows consistent.

#include <gtest/gtest.h>

#include <vector>

#include "job/chip_table.h"

namespace {

struct KindCase {
    uint32_t id;
    uint8_t kind;
    BaudSwitch baud_switch;
};

TEST(ChipTable, KindsOfChipIds) {
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
    // Unknown ids are left to the chip selection, which runs them as kind 5.
    for (uint32_t id : {0u, 0x5840u, 0x58100000u, 0xFFFFFFFFu}) EXPECT_EQ(chip_kind_for_id(id), CHIP_KIND_NONE);
    EXPECT_EQ(chip_row_for_unknown_id().kind, CHIP_KIND_5810N);
    for (uint8_t kind : {0, 3, 7, 11}) EXPECT_FALSE(chip_kind_has_family(kind));
}

TEST(ChipTable, KnownIdsAndTheirUpperHalf) {
    struct Case {
        uint32_t in;
        bool known;
        uint32_t out;
    };
    const Case cases[] = {
        {0x5850, true, 0x5850},      {0x5810C, true, 0x5810C},   {0x58200001, true, 0x5820},
        {0x3D40FFFF, true, 0x3D40},  {0x12345678, false, 0x1234}, {0x5800A, true, 0x5800A},
        {0x00000000, false, 0},      {0x0005810A, true, 0x5810A},
    };
    for (const auto& c : cases) {
        uint32_t id = c.in;
        EXPECT_EQ(is_known_chip_id(id), c.known) << std::hex << c.in;
        EXPECT_EQ(id, c.out) << std::hex << c.in;
    }
}

TEST(ChipTable, OnlyThe5820SubstitutesRates) {
    for (const ChipRow& row : chip_table()) {
        const bool is5820 = row.kind == CHIP_KIND_5820;
        EXPECT_EQ(row.substitute_rate(512000), is5820 ? 500000 : 512000) << int(row.kind);
        EXPECT_EQ(row.substitute_rate(961200), is5820 ? 650000 : 961200) << int(row.kind);
        EXPECT_EQ(row.substitute_rate(921600), 921600) << int(row.kind);
    }
}

TEST(ChipTable, SelfCheckAcceptsTheTable) { EXPECT_EQ(check_chip_table(chip_table()), ""); }

// Each case breaks one row of a copy of the table; the check must name it.
TEST(ChipTable, SelfCheckFindsBrokenRows) {
    struct Break {
        const char* what;
        uint8_t kind;
        void (*apply)(ChipRow&);
        const char* expected;  // part of the message
    };
    static const EfuseParamTexts kHalfParams{"0x20", nullptr, nullptr, nullptr, nullptr};
    static const EfuseParamTexts kNotANumber{"20", "0x1F", "0x1", "0x2", "0x3"};
    const Break breaks[] = {
        {"family without a baud switch", CHIP_KIND_5820, [](ChipRow& r) { r.baud_switch = BaudSwitch::None; },
         "kind 6"},
        {"baud switch without a family", CHIP_KIND_5810A, [](ChipRow& r) { r.baud_switch = BaudSwitch::Direct; },
         "kind 2"},
        {"engine without a family", CHIP_KIND_5800A, [](ChipRow& r) { r.engine = UserOperateEngine::Common; },
         "without a family"},
        {"clock steps on a direct switch", CHIP_KIND_5810, [](ChipRow& r) { r.sys_clk_step = true; },
         "clock steps"},
        {"substitute on a direct switch", CHIP_KIND_5870, [](ChipRow& r) { r.substitutes[0] = {512000, 500000}; },
         "substitute"},
        {"substitute to the same rate", CHIP_KIND_5820, [](ChipRow& r) { r.substitutes[1] = {650000, 650000}; },
         "must differ"},
        {"some eFuse parameters", CHIP_KIND_5810N, [](ChipRow& r) { r.efuse_params = kHalfParams; },
         "all given or none"},
        {"eFuse parameter not a number", CHIP_KIND_5850, [](ChipRow& r) { r.efuse_params = kNotANumber; },
         "\"20\""},
        {"parameters without an engine", CHIP_KIND_5870, [](ChipRow& r) { r.engine = UserOperateEngine::None; },
         "without an engine"},
        {"5820 engine without parameters", CHIP_KIND_5830, [](ChipRow& r) { r.engine = UserOperateEngine::Qn5820; },
         "needs its parameters"},
        {"id listed twice", CHIP_KIND_5830, [](ChipRow& r) { r.ids[1] = 0x5820; }, "0x5820 listed twice"},
        {"second unknown-id row", CHIP_KIND_5820, [](ChipRow& r) { r.takes_unknown_ids = true; }, "exactly one"},
        {"no unknown-id row", CHIP_KIND_5810N, [](ChipRow& r) { r.takes_unknown_ids = false; }, "exactly one"},
        {"row without id", CHIP_KIND_5810, [](ChipRow& r) { r.ids[0] = 0; }, "no chip id"},
    };
    for (const Break& b : breaks) {
        SCOPED_TRACE(b.what);
        std::vector<ChipRow> rows(chip_table().begin(), chip_table().end());
        bool found = false;
        for (ChipRow& row : rows) {
            if (row.kind != b.kind) continue;
            b.apply(row);
            found = true;
        }
        ASSERT_TRUE(found);
        const std::string problem = check_chip_table(rows);
        EXPECT_NE(problem.find(b.expected), std::string::npos) << problem;
    }
}

}  // namespace
