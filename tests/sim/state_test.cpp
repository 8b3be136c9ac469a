// State kept in a directory, and the program's option parsing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim_options.h"
#include "sim_state.h"
#include "sim_test_util.h"

namespace {

namespace fs = std::filesystem;

class StateDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = (fs::temp_directory_path() / ("tesk_sim_state_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                  .string();
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
};

TEST_F(StateDir, RoundTripOfFlashStatusSecurityEfuseAndRegisters) {
    std::string error;
    {
        ChipDriver d;
        d.exchange(B("01 E0 FC FF F4 0E 00 06 00 10 00 00 31 32 33 34 35 36 37 38 39"));
        d.exchange(kWriteEnable);
        d.exchange(B("01 E0 FC FF F4 04 00 0D 01 1C 40"));
        d.exchange(kWriteEnable);
        d.exchange(B("01 E0 FC FF F4 06 00 0E 42 00 05 07 8F"));
        d.chip->efuse().bytes()[3] = 0x81;
        d.write_reg(0x20001000, 0xCAFEF00D);
        ASSERT_TRUE(sim::save_state(dir, *d.chip, error)) << error;
    }
    ChipDriver e;
    ASSERT_TRUE(sim::load_state(dir, *e.chip, error)) << error;
    EXPECT_EQ(hex(e.exchange(B("01 E0 FC 09 10 00 10 00 00 08 10 00 00"))), "04 0E 08 01 E0 FC 10 D9 C6 0B 34");
    EXPECT_EQ(e.chip->flash().status_register(0), 0x1C);
    EXPECT_EQ(e.chip->flash().status_register(1), 0x40);
    EXPECT_EQ(e.chip->flash().security_byte(0x0507), 0x8F);
    EXPECT_EQ(e.chip->efuse().bytes()[3], 0x81);
    EXPECT_EQ(e.read_reg(0x20001000), 0xCAFEF00Du);

    sim::StateInfo info;
    ASSERT_TRUE(sim::read_state_info(dir, info, error));
    EXPECT_TRUE(info.has_flash);
    EXPECT_EQ(info.flash_mid, 0x1540C8u);
    EXPECT_EQ(info.efuse_size, 32u);
}

TEST_F(StateDir, RefusesStateOfAnotherFlashOrEfuseSizeWithoutChangingTheChip) {
    std::string error;
    {
        ChipDriver d;
        d.chip->flash().contents()[0] = 0x00;
        ASSERT_TRUE(sim::save_state(dir, *d.chip, error)) << error;
    }
    sim::SimConfig other_flash;
    other_flash.flash_mid = 0x1640C8;
    ChipDriver e(other_flash);
    EXPECT_FALSE(sim::load_state(dir, *e.chip, error));
    EXPECT_NE(error.find("0x1540C8"), std::string::npos) << error;
    EXPECT_EQ(e.chip->flash().contents()[0], 0xFF);

    sim::SimConfig other_efuse;
    other_efuse.efuse_size = 16;
    ChipDriver f(other_efuse);
    EXPECT_FALSE(sim::load_state(dir, *f.chip, error));
    EXPECT_EQ(f.chip->flash().contents()[0], 0xFF);
}

TEST_F(StateDir, MissingDirectoryIsAFreshChipAndLockIsExclusive) {
    std::string error;
    ChipDriver d;
    EXPECT_TRUE(sim::load_state(dir, *d.chip, error)) << error;
    sim::StateDirLock a, b;
    EXPECT_TRUE(a.acquire(dir, error)) << error;
    EXPECT_FALSE(b.acquire(dir, error));
}

TEST(SimOptions, TextEscapesAndNumbers) {
    std::string out;
    EXPECT_TRUE(sim::unescape_text("reboot\\r\\n", out));
    EXPECT_EQ(out, "reboot\r\n");
    EXPECT_TRUE(sim::unescape_text("a\\x41\\\\", out));
    EXPECT_EQ(out, "aA\\");
    EXPECT_FALSE(sim::unescape_text("bad\\q", out));
    EXPECT_FALSE(sim::unescape_text("cut\\x4", out));
    uint32_t v;
    EXPECT_TRUE(sim::parse_u32("0x5810", v));
    EXPECT_EQ(v, 0x5810u);
    EXPECT_TRUE(sim::parse_u32("115200", v));
    EXPECT_FALSE(sim::parse_u32("12ab", v));
    EXPECT_FALSE(sim::parse_u32("-1", v));
    EXPECT_FALSE(sim::parse_u32("0x100000000", v));
}

int parse(std::vector<std::string> args, sim::SimProgramOptions& o) {
    args.insert(args.begin(), "tesk_sim");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return sim::parse_sim_options(int(argv.size()), argv.data(), o);
}

TEST(SimOptions, CommandLineFillsTheChipSettings) {
    sim::SimProgramOptions o;
    ASSERT_EQ(parse({"--chip-id", "0x5850", "--chip-id-place", "0x00800000", "--flash", "XT25Q128B", "--reboot-text",
                     "hi\\n", "--reg", "0x00802000=0", "--fault-drop-answer", "3,9", "--fault-max-baud", "921600",
                     "--seed", "42", "--efuse-set", "both"},
                    o),
              -1);
    EXPECT_EQ(o.chip.chip_id, 0x5850u);
    EXPECT_EQ(o.chip.chip_id_address, 0x00800000u);
    EXPECT_EQ(o.chip.flash_mid, 0x18600Bu);
    EXPECT_TRUE(o.flash_given);
    EXPECT_EQ(o.chip.reboot_text, "hi\n");
    ASSERT_EQ(o.chip.register_overrides.size(), 1u);
    EXPECT_EQ(o.chip.faults.drop_answers, (std::vector<uint32_t>{3, 9}));
    EXPECT_EQ(o.chip.faults.max_baud, 921600);
    EXPECT_EQ(o.chip.faults.seed, 42u);
    EXPECT_EQ(o.chip.efuse_sets, sim::EfuseSets::Both);
}

TEST(SimOptions, BadValuesAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--flash", "0x123456"}, {"--chip-id-place", "0x1000"}, {"--efuse-size", "0"},
        {"--fault-drop-answer", "0"}, {"--reg", "0x10"},       {"--reboot-text", ""},
        {"--chip-id", "fifty"},    {"--efuse-set", "C"}};
    for (const auto& args : bad) {
        sim::SimProgramOptions o;
        testing::internal::CaptureStderr();
        int rc = parse(args, o);
        testing::internal::GetCapturedStderr();
        EXPECT_GT(rc, 0) << args[0];
    }
}

}  // namespace
