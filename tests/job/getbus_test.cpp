// GetBus against the in-process virtual chip, one test per road.

#include <chrono>

#include "job/job_record.h"
#include "link_fixture.h"
#include "link_tap.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST_F(LinkTest, ChipAnsweringAtOnce) {
    start_chip(chip_config(0x5810));
    connect();
    ASSERT_EQ(job.GetBus(nullptr, 0), 1);
    EXPECT_EQ(job.m_chip_kind, CHIP_KIND_5810);
    EXPECT_EQ(job.m_flash_mid, 0x1540C8u);
    // No reboot text: far fewer than 200 knocks, and the chip never left its ROM.
    EXPECT_LT(commands("LinkCheck"), 200u);
    EXPECT_EQ(chip->mode(), sim::ChipMode::Rom);
    // The direct switch sends its baud command even for 115200.
    EXPECT_EQ(commands("SetBaudRate"), 1u);
    EXPECT_EQ(order_problem(log(), {"Current port : COM0 + BaudRate : 115200 connect success", "do_reset_signal",
                                    "Getting Bus...", "Gotten Bus...", "Current baudrate : 115200 seccess"}),
              "");
}

struct RebootTextCase {
    const char* name;
    const char* swrst_cmd;    // as typed on the command line
    const char* chip_text;    // what brings the chip's firmware back to its ROM
    const char* kept_swrst;   // m_swrst_cmd afterwards
};

class RebootText : public LinkTest, public ::testing::WithParamInterface<RebootTextCase> {};

// The reset lines are not wired here, so only the text gets the chip back.
TEST_P(RebootText, FirmwareModeNeedsTheRebootText) {
    const RebootTextCase& c = GetParam();
    sim::SimConfig config = chip_config(0x5810);
    config.reboot_text = c.chip_text;
    start_chip(config);
    line->set_modem_listener(nullptr);
    job.m_swrst_cmd = c.swrst_cmd;
    job.m_getbus_timeout = 5.0f;
    connect();
    job.Boot_Reboot();
    ASSERT_TRUE(wait_for_mode(sim::ChipMode::Firmware));

    ASSERT_EQ(job.GetBus(nullptr, 0), 1);
    EXPECT_EQ(chip->mode(), sim::ChipMode::Rom);
    EXPECT_GT(commands("LinkCheck"), 0u);
    EXPECT_EQ(job.m_swrst_cmd, c.kept_swrst);
    EXPECT_EQ(order_problem(log(), {"Getting Bus...", "Gotten Bus..."}), "");
}

INSTANTIATE_TEST_SUITE_P(Texts, RebootText,
                         ::testing::Values(RebootTextCase{"BuiltIn", "", "reboot\r\n", ""},
                                           RebootTextCase{"Swrst", "swrst\\r\\n", "swrst\r\n", "swrst\r\n"}),
                         [](const ::testing::TestParamInfo<RebootTextCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, NoChipTimesOutAndReportsOnlyLaterTimeOuts) {
    connect();
    auto start = Clock::now();
    EXPECT_EQ(job.GetBus(nullptr, 0), 0);
    const double first = seconds_since(start);
    const std::string first_log = log();
    EXPECT_GE(first, 1.0);
    EXPECT_LT(first, 10.0);
    EXPECT_EQ(order_problem(first_log, {"do_reset_signal", "Getting Bus..."}), "");
    EXPECT_EQ(first_log.find("LinkCheck Timeout"), std::string::npos);

    start = Clock::now();
    EXPECT_EQ(job.GetBus(nullptr, 0), 0);
    EXPECT_GE(seconds_since(start), 1.0);
    const std::string second_log = log().substr(first_log.size());
    EXPECT_NE(second_log.find("    LinkCheck Timeout\n"), std::string::npos) << second_log;
    EXPECT_EQ(second_log.find("do_reset_signal"), std::string::npos);
    EXPECT_EQ(link_counters().getbus_timeouts, 2);
}

struct ChipIdCase {
    const char* name;
    uint32_t address;
    uint32_t chip_id;
    bool echo_plus_100;
    uint8_t kind;
};

class ChipIdPlace : public LinkTest, public ::testing::WithParamInterface<ChipIdCase> {};

TEST_P(ChipIdPlace, FindsTheChip) {
    const ChipIdCase& c = GetParam();
    sim::SimConfig config = chip_config(c.chip_id);
    config.chip_id_address = c.address;
    config.chip_id_echo_plus_100 = c.echo_plus_100;
    start_chip(config);
    connect();
    EXPECT_EQ(job.GetBus(nullptr, 0), c.kind);
    EXPECT_EQ(job.m_chip_kind, c.kind);
    // The search stops at the place that held the id: no later place is
    // read. (The place itself may be read twice when a loaded machine lets
    // an answer come after the read's time-out.)
    EXPECT_GE(commands("ReadReg", c.address), 1u);
    const uint32_t places[] = {0x44010004, 0x34010004, 0x00800000};
    bool after = false;
    for (uint32_t place : places) {
        if (after) {
            EXPECT_EQ(commands("ReadReg", place), 0u) << std::hex << place;
        }
        after = after || place == c.address;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, ChipIdPlace,
    ::testing::Values(ChipIdCase{"First", 0x44010004, 0x5870, false, CHIP_KIND_5870},
                      ChipIdCase{"Second", 0x34010004, 0x5820, false, CHIP_KIND_5820},
                      ChipIdCase{"Third", 0x00800000, 0x5850, false, CHIP_KIND_5850},
                      ChipIdCase{"UpperSixteenBits", 0x44010004, 0x58201234, false, CHIP_KIND_5820},
                      ChipIdCase{"EchoPlus100", 0x44010004, 0x3D40, true, CHIP_KIND_5850}),
    [](const ::testing::TestParamInfo<ChipIdCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, UnknownChipRunsAsA5810N) {
    start_chip(chip_config(0x1234));
    connect();
    EXPECT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5810N);
    EXPECT_EQ(job.m_chip_kind, CHIP_KIND_5810N);
    EXPECT_EQ(count_of(log(), "    GetChipId fail!\n"), 1u);
}

struct NoFamilyCase {
    const char* name;
    uint32_t chip_id;
    uint32_t image_start;
    uint8_t kind;
};

class NoFamily : public LinkTest, public ::testing::WithParamInterface<NoFamilyCase> {};

// There is no chip object to run these, so the link stops before switching.
TEST_P(NoFamily, GetBusFails) {
    const NoFamilyCase& c = GetParam();
    start_chip(chip_config(c.chip_id));
    connect();
    JobRecord record;
    ImageEntry entry;
    entry.start = c.image_start;
    record.images.push_back(entry);
    EXPECT_EQ(job.GetBus(&record, 0), 0);
    EXPECT_EQ(job.m_chip_kind, c.kind);
    EXPECT_EQ(current_chip(), nullptr);
    EXPECT_EQ(commands("SetBaudRate"), 0u);
    EXPECT_EQ(commands("FlashSpi"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, NoFamily,
                         ::testing::Values(NoFamilyCase{"Kind2", 0x5810A, 0x0, CHIP_KIND_5810A},
                                           NoFamilyCase{"Kind8", 0x5800A, 0x0, CHIP_KIND_5800A},
                                           NoFamilyCase{"UnknownWithImageAt11000", 0x1234, 0x11000, CHIP_KIND_NONE}),
                         [](const ::testing::TestParamInfo<NoFamilyCase>& info) { return std::string(info.param.name); });

struct DirectCase {
    const char* name;
    int baud;
};

class DirectSwitch : public LinkTest, public ::testing::WithParamInterface<DirectCase> {};

TEST_P(DirectSwitch, On5810) {
    start_chip(chip_config(0x5810));
    job.m_baudrate = GetParam().baud;
    connect();
    ASSERT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5810);
    EXPECT_EQ(commands("SetBaudRate"), 1u);
    EXPECT_EQ(job.m_uart.m_baud, GetParam().baud);
    EXPECT_EQ(chip->uart_baud(), GetParam().baud);
    EXPECT_EQ(job.m_flash_mid, 0x1540C8u);
    // The 3000000 setting calibrates only on negotiating chips.
    EXPECT_EQ(commands("WriteReg"), 0u);
    EXPECT_EQ(log().find("Start Set DCO"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Rates, DirectSwitch, ::testing::Values(DirectCase{"B2000000", 2000000}, DirectCase{"B3000000", 3000000}),
                         [](const ::testing::TestParamInfo<DirectCase>& info) { return std::string(info.param.name); });

struct RateCase {
    const char* name;
    int asked;
    int runs_at;
};

class Switch5820 : public LinkTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(Switch5820, SubstitutesRatesItCannotMake) {
    const RateCase& c = GetParam();
    start_chip(chip_config(0x5820));
    job.m_baudrate = c.asked;
    connect();
    ASSERT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5820);
    EXPECT_EQ(job.m_baudrate, c.runs_at);
    EXPECT_EQ(job.m_uart.m_baud, c.runs_at);
    EXPECT_EQ(chip->uart_baud(), c.runs_at);
    EXPECT_NE(log().find("    Current baudrate : " + std::to_string(c.runs_at) + " seccess\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Rates, Switch5820,
                         ::testing::Values(RateCase{"B961200", 961200, 650000}, RateCase{"B512000", 512000, 500000},
                                           RateCase{"B921600", 921600, 921600}),
                         [](const ::testing::TestParamInfo<RateCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, NoBaudCommandAt115200) {
    start_chip(chip_config(0x5820));
    connect();
    ASSERT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5820);
    EXPECT_EQ(commands("SetBaudRate"), 0u);
    EXPECT_EQ(job.m_uart.m_baud, 115200);
}

struct DcoCase {
    const char* name;
    int chip_erase;
    size_t calibrations;
};

class Dco5850 : public LinkTest, public ::testing::WithParamInterface<DcoCase> {};

TEST_P(Dco5850, At3000000CalibratesAndRunsAt2600000) {
    const DcoCase& c = GetParam();
    start_chip(chip_config(0x5850));
    job.m_baudrate = 3000000;
    job.m_chip_erase = c.chip_erase;
    connect();
    ASSERT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5850);
    // Six writes of the system control word per calibration.
    EXPECT_EQ(commands("WriteReg", 0x0080005C), 6 * c.calibrations);
    EXPECT_EQ(commands("WriteReg", 0x00802100), 1u);
    EXPECT_EQ(commands("SetBaudRate"), 0u);
    EXPECT_EQ(chip->register_value(0x00802100) >> 8 & 0x1FFF, 9u);
    EXPECT_EQ(job.m_uart.m_baud, 2600000);
    EXPECT_EQ(chip->uart_baud(), 2600000);
    EXPECT_EQ(job.m_baudrate, 3000000);
    EXPECT_EQ(job.m_flash_mid, 0x1540C8u);
    const std::string text = log();
    EXPECT_EQ(count_of(text, "    Start Set DCO\n"), c.chip_erase ? 0u : 1u);
    EXPECT_EQ(order_problem(text, {"<<<< Exit", "Current baudrate : 3000000 seccess"}), "");
}

INSTANTIATE_TEST_SUITE_P(Runs, Dco5850,
                         ::testing::Values(DcoCase{"Download", 0, 2}, DcoCase{"WholeChipErase", 1, 1}),
                         [](const ::testing::TestParamInfo<DcoCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, BaudRefusedOnEveryAttempt) {
    sim::SimConfig config = chip_config(0x5820);
    config.faults.max_baud = 1000000;
    start_chip(config);
    job.m_baudrate = 2000000;
    job.m_retry_count = 2;
    connect();
    auto start = Clock::now();
    EXPECT_EQ(job.GetBus(nullptr, 0), 0);
    EXPECT_LT(seconds_since(start), 30.0);
    const std::string text = log();
    EXPECT_EQ(order_problem(text, {"enter loop mode : ConnectRetry and SetBR [ 0 ]", "Getting Bus...",
                                   "SWDL_SetBR5810N fail", "enter loop mode : ConnectRetry and SetBR [ 1 ]",
                                   "Getting Bus...", "SWDL_SetBR5810N fail", "SWDL_SetBR5810N fail"}),
              "");
    EXPECT_EQ(count_of(text, "SWDL_SetBR5810N fail"), 3u);
    EXPECT_EQ(text.find("->pass"), std::string::npos);
}

// The tap keeps the link at 115200; the 5810's direct switch sends its baud
// command for that rate too.
class TappedLinkTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        start_chip(chip_config(0x5810), &chip_line);
        tap = std::make_unique<LinkTap>(line, chip_line);
    }
    void TearDown() override {
        job.m_uart.Close();
        tap.reset();
        LinkTest::TearDown();
    }
    InProcessLine chip_line;
    std::unique_ptr<LinkTap> tap;
};

TEST_F(TappedLinkTest, FlashIdMissingFromTheTable) {
    tap->rewrite_answer(kFlashMidAnswerHead, 12, {0x56, 0x34, 0x12});
    connect();
    ASSERT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5810);
    EXPECT_EQ(job.m_flash_mid, 0x123456u);
    // The first read and m_retry_count more.
    EXPECT_EQ(commands("FlashSpi"), 4u);
    EXPECT_EQ(log().find("GetFlashMid fail!"), std::string::npos);
}

TEST_F(TappedLinkTest, LinkLostInTheFlashIdLoopComesBackByReconnect) {
    tap->cut_at(kFlashMidFrame);
    connect();
    ASSERT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5810);
    EXPECT_EQ(tap->cuts(), 1);
    EXPECT_EQ(job.m_flash_mid, 0x1540C8u);
    // The first read and the loop's first read went unanswered; then the
    // reconnect's own GetBus and the read after it.
    EXPECT_EQ(commands("FlashSpi"), 2u);
    EXPECT_EQ(order_problem(log(), {"do_reset_signal", "Getting Bus...", "Gotten Bus...",
                                    "Current baudrate : 115200 seccess", "Getting Bus...", "Gotten Bus...",
                                    "Current baudrate : 115200 seccess"}),
              "");
    EXPECT_EQ(log().find("GetFlashMid fail!"), std::string::npos);
}

// A chip that never answers the flash-id read: each reconnect's GetBus may not
// reconnect again, so the whole thing ends after the outer loop's attempts.
TEST_F(TappedLinkTest, ReconnectsDoNotNestWithoutBound) {
    tap->drop_frames(kFlashMidFrame);
    job.m_retry_count = 2;
    connect();
    auto start = Clock::now();
    EXPECT_EQ(job.GetBus(nullptr, 0), 0);
    EXPECT_LT(seconds_since(start), 30.0);
    const std::string text = log();
    // The outer GetBus and one reconnect per outer attempt.
    EXPECT_EQ(count_of(text, "    Gotten Bus...\n"), 3u);
    EXPECT_EQ(count_of(text, "    GetFlashMid fail!\n"), 3u);
}

}  // namespace
