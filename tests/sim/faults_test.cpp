// Each fault switch and what it does on the wire; the same seed gives the same faults.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace {

const Bytes kReadId = B("01 E0 FC 05 03 04 00 01 44");
const Bytes kReadIdAnswer = B("04 0E 0C 01 E0 FC 03 04 00 01 44 10 58 00 00");

sim::SimConfig with_faults(const sim::FaultConfig& f) {
    sim::SimConfig c;
    c.faults = f;
    return c;
}

TEST(Faults, NoiseBeforeEveryAnswerNeverContainsTheStartByte) {
    sim::FaultConfig f;
    f.noise_bytes = 5;
    ChipDriver d(with_faults(f));
    for (int i = 0; i < 20; ++i) {
        Bytes a = d.exchange(kReadId);
        ASSERT_EQ(a.size(), 5 + kReadIdAnswer.size());
        EXPECT_EQ(Bytes(a.begin() + 5, a.end()), kReadIdAnswer);
        for (int k = 0; k < 5; ++k) EXPECT_NE(a[k], 0x04);
    }
}

TEST(Faults, DropTheNthAnswers) {
    sim::FaultConfig f;
    f.drop_answers = {2, 4};
    ChipDriver d(with_faults(f));
    EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer);
    EXPECT_TRUE(d.exchange(kReadId).empty());
    EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer);
    // Link checks are answered and not counted.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(d.exchange(kLinkCheck), kLinkCheckAnswer) << i;
    EXPECT_TRUE(d.exchange(kReadId).empty());
    EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer);
    // The dropped commands were still carried out and logged.
    EXPECT_EQ(d.chip->command_log().records().size(), 8u);
}

TEST(Faults, CorruptOneByteOfTheNthAnswer) {
    sim::FaultConfig f;
    f.corrupt_answers = {2};
    ChipDriver d(with_faults(f));
    EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer);
    Bytes bad = d.exchange(kReadId);
    ASSERT_EQ(bad.size(), kReadIdAnswer.size());
    int differ = 0;
    for (size_t i = 0; i < bad.size(); ++i) differ += bad[i] != kReadIdAnswer[i];
    EXPECT_EQ(differ, 1);
    EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer);
}

TEST(Faults, SilentAfterNFramesUntilRebootTextOrReset) {
    sim::FaultConfig f;
    f.silent_after_frames = 3;
    ChipDriver d(with_faults(f));
    // Link checks, however many, do not bring the silence nearer.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d.exchange(kLinkCheck), kLinkCheckAnswer) << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer) << i;
    EXPECT_TRUE(d.exchange(kReadId).empty());
    EXPECT_TRUE(d.exchange(kLinkCheck).empty());
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Silent);
    d.exchange({'r', 'e', 'b', 'o', 'o', 't', '\r', '\n'});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer) << "spent after recovery " << i;

    ChipDriver r(with_faults(f));
    for (int i = 0; i < 4; ++i) r.exchange(kReadId);
    EXPECT_TRUE(r.exchange(kLinkCheck).empty());
    r.chip->set_modem_lines(false, true, r.now);
    r.chip->set_modem_lines(false, false, r.now);
    EXPECT_EQ(r.exchange(kLinkCheck), kLinkCheckAnswer);
}

// A host that resets the chip when it opens the line (tesk_sim
// --reset-on-open) must still meet a silence that has not begun yet.
TEST(Faults, ResetBeforeTheSilenceKeepsItArmed) {
    sim::FaultConfig f;
    f.silent_after_frames = 2;
    ChipDriver d(with_faults(f));
    d.chip->reset_to_rom(d.now);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(d.exchange(kReadId), kReadIdAnswer) << i;
    EXPECT_TRUE(d.exchange(kReadId).empty());
    EXPECT_EQ(d.chip->mode(), sim::ChipMode::Silent);
}

TEST(Faults, RatesAboveTheLimitAreNotCarried) {
    sim::FaultConfig f;
    f.max_baud = 1000000;
    ChipDriver d(with_faults(f));
    // 921600 works.
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC 06 0F 00 10 0E 00 0F"))), "04 0E 09 01 E0 FC 0F 00 10 0E 00 0F");
    EXPECT_EQ(d.exchange(kLinkCheck, 921600), kLinkCheckAnswer);
    // 2000000: the chip switches but nothing gets through either way.
    EXPECT_TRUE(d.exchange(B("01 E0 FC 06 0F 80 84 1E 00 0F"), 921600).empty());
    EXPECT_EQ(d.chip->uart_baud(), 2000000);
    EXPECT_TRUE(d.exchange(kLinkCheck, 2000000).empty());
    EXPECT_TRUE(d.chip->command_log().records().back().name() == "SetBaudRate");
}

TEST(Faults, StuckProtectionBitsCannotBeCleared) {
    sim::FaultConfig f;
    f.stuck_protect = true;
    ChipDriver d(with_faults(f));
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 02 00 0C 05"))), "04 0E FF 01 E0 FC F4 04 00 0C 00 05 1C");
    d.exchange(kWriteEnable);
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 04 00 0D 01 00 00"))), "04 0E FF 01 E0 FC F4 05 00 0D 00 01 00 00");
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 02 00 0C 05"))), "04 0E FF 01 E0 FC F4 04 00 0C 00 05 1C");
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC FF F4 05 00 0B 00 00 00 00"))), "04 0E FF 01 E0 FC F4 06 00 0B 01 00 00 00 00");
}

TEST(Faults, BitErrorOnTheNthProgram) {
    sim::FaultConfig f;
    f.program_bit_errors = {2};
    ChipDriver d(with_faults(f));
    Bytes zeros(4096, 0x00);
    for (uint32_t sector = 0; sector < 3; ++sector)
        d.exchange(concat(concat(B("01 E0 FC FF F4 05 10 07"), le32(sector * 0x1000)), zeros));
    const Bytes& flash = d.chip->flash().contents();
    int wrong[3] = {0, 0, 0};
    for (uint32_t i = 0; i < 3 * 4096; ++i) wrong[i / 4096] += flash[i] != 0x00;
    EXPECT_EQ(wrong[0], 0);
    EXPECT_EQ(wrong[1], 1);
    EXPECT_EQ(wrong[2], 0);
    // The CRC the ROM reports shows it.
    Bytes crc1 = d.exchange(B("01 E0 FC 09 10 00 00 00 00 FF 0F 00 00"));
    Bytes crc2 = d.exchange(B("01 E0 FC 09 10 00 10 00 00 FF 1F 00 00"));
    EXPECT_NE(crc1, crc2);
}

TEST(Faults, EfuseBusyLongerThanASecond) {
    sim::FaultConfig f;
    f.efuse_busy_fault_ms = 1500;
    ChipDriver d(with_faults(f));
    d.write_reg(0x00800074, 0x80000101, 100);
    d.advance(1'000'000);
    EXPECT_EQ(d.read_reg(0x00800074, 100) & 1u, 1u);
    d.advance(600'000);
    EXPECT_EQ(d.read_reg(0x00800074, 100) & 1u, 0u);
}

// Faults drawn from the same seed over the same traffic are the same.
Bytes faulty_session(uint64_t seed) {
    sim::FaultConfig f;
    f.seed = seed;
    f.noise_bytes = 3;
    f.corrupt_answers = {2, 3, 5};
    f.program_bit_errors = {1};
    ChipDriver d(with_faults(f));
    Bytes all;
    for (int i = 0; i < 6; ++i) all = concat(all, d.exchange(i % 2 ? kReadId : kLinkCheck));
    d.exchange(concat(B("01 E0 FC FF F4 05 10 07 00 00 00 00"), Bytes(4096, 0)));
    const Bytes& flash = d.chip->flash().contents();
    return concat(all, Bytes(flash.begin(), flash.begin() + 4096));
}

TEST(Faults, RepeatableForASeed) {
    EXPECT_EQ(faulty_session(7), faulty_session(7));
    EXPECT_NE(faulty_session(7), faulty_session(8));
}

}  // namespace
