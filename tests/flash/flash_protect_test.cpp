// FlashProtect against the virtual chip: the status traffic per model, the
// two models unprotected register by register, and flashes that never reach
// the wanted state.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "flash/flash_protect.h"
#include "flash_bench.h"

namespace {

struct ProtectCase {
    const char* name;
    uint32_t mid;
    uint32_t status_before;  // registers 1 to 3 as one value
    int protect;
    std::vector<std::string> commands;
    uint32_t status_after;
};

uint32_t combined_status(FlashBench& bench) {
    return bench.sim_chip->with_chip([](sim::VirtualChip& c) {
        return uint32_t(c.flash().status_register(0)) | uint32_t(c.flash().status_register(1)) << 8 |
               uint32_t(c.flash().status_register(2)) << 16;
    });
}

FlashWaits quick_waits(double limit_seconds = 5.0) {
    FlashWaits waits;
    waits.sleep = [](uint32_t) {};
    waits.protect_limit_seconds = limit_seconds;
    return waits;
}

class ProtectTable : public ::testing::TestWithParam<ProtectCase> {};

TEST_P(ProtectTable, StatusTrafficAndResult) {
    const ProtectCase& c = GetParam();
    sim::SimConfig config;
    config.flash_mid = c.mid;
    config.flash_status = c.status_before;
    FlashBench bench(config, 115200);
    ASSERT_EQ(combined_status(bench), c.status_before);

    EXPECT_EQ(FlashProtect(bench.job, c.mid, c.protect, quick_waits()), FLASH_PROTECT_OK);
    EXPECT_EQ(bench.command_lines(), c.commands);
    EXPECT_EQ(combined_status(bench), c.status_after);
}

const std::vector<std::string> kRead12 = {"FlashReadSR 05", "FlashReadSR 35"};

std::vector<std::string> seq(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Models, ProtectTable,
    ::testing::Values(
        // Both registers written as one 16-bit value; register 2 written as 00.
        ProtectCase{"Gd25q16bUnprotect", 0x1540C8, 0x001C, 0,
                    seq({kRead12, {"FlashSpi 06", "FlashWriteSR 01 00 00"}, kRead12}), 0x0000},
        ProtectCase{"Gd25q16bProtect", 0x1540C8, 0x0000, 1,
                    seq({kRead12, {"FlashSpi 06", "FlashWriteSR 01 1C 00"}, kRead12}), 0x001C},
        // Bits outside the protection field (quad enable) are written back as read.
        ProtectCase{"Gd25q16bProtectKeepsQuadEnable", 0x1540C8, 0x0200, 1,
                    seq({kRead12, {"FlashSpi 06", "FlashWriteSR 01 1C 02"}, kRead12}), 0x021C},
        ProtectCase{"AlreadyUnprotectedOnlyReads", 0x1540C8, 0x0200, 0, kRead12, 0x0200},
        // One register per the table: register 1 alone, one byte.
        ProtectCase{"Gd25q64OneRegister", 0x1740C8, 0x001C, 0,
                    {"FlashReadSR 05", "FlashSpi 06", "FlashWriteSR 01 00", "FlashReadSR 05"}, 0x0000},
        // Three registers read, register 3 never written.
        ProtectCase{"Xt25q128bKeepsRegister3", 0x18600B, 0x60001C, 0,
                    {"FlashReadSR 05", "FlashReadSR 35", "FlashReadSR 15", "FlashSpi 06", "FlashWriteSR 01 00 00",
                     "FlashReadSR 05", "FlashReadSR 35", "FlashReadSR 15"},
                    0x600000},
        // The two special models: with register 2 not zero, both registers are
        // zeroed by two writes, each after its own write enable.
        ProtectCase{"P25q80SplitUnprotect", 0x154285, 0x021C, 0,
                    seq({kRead12,
                         {"FlashSpi 06", "FlashWriteSR 01 00 00", "FlashSpi 06", "FlashWriteSR 31 00 00"},
                         kRead12}),
                    0x0000},
        ProtectCase{"P25q80Register2ClearWritesRegister1", 0x154285, 0x001C, 0,
                    seq({kRead12, {"FlashSpi 06", "FlashWriteSR 01 00"}, kRead12}), 0x0000},
        ProtectCase{"NaNaComplementBitCleared", 0x1640C8, 0x4000, 0,
                    seq({kRead12,
                         {"FlashSpi 06", "FlashWriteSR 01 00 00", "FlashSpi 06", "FlashWriteSR 31 00 00"},
                         kRead12}),
                    0x0000},
        // Protecting a special model is the general procedure with its one register.
        ProtectCase{"P25q80Protect", 0x154285, 0x0000, 1,
                    {"FlashReadSR 05", "FlashSpi 06", "FlashWriteSR 01 1C", "FlashReadSR 05"}, 0x001C}),
    [](const ::testing::TestParamInfo<ProtectCase>& info) { return std::string(info.param.name); });

TEST(FlashProtect, UnknownIdSendsNothing) {
    FlashBench bench(sim::SimConfig{}, 115200);
    ConsoleCapture log;
    EXPECT_EQ(FlashProtect(bench.job, 0x123456, 0, quick_waits()), FLASH_PROTECT_UNKNOWN_FLASH);
    EXPECT_TRUE(log.has("mid is: 0x123456, cannot found this flash\n"));
    EXPECT_TRUE(bench.command_lines().empty());
}

TEST(FlashProtect, StuckProtectionTimesOut) {
    sim::SimConfig config;
    config.faults.stuck_protect = true;
    FlashBench bench(config, 115200);
    ConsoleCapture log;
    EXPECT_EQ(FlashProtect(bench.job, config.flash_mid, 0, quick_waits(0.3)), FLASH_PROTECT_TIMEOUT);
    EXPECT_TRUE(log.has("Unprotect timeout\n"));
    // It kept trying until the limit, and the bits are still set.
    EXPECT_GT(bench.count_commands("FlashWriteSR"), 1u);
    EXPECT_EQ(combined_status(bench) & 0x1C, 0x1Cu);
    // Setting the protection of such a part succeeds at once.
    EXPECT_EQ(FlashProtect(bench.job, config.flash_mid, 1, quick_waits(0.3)), FLASH_PROTECT_OK);
}

TEST(FlashProtect, SilentLineIsNeverTakenForUnprotected) {
    // Nobody answers: the status reads fail and must not read as zero bits.
    FlashBench bench(sim::SimConfig{}, 115200, false);
    ConsoleCapture log;
    EXPECT_EQ(FlashProtect(bench.job, 0x1540C8, 0, quick_waits(0.3)), FLASH_PROTECT_TIMEOUT);
    EXPECT_TRUE(log.has("Unprotect timeout\n"));
}

TEST(FlashProtect, PausesBetweenStatusWrites) {
    sim::SimConfig config;
    config.flash_status = 0x001C;
    FlashBench bench(config, 115200);
    SleepRecorder sleeps;
    FlashWaits waits;
    sleeps.install(waits);
    EXPECT_EQ(FlashProtect(bench.job, config.flash_mid, 0, waits), FLASH_PROTECT_OK);
    // After the write enable and after the status write.
    EXPECT_EQ(sleeps.asked(), (std::vector<uint32_t>{10, 10}));
}

}  // namespace
