// The eFuse behind its registers: read and burn commands, busy bit, valid
// bit, bits that can only be set, and the power bit, for both register sets.
#include <gtest/gtest.h>

#include "efuse.h"
#include "sim_test_util.h"

namespace {

constexpr uint32_t kCtrlA = 0x00800074, kDataA = 0x00800078, kPowerA = 0x00800008;
constexpr uint32_t kCtrlB = 0x44880000, kDataB = 0x44880004;

uint32_t read_cmd(unsigned a) { return ((a & 0x3F) << 8) | 0x80000001u; }
uint32_t burn_cmd(unsigned a, uint8_t v, uint32_t high = 0) { return (uint32_t(v) << 16) | ((a & 0x3F) << 8) | 2 | high; }

// The host's byte read: command, wait, data register.
uint32_t efuse_read(ChipDriver& d, uint32_t ctrl, uint32_t data, unsigned a) {
    d.write_reg(ctrl, read_cmd(a));
    EXPECT_EQ(d.read_reg(ctrl) & 1u, 0u);
    return d.read_reg(data);
}

void efuse_burn(ChipDriver& d, uint32_t ctrl, unsigned a, uint8_t v, uint32_t high = 0) {
    d.write_reg(ctrl, burn_cmd(a, v, high));
    d.write_reg(ctrl, burn_cmd(a, v, high) | 1);
}

void power(ChipDriver& d, bool on) {
    uint32_t v = d.read_reg(kPowerA);
    d.write_reg(kPowerA, on ? (v | 0x00800000u) : (v & ~0x00800000u));
}

TEST(EfuseSetA, ReadGivesTheByteWithTheValidBit) {
    ChipDriver d;
    d.chip->efuse().bytes()[5] = 0xA5;
    EXPECT_EQ(efuse_read(d, kCtrlA, kDataA, 5), 0x1A5u);
    EXPECT_EQ(efuse_read(d, kCtrlA, kDataA, 6), 0x100u);
    // An address beyond the array reads without the valid bit.
    EXPECT_EQ(efuse_read(d, kCtrlA, kDataA, 40), 0x000u);
}

TEST(EfuseSetA, BurnSetsBitsOnlyWhilePowered) {
    ChipDriver d;
    efuse_burn(d, kCtrlA, 7, 0x3C);
    EXPECT_EQ(d.chip->efuse().bytes()[7], 0x00) << "no power, no burn";
    power(d, true);
    efuse_burn(d, kCtrlA, 7, 0x3C);
    EXPECT_EQ(efuse_read(d, kCtrlA, kDataA, 7), 0x13Cu);
    efuse_burn(d, kCtrlA, 7, 0x03);
    EXPECT_EQ(efuse_read(d, kCtrlA, kDataA, 7), 0x13Fu);
    efuse_burn(d, kCtrlA, 7, 0x00);  // bits never clear
    EXPECT_EQ(efuse_read(d, kCtrlA, kDataA, 7), 0x13Fu);
    power(d, false);
    efuse_burn(d, kCtrlA, 8, 0xFF);
    EXPECT_EQ(d.chip->efuse().bytes()[8], 0x00);
    // Only byte 7 changed.
    for (size_t i = 0; i < d.chip->efuse().size(); ++i) {
        if (i != 7) {
            EXPECT_EQ(d.chip->efuse().bytes()[i], 0x00) << i;
        }
    }
}

TEST(EfuseSetA, BusyBitClearsAfterTheConfiguredTime) {
    sim::SimConfig config;
    config.efuse_busy_us = 20000;
    ChipDriver d(config);
    d.chip->efuse().bytes()[1] = 0x42;
    d.write_reg(kCtrlA, read_cmd(1), 100);
    EXPECT_EQ(d.read_reg(kCtrlA, 100) & 1u, 1u);
    EXPECT_EQ(d.read_reg(kDataA, 100), 0u) << "nothing valid while busy";
    // A word written while busy is not taken.
    d.write_reg(kCtrlA, read_cmd(2), 100);
    d.advance(25000);
    EXPECT_EQ(d.read_reg(kCtrlA, 100), read_cmd(1) & ~1u);
    EXPECT_EQ(d.read_reg(kDataA, 100), 0x142u);
}

TEST(EfuseSetA, PowerRegisterKeepsItsClockBits) {
    ChipDriver d;
    EXPECT_EQ(d.read_reg(kPowerA), 0x00000001u);
    power(d, true);
    EXPECT_EQ(d.read_reg(kPowerA), 0x00800001u);
}

TEST(EfuseSetB, PowerBitLivesInTheControlRegister) {
    sim::SimConfig config;
    config.chip_id = 0x5850;  // set B
    ChipDriver d(config);
    // Without bit 31 a burn has no power.
    efuse_burn(d, kCtrlB, 30, 0x01, 0);
    EXPECT_EQ(d.chip->efuse().bytes()[30], 0x00);
    // The host's sequence: power on (read, set bit 31, write), burn with bit 31, power off.
    d.write_reg(kCtrlB, d.read_reg(kCtrlB) | 0x80000000u);
    efuse_burn(d, kCtrlB, 30, 0x01, 0x80000000u);
    EXPECT_EQ(efuse_read(d, kCtrlB, kDataB, 30), 0x101u);
    d.write_reg(kCtrlB, d.read_reg(kCtrlB) & ~0x80000000u);
    // Set A is plain memory on this chip.
    d.write_reg(kCtrlA, read_cmd(30));
    EXPECT_EQ(d.read_reg(kDataA), 0u);
}

TEST(EfuseSets, BothSetsShareOneArray) {
    sim::SimConfig config;
    config.efuse_sets = sim::EfuseSets::Both;
    config.efuse_size = 8;
    ChipDriver d(config);
    power(d, true);
    efuse_burn(d, kCtrlA, 3, 0x81);
    EXPECT_EQ(efuse_read(d, kCtrlB, kDataB, 3), 0x181u);
    EXPECT_EQ(efuse_read(d, kCtrlB, kDataB, 8), 0x000u) << "beyond the configured size";
}

}  // namespace
