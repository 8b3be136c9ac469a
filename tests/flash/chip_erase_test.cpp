// Whole-chip mode: the erase-all command, the fixed wait and progress pacing
// per flash model, the busy poll after the wait, and its failures.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "flash/chip_erase_table.h"
#include "flash_bench.h"

namespace {

constexpr int32_t kEntryLength = 0x10000;  // 16 progress steps

bool erase_whole_chip(FlashBench& bench) {
    ImageEntry entry;
    entry.start = 0;
    entry.length = kEntryLength;
    bench.job.m_images.push_back(entry);
    return bench.chip.erase_image_range(&bench.job, &bench.record, &entry, 0, 1);
}

struct ModelCase {
    const char* name;
    uint32_t mid;
    uint32_t wait_ms;       // fixed wait after the erase-all (0 = none)
    uint32_t step_pause_ms;  // pause per progress step (0 = none)
    bool progress;
};

class ChipEraseModels : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ChipEraseModels, WaitsAndProgress) {
    const ModelCase& c = GetParam();
    sim::SimConfig config;
    config.flash_mid = c.mid;
    FlashBench bench(config);
    bench.prefill(0x40000);
    ConsoleCapture log;

    // The fixed wait holds the eraser until the progress worker has made its
    // steps, so what the worker does does not depend on thread timing.
    std::mutex mutex;
    std::vector<uint32_t> asked;
    std::atomic<int> steps{0};
    const int expected_steps = c.step_pause_ms ? kEntryLength / 0x1000 : 0;
    bench.chip.flash_waits.sleep = [&](uint32_t ms) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            asked.push_back(ms);
        }
        if (ms == c.step_pause_ms) {
            ++steps;
            return;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (steps.load() < expected_steps && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };

    EXPECT_TRUE(erase_whole_chip(bench));
    EXPECT_EQ(bench.job.m_chip_erase_done.load(), 1);
    EXPECT_EQ(bench.job.m_erase_progress_stop.load(), 1);
    EXPECT_EQ(bench.command_lines(), (std::vector<std::string>{"FlashEraseAll 07", "FlashReadSR 05"}));
    EXPECT_EQ(bench.sim_chip->flash_bytes(0, 0x40000), std::vector<uint8_t>(0x40000, 0xFF));

    std::vector<uint32_t> want;
    for (int i = 0; i < expected_steps; ++i) want.push_back(c.step_pause_ms);
    if (c.wait_ms) want.push_back(c.wait_ms);
    std::lock_guard<std::mutex> lock(mutex);
    std::sort(asked.begin(), asked.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(asked, want);
    if (c.step_pause_ms) {
        EXPECT_EQ(log.has("Erasing Flash ... 0%"), c.progress);
        EXPECT_EQ(log.has("Erasing Flash ... 93%"), c.progress);
    }
    if (!c.progress) {
        EXPECT_FALSE(log.has("Erasing Flash"));
    }
}

INSTANTIATE_TEST_SUITE_P(Models, ChipEraseModels,
                         ::testing::Values(ModelCase{"Gd25q64", 0x1740C8, 10000, 50, true},
                                           ModelCase{"En25qh32a", 0x16411C, 23000, 120, true},
                                           ModelCase{"P25q80", 0x154285, 23000, 0, false},
                                           ModelCase{"Gd25q16bNotListed", 0x1540C8, 0, 0, false}),
                         [](const ::testing::TestParamInfo<ModelCase>& info) { return std::string(info.param.name); });

TEST(ChipEraseTable, RowsAndDefault) {
    const ChipEraseTiming xt = chip_erase_timing(0x17600B);
    EXPECT_EQ(xt.wait_ms, 0u);
    EXPECT_TRUE(xt.progress);
    const ChipEraseTiming gd = chip_erase_timing(0x1665C8);
    EXPECT_EQ(gd.wait_ms, 10000u);
    EXPECT_EQ(gd.step_pause_ms, 50u);
    const ChipEraseTiming none = chip_erase_timing(0x123456);
    EXPECT_EQ(none.wait_ms, 0u);
    EXPECT_FALSE(none.progress);
    EXPECT_EQ(none.step_pause_ms, 0u);
}

// A 512 KiB part with datasheet timing erases for about two seconds after
// the erase-all is answered, and its row has no fixed wait.
sim::SimConfig slow_part() {
    sim::SimConfig config;
    config.flash_mid = 0x13311C;
    config.flash_timing = true;
    return config;
}

TEST(ChipEraseBusy, WaitsUntilThePartIsReady) {
    FlashBench bench(slow_part());
    EXPECT_TRUE(erase_whole_chip(bench));
    const int64_t now = SimHarness::now_us();
    const int64_t ready = bench.sim_chip->with_chip([](sim::VirtualChip& c) { return c.flash().ready_at(); });
    EXPECT_GE(now, ready) << "reported done while the part was still erasing";
    EXPECT_GT(bench.count_commands("FlashReadSR"), 1u);
    EXPECT_EQ(bench.job.m_chip_erase_done.load(), 1);
}

TEST(ChipEraseBusy, PartStillBusyAtTheBoundFails) {
    FlashBench bench(slow_part());
    bench.chip.flash_waits.busy_limit_seconds = 0.2;
    ConsoleCapture log;
    EXPECT_FALSE(erase_whole_chip(bench));
    EXPECT_EQ(bench.job.m_chip_erase_done.load(), 0);
    EXPECT_TRUE(log.has("Flash still busy 0.2 s after chip erase\n"));
}

TEST(ChipEraseBusy, UnreadableStatusFails) {
    sim::SimConfig config;
    config.faults.silent_after_frames = 2;  // the baud switch and the erase-all are answered
    FlashBench bench(config);
    ConsoleCapture log;
    EXPECT_FALSE(erase_whole_chip(bench));
    EXPECT_EQ(bench.job.m_chip_erase_done.load(), 0);
    EXPECT_TRUE(log.has("Flash status unreadable after chip erase\n"));
}

TEST(ChipEraseBusy, StoppedJobFails) {
    FlashBench bench;
    bench.job.m_stop = 1;
    EXPECT_FALSE(erase_whole_chip(bench));
    EXPECT_EQ(bench.job.m_chip_erase_done.load(), 0);
    EXPECT_EQ(bench.job.m_erase_progress_stop.load(), 1);
}

}  // namespace
