// The range mode's retry limits, link re-establishment and recovery from a
// noisy line.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "flash_bench.h"
#include "job/current_chip.h"

namespace {

void set_retries(FlashBench& bench, int32_t retries) {
    bench.job.m_retry_count = retries;
    bench.chip.retry_limit = retries;
}

bool erase_range(FlashBench& bench, uint32_t start, int32_t length) {
    ImageEntry entry;
    entry.start = start;
    entry.length = length;
    bench.job.m_images.push_back(entry);
    return bench.chip.erase_image_range(&bench.job, &bench.record, &entry, int(bench.job.m_images.size() - 1), 0);
}

sim::SimConfig refusing_erases() {
    sim::SimConfig config;
    config.faults.stuck_protect = true;
    return config;
}

TEST(EraseFaults, FailingBlockReconnectsOnceThenGivesUp) {
    FlashBench bench(refusing_erases());
    set_retries(bench, 2);
    ConsoleCapture log;
    EXPECT_FALSE(erase_range(bench, 0x10000, 0x10000));
    // Three failures, one re-establishment, three more failures.
    EXPECT_EQ(describe(bench.sim_chip->erases()), describe(std::vector<sim::EraseEvent>(6, erase64k(0x10000))));
    EXPECT_EQ(bench.chip.reconnects, 1);
    EXPECT_TRUE(log.has("retry failed,RetryCounts = 3 ,Flash address = 0x00010000\n"));
}

TEST(EraseFaults, FailedReconnectEndsTheRange) {
    FlashBench bench(refusing_erases());
    set_retries(bench, 2);
    bench.chip.reconnect_result = 0;
    ConsoleCapture log;
    EXPECT_FALSE(erase_range(bench, 0x11000, 0x1000));
    EXPECT_EQ(describe(bench.sim_chip->erases()), describe(std::vector<sim::EraseEvent>(3, erase4k(0x11000))));
    EXPECT_EQ(bench.chip.reconnects, 1);
    EXPECT_TRUE(log.has("SWDL_ConnectRetry fail!\n"));
    EXPECT_FALSE(log.has("retry failed"));
}

TEST(EraseFaults, SecureWriterReconnectsAfterThreeFailures) {
    FlashBench bench(refusing_erases());
    set_retries(bench, 10);
    bench.job.m_sm_dl_file = "writer.bin";
    EXPECT_FALSE(erase_range(bench, 0x10000, 0x10000 / 34 * 32));
    EXPECT_EQ(bench.chip.reconnects, 1);
    EXPECT_EQ(bench.sim_chip->erases().size(), 8u);
}

TEST(EraseFaults, HeadBlockErasesGetRetryCountMinusFive) {
    FlashBench bench(refusing_erases());
    set_retries(bench, 6);
    const std::vector<uint8_t> before = bench.prefill(0x40000);
    EXPECT_FALSE(erase_range(bench, 0x1F800, 0x1000));
    // Two failures pass the limit of one; nothing is written, nothing re-established.
    EXPECT_EQ(describe(bench.sim_chip->erases()), describe({erase4k(0x1F000), erase4k(0x1F000)}));
    EXPECT_EQ(bench.count_commands("FlashWrite4K"), 0u);
    EXPECT_EQ(bench.chip.reconnects, 0);
    EXPECT_EQ(bench.sim_chip->flash_bytes(0, 0x40000), before);
}

TEST(EraseFaults, UnreadableHeadBlockIsNeverErased) {
    sim::SimConfig config;
    config.faults.silent_after_frames = 1;  // silent after the bench's baud switch
    FlashBench bench(config);
    set_retries(bench, 1);
    const std::vector<uint8_t> before = bench.prefill(0x40000);
    EXPECT_FALSE(erase_range(bench, 0x10800, 0x2000));
    EXPECT_TRUE(bench.sim_chip->erases().empty());
    EXPECT_EQ(bench.sim_chip->flash_bytes(0, 0x40000), before);
    // The port went back to the working rate all the same.
    EXPECT_EQ(bench.job.m_uart.m_baud, bench.job.m_baudrate);
}

TEST(EraseFaults, NoiseDropsAndCorruptionStillGiveTheRightFlash) {
    sim::SimConfig config;
    config.faults.noise_bytes = 3;
    config.faults.drop_answers = {2, 3, 5, 8, 13};
    config.faults.corrupt_answers = {4, 9, 11};
    FlashBench bench(config);
    set_retries(bench, 20);  // the default; the head, tail and alignment erases get 15
    const std::vector<uint8_t> before = bench.prefill(0x60000);
    std::vector<uint8_t> image(0x21000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i ^ (i >> 8));
    bench.job.m_slots[0].assign(image.data(), image.size(), image.size());

    ASSERT_TRUE(erase_range(bench, 0x11800, int32_t(image.size())));
    const std::vector<uint8_t> after = bench.sim_chip->flash_bytes(0, 0x60000);
    for (uint32_t a = 0; a < 0x60000; ++a) {
        uint8_t want = before[a];
        if (a >= 0x11800 && a < 0x32800) {
            const bool merged = a < 0x12000 || a >= 0x32000;
            want = merged ? image[a - 0x11800] : 0xFF;
        }
        ASSERT_EQ(after[a], want) << "at 0x" << std::hex << a;
    }
    EXPECT_EQ(bench.chip.reconnects, 0);
}

}  // namespace

namespace {

TEST(EraseFaults, BitErrorInAWrittenBackBlockIsRewritten) {
    sim::SimConfig config;
    config.faults.program_bit_errors = {1};  // the head block's write-back
    FlashBench bench(config);
    set_retries(bench, 20);
    const std::vector<uint8_t> before = bench.prefill(0x40000);
    ASSERT_TRUE(erase_range(bench, 0x10800, 0x800));
    std::vector<uint8_t> want = before;
    std::fill(want.begin() + 0x10800, want.begin() + 0x11000, 0xFF);
    EXPECT_EQ(bench.sim_chip->flash_bytes(0, 0x40000), want);
    EXPECT_EQ(bench.count_commands("FlashWrite4K"), 2u);
}

}  // namespace

namespace {

TEST(EraseFaults, SilentChipIsRecoveredByAReconnect) {
    sim::SimConfig config;
    // The baud switch and two big erases are answered, then the chip falls
    // silent until a reset pulse.
    config.faults.silent_after_frames = 3;
    FlashBench bench(config);
    set_retries(bench, 2);
    bench.job.m_getbus_timeout = 2.0f;
    bench.chip.real_reconnect = true;
    const std::vector<uint8_t> before = bench.prefill(0x60000);

    ASSERT_TRUE(erase_range(bench, 0x10000, 0x40000));
    EXPECT_EQ(bench.chip.reconnects, 1);
    std::vector<uint8_t> want = before;
    std::fill(want.begin() + 0x10000, want.begin() + 0x50000, 0xFF);
    EXPECT_EQ(bench.sim_chip->flash_bytes(0, 0x60000), want);
    // The link came back at the working rate.
    EXPECT_EQ(bench.sim_chip->uart_baud(), bench.job.m_baudrate);
    EXPECT_GT(bench.count_commands("LinkCheck"), 0u);
    reset_current_chip();
}

}  // namespace
