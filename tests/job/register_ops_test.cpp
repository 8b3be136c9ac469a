// The job's register reads and writes: attempts, pauses and how often the
// failure line is logged.

// Needs the virtual chip; builds to nothing until it is there.
#if __has_include("sim_harness.h")

#include <chrono>
#include <functional>

#include "link_fixture.h"
#include "protocol/boot_intf.h"

namespace {

struct FailingCase {
    const char* name;
    std::function<int64_t(Download&, CBootIntf&)> call;
    int64_t result;
    const char* line;  // the failure line of the first attempt
    size_t lines;      // how often a failure line is logged
    double min_seconds;
};

class RegisterFailure : public LinkTest, public ::testing::WithParamInterface<FailingCase> {};

// Nobody answers on the line.
TEST_P(RegisterFailure, GivesUpAfterItsAttempts) {
    const FailingCase& c = GetParam();
    connect();
    CBootIntf intf;  // bound to the job's port by the call
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.call(job, intf), c.result);
    const double took = seconds_since(start);
    EXPECT_GE(took, c.min_seconds);
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(intf.port(), &job.m_uart);
    const std::string text = log();
    EXPECT_NE(text.find(std::string("    ") + c.line + "\n"), std::string::npos) << text;
    EXPECT_EQ(count_of(text, " failed, retry "), c.lines) << text;
    // The once-per-call counters start over for the next call.
    EXPECT_EQ(link_counters().read_failures, 0);
    EXPECT_EQ(link_counters().write_failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RegisterFailure,
    ::testing::Values(
        FailingCase{"ReadRegister",
                    [](Download& job, CBootIntf& intf) {
                        uint32_t value = 0;
                        return int64_t(job.ReadRegister(intf, 0x00800040, value));
                    },
                    -1, "read 0x800040 failed, retry 0", 3, 3 * 0.05 + 0.015},
        FailingCase{"ReadRegisterValue",
                    [](Download& job, CBootIntf& intf) { return int64_t(job.ReadRegisterValue(intf, 0x00802100)); }, 0,
                    "read 0x802100 failed, retry 0", 1, 5 * 0.05 + 0.05},
        FailingCase{"WriteRegister",
                    [](Download& job, CBootIntf& intf) { return int64_t(job.WriteRegister(intf, 0x0080005C, 0x12)); },
                    -1, "write 0x80005c=0x12 failed, retry 0", 1, 5 * 0.05 + 0.05},
        FailingCase{"TwoCallsLogOnceEach",
                    [](Download& job, CBootIntf& intf) {
                        job.ReadRegisterValue(intf, 0x00802000);
                        return int64_t(job.ReadRegisterValue(intf, 0x00802000));
                    },
                    0, "read 0x802000 failed, retry 0", 2, 2 * (5 * 0.05 + 0.05)}),
    [](const ::testing::TestParamInfo<FailingCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, RegisterWriteAndReadBack) {
    start_chip(chip_config(0x5810));
    connect();
    CBootIntf intf;
    EXPECT_EQ(job.WriteRegister(intf, 0x00801000, 0xA5A5F00D), 1);
    uint32_t value = 0;
    EXPECT_EQ(job.ReadRegister(intf, 0x00801000, value), 1);
    EXPECT_EQ(value, 0xA5A5F00Du);
    EXPECT_EQ(job.ReadRegisterValue(intf, 0x00801000), 0xA5A5F00Du);
    EXPECT_EQ(log().find("failed"), std::string::npos);
}

}  // namespace

#endif
