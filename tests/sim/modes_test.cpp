// Leaving and re-entering the boot ROM, and the UART rate the chip runs at.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace {

const Bytes kRebootText = {'r', 'e', 'b', 'o', 'o', 't', '\r', '\n'};

TEST(FirmwareMode, RebootCommandLeavesTheRomUntilTheRebootText) {
    ChipDriver d;
    EXPECT_TRUE(d.exchange(kReboot).empty());
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Firmware);
    // Frames, reset magic and half the text do nothing.
    EXPECT_TRUE(d.exchange(kLinkCheck).empty());
    EXPECT_TRUE(d.exchange(B("01 E0 FC 05 FE 95 27 95 27")).empty());
    EXPECT_TRUE(d.exchange(B("01 E0 FC FF F4 02 00 0A 07")).empty());
    EXPECT_TRUE(d.exchange({'r', 'e', 'b', 'o'}).empty());
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Firmware);
    // The text may arrive in pieces, after other bytes.
    EXPECT_TRUE(d.exchange({'o', 't', '\r', '\n'}).empty());
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Rom);
    EXPECT_EQ(hex(d.exchange(kLinkCheck)), hex(kLinkCheckAnswer));
    // The erase-all frame sent to the firmware never reached the flash.
    EXPECT_TRUE(d.chip->command_log().records().size() == 2u);
}

TEST(FirmwareMode, RebootTextAfterResetMagicAsTheHostKnocks) {
    ChipDriver d;
    d.exchange(kReboot);
    Bytes knock = concat(concat(B("01 E0 FC 05 FE 95 27 95 27 01 E0 FC 05 FE 95 27 95 27"), kLinkCheck), kRebootText);
    d.exchange(knock);
    EXPECT_EQ(hex(d.exchange(kLinkCheck)), hex(kLinkCheckAnswer));
}

TEST(FirmwareMode, ConfiguredRebootTextAndRate) {
    sim::SimConfig config;
    config.reboot_text = "go rom\r\n";
    config.app_baud = 921600;
    ChipDriver d(config);
    d.exchange(kReboot);
    EXPECT_EQ(d.chip->uart_baud(), 921600);
    d.exchange(kRebootText, 921600);
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Firmware);
    d.exchange({'g', 'o', ' ', 'r', 'o', 'm', '\r', '\n'}, 115200);  // wrong rate: lost
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Firmware);
    d.exchange({'g', 'o', ' ', 'r', 'o', 'm', '\r', '\n'}, 921600);
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Rom);
    EXPECT_EQ(d.chip->uart_baud(), 115200);
}

TEST(ResetPulse, RtsHoldsTheChipAndItsReleaseStartsTheRom) {
    ChipDriver d;
    d.exchange(kReboot);
    d.chip->set_modem_lines(false, true, d.now);
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Reset);
    EXPECT_TRUE(d.exchange(kLinkCheck).empty());
    d.advance(200'000);
    d.chip->set_modem_lines(false, false, d.now);
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Rom);
    EXPECT_EQ(hex(d.exchange(kLinkCheck)), hex(kLinkCheckAnswer));
}

TEST(ResetPulse, ResetDropsPendingAnswersAndRestoresRegisters) {
    ChipDriver d;
    d.write_reg(0x00802000, 0);
    d.exchange(B("01 E0 FC 06 0F 80 84 1E 00 0F"));
    EXPECT_EQ(d.chip->uart_baud(), 2000000);
    d.send(B("01 E0 FC 05 03 04 00 01 44"), 2000000);
    d.chip->set_modem_lines(false, true, d.now);
    d.chip->set_modem_lines(false, false, d.now + 1000);
    EXPECT_TRUE(d.collect().empty());
    EXPECT_EQ(d.chip->uart_baud(), 115200);
    EXPECT_EQ(d.read_reg(0x00802000), 0x40u);
}

TEST(BaudSwitch, AnswerAtTheNewRateAfterTheHostsSwitch) {
    ChipDriver d;
    const int64_t sent = d.now;
    d.send(B("01 E0 FC 06 0F 80 84 1E 00 0F"));
    std::vector<ChipOutput> out = d.collect();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(hex(out[0].bytes), "04 0E 09 01 E0 FC 0F 80 84 1E 00 0F");
    EXPECT_EQ(out[0].baud, 2000000);
    EXPECT_GE(out[0].due - sent, 2000) << "not before the host has switched";
    EXPECT_LT(out[0].due - sent, 35000) << "within the host's time-out";
    // The chip now hears only 2000000.
    EXPECT_TRUE(d.exchange(kLinkCheck, 115200).empty());
    EXPECT_EQ(d.chip->dropped_bytes(), kLinkCheck.size());
    d.use_baud(2000000);
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 05 00 0E 9F 00 00 00"), 2000000)),
              "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 15");
}

TEST(BaudSwitch, LaterBytesOfTheSameBurstWereSentAtTheOldRate) {
    ChipDriver d;
    std::vector<ChipOutput> out;
    d.send(concat(B("01 E0 FC 06 0F 00 10 0E 00 0F"), kLinkCheck));  // 921600, then a link check
    out = d.collect();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].baud, 921600);
}

TEST(UartDivider, DividerNineMovesTheUartTo2600000) {
    ChipDriver d;
    uint32_t v = d.read_reg(0x00802100);
    uint32_t n = (v & 0xFFE009FF) | 0x900;
    d.send(concat(B("01 E0 FC 09 01 00 21 80 00"), le32(n)));
    std::vector<ChipOutput> out = d.collect();
    EXPECT_EQ(d.chip->uart_baud(), 2600000);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].baud, 2600000);
    d.use_baud(2600000);
    EXPECT_EQ(d.read_reg(0x00802100), n);
    EXPECT_EQ(hex(d.exchange(kLinkCheck, 2600000)), hex(kLinkCheckAnswer));
    // Another divider leaves the rate as it is.
    d.write_reg(0x00802100, 0x0000E100);
    EXPECT_EQ(d.chip->uart_baud(), 2600000);
}

TEST(Registers, StatusBusyBitsClearAfterConfiguredReads) {
    sim::SimConfig config;
    config.status_busy_reads = 2;
    config.status_busy_bits = 0x05;
    ChipDriver d(config);
    EXPECT_EQ(d.read_reg(0x00800040), 0u);
    d.write_reg(0x0080005C, 0x0C270000);
    EXPECT_EQ(d.read_reg(0x00800040), 5u);
    EXPECT_EQ(d.read_reg(0x00800040), 5u);
    EXPECT_EQ(d.read_reg(0x00800040), 0u);
    EXPECT_EQ(d.read_reg(0x0080005C), 0x0C270000u);
}

TEST(Registers, ResetValuesAndOverrides) {
    sim::SimConfig config;
    config.register_overrides = {{0x00802700, 0x00000300}, {0x20000000, 7}};
    ChipDriver d(config);
    EXPECT_EQ(d.read_reg(0x00802000), 0x40u);
    EXPECT_EQ(d.read_reg(0x00802700), 0x300u);
    EXPECT_EQ(d.read_reg(0x00800008), 0x1u);
    EXPECT_EQ(d.read_reg(0x20000000), 7u);
}

}  // namespace
