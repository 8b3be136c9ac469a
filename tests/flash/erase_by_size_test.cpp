// EraseFlashBySize: the erases per range, its phase messages and its failure limit.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "flash_bench.h"

namespace {

struct BySizeCase {
    const char* name;
    uint32_t start;
    uint32_t end;
    std::vector<sim::EraseEvent> erases;
    std::vector<std::string> messages;
    std::vector<std::string> absent;
};

class BySizeTable : public ::testing::TestWithParam<BySizeCase> {};

TEST_P(BySizeTable, Erases) {
    const BySizeCase& c = GetParam();
    FlashBench bench;
    ConsoleCapture log;
    CBootIntf link(&bench.job.m_uart);
    EXPECT_EQ(bench.chip.EraseFlashBySize(link, &bench.job, c.start, c.end, 3, 0), 1);
    EXPECT_EQ(describe(bench.sim_chip->erases()), describe(c.erases));
    const std::string text = log.text();
    for (const std::string& m : c.messages) EXPECT_NE(text.find(m + "\n"), std::string::npos) << m;
    for (const std::string& m : c.absent) EXPECT_EQ(text.find(m), std::string::npos) << m;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, BySizeTable,
    ::testing::Values(
        BySizeCase{"HeadOnly", 0x11000, 0x14000, erase4k_run(0x11000, 0x14000),
                   {"start 0x11000, end 0x14000, max_retries 3", "Erasing 4K, erase_start 0x11000, erase_end 0x14000",
                    "Erased 4K, tmp_cnt 3"},
                   {"Erasing 64K"}},
        BySizeCase{"HeadMiddleTail", 0x11000, 0x32000,
                   joined({erase4k_run(0x11000, 0x20000), {erase64k(0x20000), erase4k(0x30000), erase4k(0x31000)}}),
                   {"Erased 4K, tmp_cnt 15", "Erasing 64K, erase_start 0x20000, erase_end 0x30000",
                    "Erased 64K, tmp_cnt 1", "Erasing 4K, erase_start 0x30000, end 0x32000",
                    "Erased the last 4K blocks, tmp_cnt 2"},
                   {}},
        BySizeCase{"AlignedStartSkipsHead", 0x20000, 0x32000,
                   {erase64k(0x20000), erase4k(0x30000), erase4k(0x31000)}, {"Erased 64K, tmp_cnt 1"},
                   {"Erasing 4K, erase_start 0x20000", "Erased 4K,"}},
        BySizeCase{"NoTail", 0x20000, 0x40000, {erase64k(0x20000), erase64k(0x30000)},
                   {"Erased the last 4K blocks, tmp_cnt 0"}, {"Erasing 4K"}},
        // An unaligned start still reaches the block that holds the last byte.
        BySizeCase{"UnalignedStart", 0x11800, 0x12400, {erase4k(0x11000), erase4k(0x12000)}, {}, {}},
        BySizeCase{"EmptyRange", 0x20000, 0x20000, {}, {}, {"Erasing"}}),
    [](const ::testing::TestParamInfo<BySizeCase>& info) { return std::string(info.param.name); });

TEST(EraseFlashBySize, NoJobDoesNothing) {
    FlashBench bench;
    CBootIntf link(&bench.job.m_uart);
    EXPECT_EQ(bench.chip.EraseFlashBySize(link, nullptr, 0x10000, 0x20000, 3, 0), 0);
    EXPECT_TRUE(bench.command_lines().empty());
}

TEST(EraseFlashBySize, TooManyFailuresEndThePhase) {
    sim::SimConfig config;
    config.faults.stuck_protect = true;  // every erase is refused
    FlashBench bench(config);
    ConsoleCapture log;
    CBootIntf link(&bench.job.m_uart);
    EXPECT_EQ(bench.chip.EraseFlashBySize(link, &bench.job, 0x11000, 0x32000, 3, 0), -1);
    // Each failed block is tried once; the fourth failure ends it.
    EXPECT_EQ(describe(bench.sim_chip->erases()), describe(erase4k_run(0x11000, 0x15000)));
    EXPECT_TRUE(log.has("retries > max_retries\n"));
}

}  // namespace
