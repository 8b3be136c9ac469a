// The link's messages in the run log, in the order the steps make them.

// Needs the virtual chip; builds to nothing until it is there.
#if __has_include("sim_harness.h")

#include "link_fixture.h"

namespace {

// A 5830 at 3000000 goes through every step: reset, knock, chip id, two
// rounds of calibration and clock steps (with the system clock), the UART
// divider switch and the flash id.
TEST_F(LinkTest, MessagesOfAFullLinkInOrder) {
    start_chip(chip_config(0x5830));
    job.m_baudrate = 3000000;
    job.m_port = 7;
    ASSERT_EQ(job.Connect(job.m_port), 1);
    ASSERT_EQ(job.GetBus(nullptr, 0), CHIP_KIND_5830);
    const std::vector<std::string> expected = {
        "Current port : COM7 + BaudRate : 115200 connect success",
        "do_reset_signal",
        "Getting Bus...",
        "Gotten Bus...",
        "Start Set DCO",
        "ICU_PERI_CLK_MUX=0x40",
        "ICU_PERI_CLK_MUX=0x0",
        "REG_SPI_CTRL=0xa00, div=3",
        "REG_SPI_CTRL=0x300",
        "REG_SYS_CTRL_CLK_SET_ADDR=0x1",
        "REG_SYS_CTRL_CLK_SET_ADDR -> 0x10",
        "REG_SYS_CTRL_CLK_SET_ADDR=0x10",
        "End Set DCO",
        // Second round: the registers are already right and only logged.
        "ICU_PERI_CLK_MUX=0x0",
        "REG_SPI_CTRL=0x300, div=3",
        "REG_SYS_CTRL_CLK_SET_ADDR=0x10",
        "REG_APB3_UART_CFG = 0xe100",
        "dco_freq 120000000, baudrate 2600000, div 9",
        "REG_APB3_UART_CFG -> 0x900",
        "actual_baud 2600000",
        "tmp = 0x900",
        "<<<< Exit",
        "Current baudrate : 3000000 seccess",
    };
    const std::string text = log();
    EXPECT_EQ(order_problem(text, expected), "");
    // Nothing failed on the way.
    EXPECT_EQ(text.find("fail"), std::string::npos) << text;
    EXPECT_EQ(count_of(text, "    Getting Bus...\n"), 1u);
}

TEST_F(LinkTest, ConnectLogsSuccessOnceAndEveryFailure) {
    start_chip(chip_config(0x5810));
    connect();
    connect();
    EXPECT_EQ(link_counters().connects, 2);
    job.m_uart.clear_device_override();
    job.m_uart.set_device_path("/nonexistent/tesk_job_port");
    EXPECT_EQ(job.Connect(3), 0);
    const std::string text = log();
    EXPECT_EQ(count_of(text, "connect success"), 1u);
    EXPECT_NE(text.find("    Current port : COM3 + BaudRate : 115200 connect failed\n"), std::string::npos) << text;
}

// The chip keeps its status word busy: the calibration fails, the reconnect
// inside it fails the same way and may not reconnect again.
TEST_F(LinkTest, MessagesOfAFailedCalibrationInOrder) {
    sim::SimConfig config = chip_config(0x5850);
    config.status_busy_reads = 1000;
    start_chip(config);
    job.m_baudrate = 3000000;
    connect();
    EXPECT_EQ(job.GetBus(nullptr, 0), 0);
    const std::string text = log();
    EXPECT_EQ(order_problem(text, {"Gotten Bus...", "Start Set DCO", "sctrl_dco_cali fail - ( 0 )", "Getting Bus...",
                                   "Gotten Bus...", "Start Set DCO", "sctrl_dco_cali fail - ( 0 )"}),
              "");
    EXPECT_EQ(text.find("End Set DCO"), std::string::npos);
    EXPECT_EQ(text.find("seccess"), std::string::npos);
}

TEST_F(LinkTest, BootRebootSendsThreeRebootCommands) {
    connect();
    EXPECT_EQ(job.Boot_Reboot(), 1);
    Bytes sent(64);
    int baud = 0;
    sent.resize(line->far_read(sent.data(), sent.size(), 100, &baud));
    const Bytes frame = {0x01, 0xE0, 0xFC, 0x02, 0x0E, 0xA5};
    Bytes expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(baud, 115200);
}

TEST(SafeBaudRate, FollowsTheBridge) {
    Download job;
    const std::pair<int, int> cases[] = {{1, 921600}, {2, 921600}, {3, 115200}, {0, 115200}};
    for (auto [bridge, rate] : cases) {
        job.m_uart_type = bridge;
        EXPECT_EQ(job.SafeBaudRate(), rate) << bridge;
    }
}

}  // namespace

#endif
