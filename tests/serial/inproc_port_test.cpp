// The COM port on the in-process line: modem lines, exclusivity, rates.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "serial/comm_port.h"
#include "serial/inproc_line.h"

namespace {

class InProcessPort : public ::testing::Test {
protected:
    std::shared_ptr<InProcessLine> line = std::make_shared<InProcessLine>();
    CQuarnUartPort port;
};

TEST_F(InProcessPort, OpenLeavesDtrAndRtsCleared) {
    line->host_set_modem(true, true);  // as a freshly opened tty would have them
    ASSERT_EQ(port.OpenInProcess(line, 115200, 0), 1);
    EXPECT_FALSE(line->dtr());
    EXPECT_FALSE(line->rts());
}

TEST_F(InProcessPort, ResetPulseHoldsRtsFor200ms) {
    ASSERT_EQ(port.OpenInProcess(line, 115200, 0), 1);
    const size_t before = line->modem_events().size();
    port.do_reset_signal();
    auto events = line->modem_events();
    ASSERT_EQ(events.size(), before + 2);
    const auto& pulse = events[before];
    const auto& release = events[before + 1];
    EXPECT_FALSE(pulse.dtr);
    EXPECT_TRUE(pulse.rts);
    EXPECT_FALSE(release.dtr);
    EXPECT_FALSE(release.rts);
    EXPECT_GE(release.when - pulse.when, std::chrono::milliseconds(195));
}

TEST_F(InProcessPort, CloseClearsDtr) {
    ASSERT_EQ(port.OpenInProcess(line, 115200, 0), 1);
    line->host_set_modem(true, false);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_FALSE(line->dtr());
    EXPECT_EQ(port.Close(), 0);
}

TEST_F(InProcessPort, OnlyOnePortAtATime) {
    ASSERT_EQ(port.OpenInProcess(line, 115200, 0), 1);
    CQuarnUartPort second;
    EXPECT_EQ(second.OpenInProcess(line, 115200, 0), 0);
    EXPECT_EQ(second.last_error(), SerialError::Busy);
    port.Close();
    EXPECT_EQ(second.OpenInProcess(line, 115200, 0), 1);
}

TEST_F(InProcessPort, RefusedRateLeavesThePortAsItWas) {
    line->set_host_baud_limit(1500000);
    ASSERT_EQ(port.OpenInProcess(line, 921600, 0), 1);
    EXPECT_EQ(port.m_baud, 921600);
    EXPECT_EQ(port.Configure(2000000, 0), 0);
    EXPECT_EQ(port.m_baud, 921600);
    EXPECT_EQ(line->host_baud(), 921600);
    EXPECT_EQ(port.Configure(1500000, 0), 1);
    EXPECT_EQ(line->host_baud(), 1500000);
}

TEST_F(InProcessPort, OpenAtARefusedRateStaysAt115200) {
    line->set_host_baud_limit(1000000);
    ASSERT_EQ(port.OpenInProcess(line, 2000000, 0), 1);
    EXPECT_EQ(port.m_baud, 115200);
    EXPECT_EQ(line->host_baud(), 115200);
}

TEST_F(InProcessPort, BytesAtAnotherRateAreNotReceived) {
    ASSERT_EQ(port.OpenInProcess(line, 921600, 1), 1);
    const uint8_t wrong[] = {1, 2, 3};
    const uint8_t right[] = {4, 5};
    line->far_write(wrong, 3, 115200);
    line->far_write(right, 2, 921600);
    uint8_t buf[8];
    EXPECT_EQ(port.Read(buf, 8), 2);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(buf[1], 5);
    EXPECT_EQ(line->dropped_at_host(), 3u);
}

TEST_F(InProcessPort, ReadModes) {
    ASSERT_EQ(port.OpenInProcess(line, 115200, 1), 1);
    uint8_t buf[15];
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) ASSERT_EQ(port.Read(buf, 15), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    ASSERT_EQ(port.Configure(115200, 0), 1);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(port.Read(buf, 15), 0);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::microseconds(20 * 900));
    EXPECT_LT(took, std::chrono::milliseconds(20 * 20));
}

TEST_F(InProcessPort, ClosedPortReadsNothingAndWritesFail) {
    uint8_t buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(port.Read(buf, 4), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_FALSE(port.write_frame(buf, 4));
    EXPECT_EQ(port.Configure(115200, 0), 0);
    EXPECT_EQ(port.Purge(), 0);
    port.do_reset_signal();  // harmless
}

TEST_F(InProcessPort, LineOverrideServesOpenByNumber) {
    port.set_in_process_line(line);
    ASSERT_EQ(port.Open(3, 115200, 0), 1);
    EXPECT_TRUE(line->host_attached());
    port.Close();
    EXPECT_FALSE(line->host_attached());
}

}  // namespace
