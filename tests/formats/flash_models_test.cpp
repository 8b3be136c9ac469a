#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "flash/flash_models.h"

namespace {

TEST(FlashModels, TablePassesItsSelfTest) {
    std::vector<std::string> problems = flash_models_self_test();
    for (const std::string& p : problems) {
        ADD_FAILURE() << p;
    }
    EXPECT_EQ(flash_models().size(), 39u);
}

struct KnownFlash {
    uint32_t mid;
    const char* name;
    const char* vendor;
    uint32_t size_bits;
    uint8_t sr_count;
    uint32_t mask;
    uint8_t bits;
    size_t row;
};

void PrintTo(const KnownFlash& k, std::ostream* os) { *os << k.name; }

class FlashLookupTest : public ::testing::TestWithParam<KnownFlash> {};

TEST_P(FlashLookupTest, FindsTheRow) {
    const KnownFlash& k = GetParam();
    const FlashModel* m = find_flash_model(k.mid);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, k.name);
    EXPECT_STREQ(m->vendor, k.vendor);
    EXPECT_EQ(m->size, k.size_bits);
    EXPECT_EQ(m->sr_count, k.sr_count);
    EXPECT_EQ(m->mask, k.mask);
    EXPECT_EQ(m->shift, 2);
    EXPECT_EQ(m->bits, k.bits);
    EXPECT_EQ(m->unprotect_value, 0u);
    EXPECT_EQ(m->protect_value, 7u);
    EXPECT_EQ(m - flash_models().data(), static_cast<ptrdiff_t>(k.row));
}

INSTANTIATE_TEST_SUITE_P(
    Ids, FlashLookupTest,
    ::testing::Values(KnownFlash{0x13311C, "PN25F04B", "xtx", 0x00400000, 1, 0x003C, 4, 0},
                      KnownFlash{0x18600B, "XT25Q128B", "xtx", 0x08000000, 3, 0x407C, 5, 6},
                      KnownFlash{0x154285, "P25Q80", "Puya", 0x01000000, 1, 0x407C, 5, 10},
                      KnownFlash{0x1423C2, "MX25V8035F", "WH", 0x00800000, 2, 0x103C, 5, 15},
                      KnownFlash{0x18505E, "DS_ZB25LQ128C", "WB", 0x08000000, 2, 0x407C, 5, 20},
                      KnownFlash{0x1560EB, "TH25Q_16HB", "TH", 0x01000000, 2, 0x407C, 5, 26},
                      KnownFlash{0x134051, "GD25D40", "GD", 0x00400000, 1, 0x001C, 3, 27},
                      KnownFlash{0x1540C8, "GD25Q16B", "GD", 0x01000000, 2, 0x407C, 5, 31},
                      KnownFlash{0x184120, "XM25QU128C", "XMC", 0x08000000, 2, 0x407C, 5, 37},
                      // The last row counts as a known flash too.
                      KnownFlash{0x1640C8, "NA_NA", "NA", 0x02000000, 1, 0x407C, 5, 38}));

TEST(FlashModels, UnknownIds) {
    for (uint32_t mid : {0x000000u, 0xFFFFFFu, 0x1540C9u, 0x01540C8u + 0x1000000u, 0xC84015u}) {
        EXPECT_EQ(find_flash_model(mid), nullptr) << std::hex << mid;
    }
}

TEST(FlashModels, SizesAndOpcodes) {
    const FlashModel* gd = find_flash_model(0x1540C8);
    ASSERT_NE(gd, nullptr);
    EXPECT_EQ(flash_size_bytes(*gd), 0x200000u);
    EXPECT_EQ(flash_protect_bits(*gd, gd->protect_value), 0x1Cu);
    EXPECT_EQ(flash_protect_bits(*gd, gd->unprotect_value), 0u);

    const FlashModel* xt = find_flash_model(0x18600B);
    ASSERT_NE(xt, nullptr);
    EXPECT_EQ(flash_size_bytes(*xt), 0x1000000u);
    const uint8_t xt_read[4] = {0x05, 0x35, 0x15, 0xFF};
    const uint8_t xt_write[4] = {0x01, 0x31, 0x11, 0xFF};
    EXPECT_EQ(0, memcmp(xt->read_sr, xt_read, 4));
    EXPECT_EQ(0, memcmp(xt->write_sr, xt_write, 4));

    // Three opcodes listed, but two registers read and written as one value.
    const FlashModel* zb = find_flash_model(0x18505E);
    ASSERT_NE(zb, nullptr);
    EXPECT_EQ(zb->sr_count, 2);
    EXPECT_EQ(zb->read_sr[2], 0x15);

    const FlashModel* pn = find_flash_model(0x13311C);
    ASSERT_NE(pn, nullptr);
    EXPECT_EQ(pn->read_sr[1], kNoOpcode);
}

TEST(FlashModels, SplitUnprotectRows) {
    int count = 0;
    for (const FlashModel& m : flash_models()) {
        if (flash_needs_split_unprotect(m)) {
            ++count;
            EXPECT_TRUE(m.mid == 0x154285 || m.mid == 0x1640C8) << std::hex << m.mid;
        }
    }
    EXPECT_EQ(count, 2);
}

// The self-test must notice each kind of broken row, or passing it means nothing.
TEST(FlashModels, SelfTestCatchesBrokenRows) {
    using Breaker = void (*)(std::vector<FlashModel>&);
    const Breaker breakers[] = {
        [](std::vector<FlashModel>& t) { t[5].mid = t[2].mid; },                 // duplicate id
        [](std::vector<FlashModel>& t) { t[3].mid |= 0x1000000; },               // wider than 24 bits
        [](std::vector<FlashModel>& t) { t[3].size = 0x01000000; },              // size vs capacity code
        [](std::vector<FlashModel>& t) { t[15].mask = 0x1030; },                 // protect bits outside mask
        [](std::vector<FlashModel>& t) { t[6].read_sr[2] = kNoOpcode; },         // 3 registers, 2 opcodes
        [](std::vector<FlashModel>& t) { t[0].write_sr[0] = kNoOpcode; },        // no write opcode
        [](std::vector<FlashModel>& t) { t[1].sr_count = 0; },                   // register count
        [](std::vector<FlashModel>& t) { t[2].protect_value = 0; },              // protect == unprotect
        [](std::vector<FlashModel>& t) { memset(t[4].name, 'A', 16); },          // unterminated name
        [](std::vector<FlashModel>& t) { t[38].read_sr[1] = kNoOpcode; },        // split unprotect needs SR2
    };
    for (size_t i = 0; i < std::size(breakers); ++i) {
        std::vector<FlashModel> table(flash_models().begin(), flash_models().end());
        ASSERT_TRUE(flash_table_problems(table).empty());
        breakers[i](table);
        EXPECT_FALSE(flash_table_problems(table).empty()) << "breaker " << i;
    }
}

}  // namespace
