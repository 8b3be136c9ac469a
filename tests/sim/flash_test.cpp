// The SPI flash as the device: NOR rules, write-enable latch, block
// protection, erase sizes, security registers and the model table.
#include <gtest/gtest.h>

#include "flash_models.h"
#include "sim_test_util.h"
#include "spi_flash.h"

namespace {

// Raw SPI through the boot ROM's pass-through: returns the bytes clocked in.
Bytes spi(ChipDriver& d, const Bytes& tx) {
    Bytes frame = B("01 E0 FC FF F4");
    uint16_t n = uint16_t(tx.size() + 1);
    frame.push_back(uint8_t(n));
    frame.push_back(uint8_t(n >> 8));
    frame.push_back(0x0E);
    frame = concat(frame, tx);
    Bytes answer = d.exchange(frame);
    if (answer.size() != tx.size() + 11) {
        ADD_FAILURE() << "pass-through answer " << hex(answer);
        return {};
    }
    return Bytes(answer.begin() + 11, answer.end());
}

uint8_t read_sr(ChipDriver& d, uint8_t op) { return spi(d, {op, 0})[1]; }

// FlashWrite of n bytes at addr; returns the status byte.
int rom_write(ChipDriver& d, uint32_t addr, const Bytes& data) {
    uint16_t n = uint16_t(data.size() + 5);
    Bytes frame = concat(concat(B("01 E0 FC FF F4"), {uint8_t(n), uint8_t(n >> 8), 0x06}), le32(addr));
    Bytes answer = d.exchange(concat(frame, data));
    return answer.size() == 16 ? answer[10] : -1;
}

int rom_erase(ChipDriver& d, uint8_t op, uint32_t addr) {
    Bytes answer = d.exchange(concat(B("01 E0 FC FF F4 06 00 0F"), concat({op}, le32(addr))));
    return answer.size() == 16 ? answer[10] : -1;
}

Bytes flash(ChipDriver& d, uint32_t addr, size_t n) {
    const Bytes& c = d.chip->flash().contents();
    return Bytes(c.begin() + addr, c.begin() + addr + n);
}

TEST(FlashNor, ProgramOnlyClearsBitsEraseSetsFF) {
    ChipDriver d;
    EXPECT_EQ(rom_write(d, 0x3000, B("F0 0F AA")), 0);
    EXPECT_EQ(rom_write(d, 0x3000, B("3C 3C 55")), 0);
    EXPECT_EQ(hex(flash(d, 0x3000, 3)), "30 0C 00");
    EXPECT_EQ(rom_erase(d, 0x20, 0x3000), 0);
    EXPECT_EQ(hex(flash(d, 0x3000, 3)), "FF FF FF");
}

TEST(FlashNor, ErasesCoverTheirAlignedBlockOnly) {
    struct Case {
        uint8_t op;
        uint32_t addr;
        uint32_t lo, hi;
    };
    const Case cases[] = {
        {0x20, 0x11234, 0x11000, 0x12000},
        {0x52, 0x18000, 0x18000, 0x20000},
        {0x52, 0x1F000, 0x18000, 0x20000},
        {0xD8, 0x2ABCD, 0x20000, 0x30000},
    };
    for (const Case& c : cases) {
        ChipDriver d;
        d.chip->flash().contents().assign(d.chip->flash().capacity(), 0x00);
        EXPECT_EQ(rom_erase(d, c.op, c.addr), 0);
        const Bytes& f = d.chip->flash().contents();
        EXPECT_EQ(f[c.lo - 1], 0x00) << int(c.op);
        EXPECT_EQ(f[c.lo], 0xFF) << int(c.op);
        EXPECT_EQ(f[c.hi - 1], 0xFF) << int(c.op);
        EXPECT_EQ(f[c.hi], 0x00) << int(c.op);
    }
}

TEST(FlashNor, EraseAllAndErase4K) {
    ChipDriver d;
    d.chip->flash().contents().assign(d.chip->flash().capacity(), 0x5A);
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 05 00 0B 34 12 00 00"))), "04 0E FF 01 E0 FC F4 06 00 0B 00 34 12 00 00");
    EXPECT_EQ(hex(flash(d, 0xFFF, 2)), "5A FF");
    EXPECT_EQ(hex(flash(d, 0x1FFF, 2)), "FF 5A");
    d.exchange(B("01 E0 FC FF F4 02 00 0A 07"));
    for (uint8_t b : d.chip->flash().contents()) ASSERT_EQ(b, 0xFF);
}

TEST(FlashWel, SpiProgramEraseAndStatusNeedWriteEnable) {
    ChipDriver d;
    // Without 06 nothing happens.
    spi(d, B("02 00 40 00 12 34"));
    spi(d, B("01 1C"));
    EXPECT_EQ(hex(flash(d, 0x4000, 2)), "FF FF");
    EXPECT_EQ(read_sr(d, 0x05), 0x00);
    // With it, exactly one operation happens and the latch drops.
    spi(d, B("06"));
    EXPECT_EQ(read_sr(d, 0x05), 0x02);
    spi(d, B("02 00 40 00 12 34"));
    EXPECT_EQ(hex(flash(d, 0x4000, 2)), "12 34");
    EXPECT_EQ(read_sr(d, 0x05), 0x00);
    spi(d, B("20 00 40 00"));
    EXPECT_EQ(hex(flash(d, 0x4000, 2)), "12 34");
    spi(d, B("06"));
    spi(d, B("20 00 40 00"));
    EXPECT_EQ(hex(flash(d, 0x4000, 2)), "FF FF");
    // 04 clears the latch.
    spi(d, B("06"));
    spi(d, B("04"));
    EXPECT_EQ(read_sr(d, 0x05), 0x00);
}

TEST(FlashWel, PageProgramWrapsInsideThePage) {
    ChipDriver d;
    spi(d, B("06"));
    spi(d, B("02 00 50 FE 01 02 03 04"));
    EXPECT_EQ(hex(flash(d, 0x50FE, 2)), "01 02");
    EXPECT_EQ(hex(flash(d, 0x5000, 2)), "03 04");
    EXPECT_EQ(flash(d, 0x5100, 1)[0], 0xFF);
}

TEST(FlashWel, StatusRegistersThroughRawOpcodes) {
    sim::SimConfig config;
    config.flash_mid = 0x18600B;  // XT25Q128B: three status registers
    ChipDriver d(config);
    spi(d, B("06"));
    spi(d, B("01 08 02"));  // registers 1 and 2 in one write
    spi(d, B("06"));
    spi(d, B("11 60"));
    EXPECT_EQ(read_sr(d, 0x05), 0x08);
    EXPECT_EQ(read_sr(d, 0x35), 0x02);
    EXPECT_EQ(read_sr(d, 0x15), 0x60);
    spi(d, B("06"));
    spi(d, B("31 00"));
    EXPECT_EQ(read_sr(d, 0x35), 0x00);
}

// Protection by the block-protect bits of status register 1 (and CMP in register 2).
struct ProtectCase {
    const char* name;
    uint32_t status;  // register 1 in bits 0-7, register 2 in bits 8-15
    uint32_t addr;    // a 4 KiB sector to program and erase
    bool refused;
};

class FlashProtection : public ::testing::TestWithParam<ProtectCase> {};

TEST_P(FlashProtection, WritesAndErasesOfTheProtectedAreaFail) {
    const ProtectCase& c = GetParam();
    sim::SimConfig config;
    config.flash_status = c.status;  // GD25Q16B: 2 MiB, mask 0x407C
    ChipDriver d(config);
    d.chip->flash().contents().assign(d.chip->flash().capacity(), 0x55);
    int expect = c.refused ? 1 : 0;
    EXPECT_EQ(rom_write(d, c.addr, B("00 00")), expect);
    EXPECT_EQ(hex(flash(d, c.addr, 2)), c.refused ? "55 55" : "00 00");
    EXPECT_EQ(rom_erase(d, 0x20, c.addr), expect);
    EXPECT_EQ(flash(d, c.addr, 1)[0], c.refused ? 0x55 : 0xFF);
    // The 4 KiB erase command and the raw SPI program obey the same bits.
    Bytes a = d.exchange(concat(B("01 E0 FC FF F4 05 00 0B"), le32(c.addr)));
    ASSERT_EQ(a.size(), 15u);
    EXPECT_EQ(a[10], expect);
    spi(d, B("06"));
    spi(d, {0x02, uint8_t(c.addr >> 16), uint8_t(c.addr >> 8), uint8_t(c.addr), 0x11});
    EXPECT_EQ(flash(d, c.addr, 1)[0], c.refused ? 0x55 : 0x11);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, FlashProtection,
    ::testing::Values(ProtectCase{"None", 0x00, 0x000000, false},
                      ProtectCase{"AllBp7Bottom", 0x1C, 0x000000, true},
                      ProtectCase{"AllBp7Top", 0x1C, 0x1FF000, true},
                      ProtectCase{"UpperHalfTop", 0x14, 0x1FF000, true},
                      ProtectCase{"UpperHalfLeavesBottom", 0x14, 0x000000, false},
                      ProtectCase{"Upper32thEdgeInside", 0x04, 0x1F0000, true},
                      ProtectCase{"Upper32thEdgeOutside", 0x04, 0x1EF000, false},
                      ProtectCase{"BottomShare", 0x24, 0x000000, true},
                      ProtectCase{"BottomShareLeavesTop", 0x24, 0x1FF000, false},
                      ProtectCase{"CmpInverts", 0x4004, 0x000000, true},
                      ProtectCase{"CmpInvertsTop", 0x4004, 0x1F0000, false},
                      ProtectCase{"CmpWithNoneProtectsAll", 0x4000, 0x100000, true}),
    [](const ::testing::TestParamInfo<ProtectCase>& i) { return std::string(i.param.name); });

TEST(FlashProtectionCycle, UnprotectThenProtectAsTheHostDoes) {
    sim::SimConfig config;
    config.flash_status = 0x1C;
    ChipDriver d(config);
    EXPECT_EQ(rom_erase(d, 0x20, 0), 1);
    EXPECT_EQ(rom_erase(d, 0xD8, 0), 1);
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 02 00 0A 07"))), "04 0E FF 01 E0 FC F4 03 00 0A 01 07");
    // Write enable, then both registers cleared with one width-2 write.
    d.exchange(kWriteEnable);
    d.exchange(B("01 E0 FC FF F4 04 00 0D 01 00 00"));
    EXPECT_EQ(read_sr(d, 0x05), 0x00);
    EXPECT_EQ(rom_erase(d, 0x20, 0), 0);
    d.exchange(kWriteEnable);
    d.exchange(B("01 E0 FC FF F4 04 00 0D 01 1C 00"));
    EXPECT_EQ(read_sr(d, 0x05), 0x1C);
    EXPECT_EQ(rom_write(d, 0, B("00")), 1);
}

TEST(FlashSecurity, EraseProgramReadWithDummyByteInPages) {
    ChipDriver d;
    EXPECT_EQ(hex(spi(d, B("48 00 05 07 00 00 00"))), "48 00 05 07 00 FF FF");
    // Program without write enable: nothing.
    spi(d, B("42 00 05 07 8F"));
    EXPECT_EQ(spi(d, B("48 00 05 07 00 00"))[5], 0xFF);
    spi(d, B("06"));
    spi(d, B("42 00 05 07 8F"));
    EXPECT_EQ(hex(spi(d, B("48 00 05 06 00 00 00 00"))), "48 00 05 06 00 FF 8F FF");
    // Programming ANDs; the page wraps at its end.
    spi(d, B("06"));
    spi(d, B("42 00 05 FF 0F 12 34"));
    EXPECT_EQ(hex(spi(d, B("48 00 05 FE 00 00 00 00 00"))), "48 00 05 FE 00 FF 0F 12 34");
    EXPECT_EQ(d.chip->flash().security_byte(0x0507), 0x8F & 0xFF);
    // Erase clears only its 256-byte page and needs the latch too.
    spi(d, B("06"));
    spi(d, B("42 00 06 00 AA"));
    spi(d, B("44 00 05 00"));
    EXPECT_EQ(d.chip->flash().security_byte(0x0507), 0x8F);
    spi(d, B("06"));
    spi(d, B("44 00 05 80"));
    EXPECT_EQ(d.chip->flash().security_byte(0x0507), 0xFF);
    EXPECT_EQ(d.chip->flash().security_byte(0x0600), 0xAA);
    // Security pages are apart from the main array.
    EXPECT_EQ(flash(d, 0x0507, 1)[0], 0xFF);
}

TEST(FlashSecurity, ReadFromByte16OnAsTheHostExpects) {
    ChipDriver d;
    spi(d, B("06"));
    spi(d, concat(B("42 00 30 00"), B("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20")));
    Bytes tx = concat(B("48 00 30 00 00"), Bytes(32, 0));
    Bytes frame = concat(B("01 E0 FC FF F4 26 00 0E"), tx);
    Bytes answer = d.exchange(frame);
    ASSERT_EQ(answer.size(), 37u + 11u);
    EXPECT_EQ(hex(Bytes(answer.begin(), answer.begin() + 10)), "04 0E FF 01 E0 FC F4 27 00 0E");
    EXPECT_EQ(answer[16], 0x01);
    EXPECT_EQ(answer[47], 0x20);
}

TEST(FlashModels, TableHasEveryPartWithItsId) {
    size_t count = 0;
    const sim::SimFlashModel* models = sim::flash_models(&count);
    EXPECT_EQ(count, 39u);
    EXPECT_EQ(models[31].mid, 0x1540C8u);
    EXPECT_STREQ(models[38].name, "NA_NA");
    ASSERT_NE(sim::find_flash_model_by_name("gd25q16b"), nullptr);
    EXPECT_EQ(sim::find_flash_model(0x999999), nullptr);
}

struct ModelCase {
    uint32_t mid;
    uint32_t kib;
    const char* id_answer;
};

class FlashModelId : public ::testing::TestWithParam<ModelCase> {};

TEST_P(FlashModelId, AnswersItsJedecIdAndHasItsCapacity) {
    sim::SimConfig config;
    config.flash_mid = GetParam().mid;
    ChipDriver d(config);
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 05 00 0E 9F 00 00 00"))), GetParam().id_answer);
    EXPECT_EQ(d.chip->flash().capacity(), GetParam().kib * 1024);
    // The last byte can be written, the one after it cannot.
    uint32_t last = GetParam().kib * 1024 - 1;
    EXPECT_EQ(rom_write(d, last, B("00")), 0);
    EXPECT_EQ(rom_write(d, last + 1, B("00")), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FlashModelId,
    ::testing::Values(ModelCase{0x13311C, 512, "04 0E FF 01 E0 FC F4 06 00 0E 00 9F 1C 31 13"},
                      ModelCase{0x1523C2, 2048, "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C2 23 15"},
                      ModelCase{0x1560EB, 2048, "04 0E FF 01 E0 FC F4 06 00 0E 00 9F EB 60 15"},
                      ModelCase{0x1640C8, 4096, "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 16"},
                      ModelCase{0x18600B, 16384, "04 0E FF 01 E0 FC F4 06 00 0E 00 9F 0B 60 18"}));

TEST(FlashTiming, EraseAnswersAtOnceAndDelaysTheNextCommand) {
    sim::SimConfig config;
    config.flash_timing = true;
    ChipDriver d(config);
    const int64_t start = d.now;
    d.send(B("01 E0 FC FF F4 06 00 0F D8 00 00 01 00"));
    std::vector<ChipOutput> erase = d.collect(1000);
    ASSERT_EQ(erase.size(), 1u);
    EXPECT_LE(erase[0].due - start, 1000);
    // The part reports busy to raw status reads meanwhile.
    d.send(B("01 E0 FC FF F4 03 00 0E 05 00"));
    std::vector<ChipOutput> status = d.collect(1000);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].bytes.back() & 0x01, 0x01);
    // A read waits until the 64 KiB erase (250 ms) is over.
    d.send(B("01 E0 FC FF F4 05 00 09 00 00 00 00"));
    std::vector<ChipOutput> read = d.collect(2'000'000);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_GE(read[0].due - start, 250'000);
    EXPECT_LE(read[0].due - start, 260'000);
}

}  // namespace
