// The shared download flow against the virtual chip: both verify modes,
// skipped all-0xFF sectors, sector recovery under injected faults, and
// failures that must not pass as success.
#include <gtest/gtest.h>

#include "chip_fixture.h"

namespace {

constexpr uint32_t kStart = 0x11000;

// Four 4 KiB steps: data, all 0xFF, data, and a last step of 0x100 bytes.
Bytes sparse_image() {
    Bytes image = random_bytes(0x3100, 7);
    std::fill(image.begin() + 0x1000, image.begin() + 0x2000, 0xFF);
    return image;
}

class DownloadTest : public ChipFixture {
protected:
    bool download(const Bytes& image, int verify_mode) {
        add_slot_image(0, kStart, image);
        job.m_image_spec_set = 1;
        JobRecord record = record_of_job();
        return chip.download_images(&job, &record, verify_mode);
    }

    // The flash holds the image and nothing around it changed.
    void expect_only_image_written(const Bytes& image) {
        EXPECT_EQ(flash(kStart, image.size()), image);
        EXPECT_EQ(flash(kAreaStart, kStart - kAreaStart), prefill(kAreaStart, kStart - kAreaStart));
        const uint32_t end = kStart + uint32_t(image.size());
        EXPECT_EQ(flash(end, kAreaStart + kAreaSize - end), prefill(end, kAreaStart + kAreaSize - end));
    }
};

class DownloadModes : public DownloadTest, public ::testing::WithParamInterface<int> {};

TEST_P(DownloadModes, WritesTheImageSkipsErasedSectorsKeepsTheRest) {
    start();
    const Bytes image = sparse_image();
    ASSERT_TRUE(download(image, GetParam())) << console_text();
    expect_only_image_written(image);
    EXPECT_EQ(count_commands("FlashWrite4K", kStart + 0x1000), 0u) << "all-0xFF sector was written";
    EXPECT_EQ(count_commands("FlashWrite4K", kStart), 1u);
    // The erase planner confirms the partly covered tail block twice (after
    // reading it and after writing it back); the rest are the flow's checks.
    const size_t planner_checks = 2;
    EXPECT_EQ(count_commands("CheckCRC"), planner_checks + (GetParam() == 1 ? 1u : 3u));
    const std::string log = console_text();
    EXPECT_NE(log.find("[ 0 ] file_length : 0x3100 (12 KB)"), std::string::npos) << log;
    EXPECT_NE(log.find("WriteFlash ->pass"), std::string::npos);
    EXPECT_EQ(log.find("CRC_Verify ->pass") != std::string::npos, GetParam() == 1);
}

INSTANTIATE_TEST_SUITE_P(VerifyMode, DownloadModes, ::testing::Values(1, 0));

struct FaultCase {
    const char* name;
    int verify_mode;
    std::vector<uint32_t> program_bit_errors;
    std::vector<uint32_t> drop_answers;
    int noise_bytes;
};

class DownloadFaults : public DownloadTest, public ::testing::WithParamInterface<FaultCase> {};

// Faults that hit one command: the sector is written again and the flash ends right.
TEST_P(DownloadFaults, RecoversAndEndsWithTheRightFlash) {
    const FaultCase& c = GetParam();
    sim::FaultConfig f;
    f.program_bit_errors = c.program_bit_errors;
    f.drop_answers = c.drop_answers;
    f.noise_bytes = c.noise_bytes;
    start(with_faults(f));
    // Whole sectors only: the answers counted by the fault switches are then
    // three erases, then the first sector write (answer 4).
    Bytes image = random_bytes(0x3000, 11);
    ASSERT_TRUE(download(image, c.verify_mode)) << console_text();
    expect_only_image_written(image);
    EXPECT_GE(count_commands("FlashWrite4K", kStart), 2u) << "the faulty sector was not written again";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DownloadFaults,
    ::testing::Values(FaultCase{"bit_error_whole_image_check", 1, {1}, {}, 0},
                      FaultCase{"bit_error_sector_check", 0, {1}, {}, 0},
                      FaultCase{"dropped_write_answer_whole_image_check", 1, {}, {4}, 3},
                      FaultCase{"dropped_write_answer_sector_check", 0, {}, {4}, 3}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

std::vector<uint32_t> every_program(uint32_t n) {
    std::vector<uint32_t> v;
    for (uint32_t i = 1; i <= n; ++i) v.push_back(i);
    return v;
}

// Every program takes a bit error: the CRC never matches.
TEST_F(DownloadTest, SectorCheckGivesUpAfterSixCycles) {
    sim::FaultConfig f;
    f.program_bit_errors = every_program(100);
    start(with_faults(f));
    EXPECT_FALSE(download(random_bytes(0x3000, 3), 0));
    const std::string log = console_text();
    EXPECT_NE(log.find("retry failed,RetryCounts = 6 ,File address = 0x00000000"), std::string::npos) << log;
    // A cycle is one main write and one recovery write; after six cycles the
    // link is brought back once and the sector gets six more.
    EXPECT_EQ(count_commands("FlashWrite4K", kStart), 24u);
    EXPECT_EQ(count_commands("LinkCheck") > 0, true) << "no reconnect before giving up";
    EXPECT_EQ(count_commands("FlashWrite4K", kStart + 0x1000), 0u) << "went on after a failed sector";
}

// The chip stops answering after the first sector write: the link is
// re-established (the reset ends the silence) and the download completes.
TEST_F(DownloadTest, ChipSilentMidDownloadIsReconnected) {
    sim::FaultConfig f;
    f.silent_after_frames = 4;  // three erases, one write
    start(with_faults(f));
    job.m_baudrate = 921600;
    const Bytes image = random_bytes(0x3000, 13);
    ASSERT_TRUE(download(image, 1)) << console_text();
    expect_only_image_written(image);
    EXPECT_EQ(sim->uart_baud(), 921600) << "not back at the working rate";
}

TEST_F(DownloadTest, WholeImageCheckFailsWhenTheFlashCannotBeRepaired) {
    sim::FaultConfig f;
    f.program_bit_errors = every_program(100);
    start(with_faults(f));
    EXPECT_FALSE(download(random_bytes(0x3000, 3), 1));
    const std::string log = console_text();
    EXPECT_NE(log.find("ERR_CODE_Verify"), std::string::npos) << log;
    EXPECT_EQ(log.find("CRC_Verify ->pass"), std::string::npos);
}

TEST_F(DownloadTest, UnselectedEntriesAndImagesNotGivenAreNotWritten) {
    start();
    add_slot_image(0, kStart, random_bytes(0x1000, 1));
    add_slot_image(1, kStart + 0x4000, random_bytes(0x1000, 2), "second.bin");
    job.m_images[0].selected = false;
    job.m_image_spec_set = 1;
    JobRecord record = record_of_job();
    ASSERT_TRUE(chip.download_images(&job, &record, 1));
    EXPECT_EQ(count_commands("FlashWrite4K", kStart), 0u);
    EXPECT_EQ(count_commands("FlashWrite4K", kStart + 0x4000), 1u);
    // The index still counts the unselected entry.
    EXPECT_NE(console_text().find("[ 1 ] file_path : second.bin"), std::string::npos);

    record.images_given = false;
    const size_t before = sim->commands().size();
    ASSERT_TRUE(chip.download_images(&job, &record, 1));
    EXPECT_EQ(sim->commands().size(), before);
}

}  // namespace
