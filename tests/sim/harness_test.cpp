// The virtual chip on the far end of the in-process serial line, as host tests use it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "serial/inproc_line.h"
#include "sim_harness.h"
#include "sim_test_util.h"

namespace {

// Reads until `count` bytes came or `timeout_ms` passed.
Bytes host_read(InProcessLine& line, size_t count, int timeout_ms) {
    Bytes out(count);
    size_t got = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got < count && std::chrono::steady_clock::now() < end) got += line.host_read(out.data() + got, count - got, 5);
    out.resize(got);
    return out;
}

void host_write(InProcessLine& line, const Bytes& bytes) { line.host_write(bytes.data(), bytes.size()); }

TEST(SimHarnessTest, LinkCheckOverTheLine) {
    InProcessLine line;
    SimHarness chip(line);
    ASSERT_TRUE(chip.ok()) << chip.error();
    host_write(line, kLinkCheck);
    EXPECT_EQ(hex(host_read(line, 8, 2000)), hex(kLinkCheckAnswer));
    EXPECT_EQ(chip.commands().size(), 1u);
}

TEST(SimHarnessTest, BaudSwitchBothEndsThenHostLeftBehind) {
    InProcessLine line;
    SimHarness chip(line);
    // The host's way: send, wait 2 ms, switch its own port, then read.
    host_write(line, B("01 E0 FC 06 0F 80 84 1E 00 0F"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    line.host_set_baud(2000000);
    EXPECT_EQ(hex(host_read(line, 12, 2000)), "04 0E 09 01 E0 FC 0F 80 84 1E 00 0F");
    host_write(line, B("01 E0 FC FF F4 05 00 0E 9F 00 00 00"));
    EXPECT_EQ(hex(host_read(line, 15, 2000)), "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 15");

    // A host that goes back to 115200 is not understood and hears nothing.
    line.host_set_baud(115200);
    host_write(line, kLinkCheck);
    EXPECT_TRUE(host_read(line, 8, 200).empty());
    EXPECT_EQ(chip.uart_baud(), 2000000);
}

TEST(SimHarnessTest, ResetPulseBringsTheRomBack) {
    InProcessLine line;
    SimHarness chip(line);
    host_write(line, kReboot);
    host_write(line, kLinkCheck);
    EXPECT_TRUE(host_read(line, 8, 100).empty());
    EXPECT_EQ(chip.mode(), sim::ChipMode::Firmware);
    line.host_set_modem(false, true);
    EXPECT_EQ(chip.mode(), sim::ChipMode::Reset);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    line.host_set_modem(false, false);
    EXPECT_EQ(chip.mode(), sim::ChipMode::Rom);
    host_write(line, kLinkCheck);
    EXPECT_EQ(hex(host_read(line, 8, 2000)), hex(kLinkCheckAnswer));
}

TEST(SimHarnessTest, StateAndEraseLogAreReachable) {
    InProcessLine line;
    SimHarness chip(line);
    chip.set_flash_bytes(0x11000, {1, 2, 3});
    host_write(line, B("01 E0 FC FF F4 06 00 0F 20 00 10 01 00"));
    EXPECT_EQ(host_read(line, 16, 2000).size(), 16u);
    EXPECT_EQ(hex(chip.flash_bytes(0x11000, 3)), "FF FF FF");
    std::vector<sim::EraseEvent> want = {{0x20, 0x11000}};
    EXPECT_EQ(chip.erases(), want);
    EXPECT_EQ(chip.efuse_bytes().size(), 32u);
    EXPECT_EQ(chip.register_value(0x00802000), 0x40u);
}

TEST(SimHarnessTest, StopAndStartAgain) {
    InProcessLine line;
    SimHarness chip(line);
    chip.stop();
    host_write(line, kLinkCheck);
    EXPECT_TRUE(host_read(line, 8, 50).empty());
    chip.start();
    EXPECT_EQ(hex(host_read(line, 8, 2000)), hex(kLinkCheckAnswer));
}

TEST(SimHarnessTest, BadConfigIsReported) {
    InProcessLine line;
    sim::SimConfig config;
    config.flash_mid = 0x123456;
    SimHarness chip(line, config);
    EXPECT_FALSE(chip.ok());
    EXPECT_NE(chip.error().find("0x123456"), std::string::npos);
}

}  // namespace
