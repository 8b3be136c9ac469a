// Shared chip steps: closings, the image size check and the eFuse image,
// burn and byte read against the virtual chip.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "chips/chip_families.h"
#include "job/chip_operations.h"
#include "job/chip_table.h"
#include "chips/chip_steps.h"

namespace {

// ---- closings ------------------------------------------------------------------

struct CloseCase {
    const char* name;
    bool generic;  // the closing of every chip but the 5810
    bool result;
    int reboot;
};

class Closing : public ChipFixture, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(Closing, RebootsWhenAskedAndLeavesThePortClosed) {
    const CloseCase& c = GetParam();
    start();
    job.m_reboot = c.reboot;
    const bool r = c.generic ? close_job(&job, c.result) : close_job_5810(&job, c.result);
    EXPECT_EQ(r, c.result);
    EXPECT_FALSE(job.m_uart.is_open());
    EXPECT_NE(console_text().find("Boot_Reboot\n"), std::string::npos);
    // The first reboot command sends the chip into its firmware, which takes no more frames.
    EXPECT_EQ(count_commands("RebootCommand"), c.reboot == 1 ? 1u : 0u);
    EXPECT_EQ(sim->mode(), c.reboot == 1 ? sim::ChipMode::Firmware : sim::ChipMode::Rom);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Closing,
    ::testing::Values(CloseCase{"chip5810_success", false, true, 1}, CloseCase{"chip5810_failure", false, false, 1},
                      CloseCase{"chip5810_no_reboot", false, false, 0}, CloseCase{"generic_success", true, true, 1},
                      CloseCase{"generic_reboot_2", true, true, 2}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

// ---- image size check ------------------------------------------------------------

TEST(ImageSizeCheck, LargerThanTheFlashFailsUnlessUnselected) {
    Download job;
    job.m_flash_mid = 0x1540C8;  // 2 MiB
    JobRecord record;
    ImageEntry e;
    e.path = "big.bin";
    e.length = 0x200000;
    record.images = {e};
    EXPECT_TRUE(check_image_sizes(&job, record));
    record.images[0].length = 0x200001;
    EXPECT_FALSE(check_image_sizes(&job, record));
    record.images[0].selected = false;
    EXPECT_TRUE(check_image_sizes(&job, record));
    job.m_flash_mid = 0x123456;
    EXPECT_FALSE(check_image_sizes(&job, record));
}

// ---- eFuse -------------------------------------------------------------------------

TEST(EfuseImage, OneWordKeyList) {
    Download job;
    job.m_efuse_key = "0x11223344";
    JobRecord record;
    EfuseImage image;
    ASSERT_TRUE(assemble_efuse_image(&job, record, image));
    EfuseImage want{};
    want[0] = 0x44;
    want[1] = 0x33;
    want[2] = 0x22;
    want[3] = 0x11;
    want[31] = 0x20;
    EXPECT_EQ(image, want);
}

TEST(EfuseImage, NothingGivenStaysZeroTooManyWordsRefused) {
    Download job;
    JobRecord record;
    EfuseImage image;
    image.fill(7);
    ASSERT_TRUE(assemble_efuse_image(&job, record, image));
    EXPECT_EQ(image, EfuseImage{});
    job.m_efuse_key = "1,2,3,4,5,6,7,8,9";
    EXPECT_FALSE(assemble_efuse_image(&job, record, image));
    EXPECT_EQ(image, EfuseImage{});
}

class EfuseBurn : public ChipFixture {};

TEST_F(EfuseBurn, BurnsTheNonZeroBytesAndReadsThemBack) {
    start();
    job.m_efuse_key = "0x00AB0012";
    EfuseImage image;
    ASSERT_TRUE(assemble_efuse_image(&job, JobRecord{}, image));
    ASSERT_EQ(efuse_burn(&job, image, kEfuseSetA), 1) << console_text();

    const Bytes fuses = sim->efuse_bytes();
    ASSERT_GE(fuses.size(), 32u);
    EXPECT_EQ(Bytes(fuses.begin(), fuses.begin() + 32), Bytes(image.begin(), image.end()));
    for (uint32_t a : {0u, 1u, 2u, 31u}) {
        uint8_t v = 0;
        ASSERT_EQ(efuse_read_byte(&job, a, v, kEfuseSetA), 1);
        EXPECT_EQ(v, image[a]) << a;
    }
    // Power is off again.
    EXPECT_EQ(sim->register_value(kEfuseSetA.power_reg) & kEfuseSetA.power_mask, 0u);
}

TEST_F(EfuseBurn, BusyTooLongFailsAndPowersDown) {
    sim::FaultConfig f;
    f.efuse_busy_fault_ms = 1500;
    start(with_faults(f));
    // The burn's first step, the byte read, waits more than a second.
    EfuseImage image{};
    image[4] = 0x01;
    EXPECT_EQ(efuse_burn(&job, image, kEfuseSetA), -7);
    EXPECT_EQ(sim->register_value(kEfuseSetA.power_reg) & kEfuseSetA.power_mask, 0u);
}

TEST(EfuseNoPort, ReportsMinusOne) {
    Download job;
    uint8_t v = 0;
    EXPECT_EQ(efuse_read_byte(&job, 0, v, kEfuseSetA), -1);
    EXPECT_EQ(efuse_burn(&job, EfuseImage{}, kEfuseSetB), -1);
}

// ---- flash id ------------------------------------------------------------------------

class FlashId : public ChipFixture {};

TEST_F(FlashId, ReadAgainWhenTheFirstAnswerIsLost) {
    sim::FaultConfig f;
    f.drop_answers = {1};
    start(with_faults(f));
    job.m_flash_mid = 0;
    EXPECT_TRUE(acquire_flash_id(chip, &job, nullptr, 1.0f)) << console_text();
    EXPECT_EQ(job.m_flash_mid, 0x1540C8u);
    EXPECT_EQ(count_commands("FlashSpi"), 2u);
}

TEST_F(FlashId, ChipGoneFails) {
    start();
    sim->stop();  // nothing answers any more, not even the reconnect
    job.m_flash_mid = 0x123456;
    chip.retry_limit = 1;
    EXPECT_FALSE(acquire_flash_id(chip, &job, nullptr, 1.0f));
    EXPECT_NE(console_text().find("GetFlashMid fail!"), std::string::npos) << console_text();
}

// ---- chip factory --------------------------------------------------------------------

TEST(ChipFactory, EveryFamilyHasItsClassOtherRowsNone) {
    Download job;
    for (const ChipRow& row : chip_table()) {
        SCOPED_TRACE(int(row.kind));
        const ChipFamily* family = nullptr;
        for (const ChipFamily* f : chip_families())
            if (f->kind == row.kind) family = f;
        auto chip = make_chip(row, job);
        EXPECT_EQ(chip != nullptr, family != nullptr);
        EXPECT_EQ(chip != nullptr, row.has_family());
        if (chip) {
            EXPECT_FALSE(chip->extra_operation());
        }
        if (!row.has_family()) {
            EXPECT_EQ(family, nullptr);
        }
    }
    EXPECT_NE(dynamic_cast<CQN_WIFI_5810*>(make_chip(*chip_row_for_kind(CHIP_KIND_5810), job).get()), nullptr);
}

}  // namespace
