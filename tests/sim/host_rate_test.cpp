// Which rate the simulator takes bytes from the pseudo-terminal to be sent at,
// when they arrive around a rate change of the host.
#include <gtest/gtest.h>

#include "host_rate.h"

namespace {

struct LateBytes {
    const char* name;
    int chip_rate;
    int host_from;    // the host's rate before its change
    int host_to;      // and after it
    int64_t late_us;  // bytes read this long after the change was seen
    int expected;
};

void PrintTo(const LateBytes& c, std::ostream* os) { *os << c.name; }

class HostRateAfterAChange : public ::testing::TestWithParam<LateBytes> {};

TEST_P(HostRateAfterAChange, TakesLateBytesAtTheChipsRateOnlyJustAfterLeavingIt) {
    const LateBytes& c = GetParam();
    sim::HostRate rate(c.host_from);
    const int64_t changed_at = 5'000'000;
    rate.observe(c.host_from, changed_at - 1000);
    rate.observe(c.host_to, changed_at);
    EXPECT_EQ(rate.current(), c.host_to);
    EXPECT_EQ(rate.sender(c.chip_rate, changed_at + c.late_us), c.expected);
}

const LateBytes kLateBytes[] = {
    // The baud command written at 2000000 just before the host switched to 115200.
    {"FrameWrittenBeforeTheSwitch", 2000000, 2000000, 115200, 3000, 2000000},
    {"SlowKernelStillWithinTheWindow", 2000000, 2000000, 115200, 150000, 2000000},
    // Knocks at the new rate long after: a chip at the old rate does not hear them.
    {"KnocksLongAfterTheSwitch", 2000000, 2000000, 115200, 300000, 115200},
    // The host came to the chip's rate: nothing to guess.
    {"HostJoinedTheChipsRate", 921600, 115200, 921600, 1000, 921600},
    // Neither rate is the chip's: the bytes are what the host now sends.
    {"ChipAtAThirdRate", 3000000, 2000000, 115200, 1000, 115200},
};

INSTANTIATE_TEST_SUITE_P(Sim, HostRateAfterAChange, ::testing::ValuesIn(kLateBytes),
                         [](const ::testing::TestParamInfo<LateBytes>& info) { return info.param.name; });

TEST(HostRate, SteadyRateIsTheSender) {
    sim::HostRate rate(115200);
    rate.observe(115200, 100);
    EXPECT_EQ(rate.sender(115200, 200), 115200);
    EXPECT_EQ(rate.sender(2000000, 200), 115200);
}

}  // namespace
