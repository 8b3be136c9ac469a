// The erase-entry loop: each selected range erased exactly, whole-chip mode,
// and the first failing entry ending the erase.
#include <gtest/gtest.h>

#include "chip_fixture.h"

namespace {

class EraseTest : public ChipFixture {
protected:
    void add_range(uint32_t start, uint32_t length, bool selected = true) {
        ImageEntry e;
        e.start = start;
        e.length = int32_t(length);
        e.selected = selected;
        job.m_images.push_back(e);
    }
    bool run(bool chip_erase = false) {
        JobRecord record = record_of_job();
        record.chip_erase = chip_erase;
        return chip.erase_entries(&job, &record);
    }
    void expect_erased(uint32_t start, uint32_t length) { EXPECT_EQ(flash(start, length), Bytes(length, 0xFF)); }
    void expect_kept(uint32_t start, uint32_t length) { EXPECT_EQ(flash(start, length), prefill(start, length)); }
};

TEST_F(EraseTest, SelectedRangesErasedExactly) {
    start();
    add_range(0x11000, 0x800);
    add_range(0x13000, 0x1000, false);
    add_range(0x15800, 0x1000);
    // A file loaded to give a range must not be written by its erase.
    const Bytes file = random_bytes(0x800, 5);
    job.m_slots[0].assign(file.data(), file.size(), file.size());
    ASSERT_TRUE(run()) << console_text();

    expect_kept(0x10000, 0x1000);
    expect_erased(0x11000, 0x800);
    expect_kept(0x11800, 0x15800 - 0x11800);
    expect_erased(0x15800, 0x1000);
    expect_kept(0x16800, 0x30000 - 0x16800);
    const std::string log = console_text();
    size_t passes = 0;
    for (size_t at = 0; (at = log.find("EraseFlash ->pass", at)) != std::string::npos; ++at) ++passes;
    EXPECT_EQ(passes, 2u);
}

TEST_F(EraseTest, WholeChipMode) {
    start();
    add_range(0, 1);
    chip.flash_waits.sleep = [](uint32_t) {};
    ASSERT_TRUE(run(true)) << console_text();
    EXPECT_EQ(count_commands("FlashEraseAll"), 1u);
    expect_erased(kAreaStart, kAreaSize);
    EXPECT_EQ(job.m_chip_erase_done, 1);
}

// A protected flash refuses the erases; after one reconnect the entry fails
// and the entries after it are not touched.
TEST_F(EraseTest, FirstFailingEntryEndsTheErase) {
    sim::SimConfig config;
    config.faults.stuck_protect = true;
    start(config);
    chip.retry_limit = 1;
    job.m_retry_count = 1;
    add_range(0x11000, 0x1000);
    add_range(0x15000, 0x1000);
    EXPECT_FALSE(run());
    const std::string log = console_text();
    EXPECT_NE(log.find("ERR_CODE_EraseFlash"), std::string::npos) << log;
    EXPECT_EQ(log.find("EraseFlash ->pass"), std::string::npos);
    EXPECT_GT(count_commands("FlashErase", 0x11000, 1), 0u);
    EXPECT_EQ(count_commands("FlashErase", 0x15000, 1), 0u);
}

}  // namespace
