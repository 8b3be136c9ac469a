// The erase planner's range mode against the virtual chip: for each layout,
// the erases the chip saw, and every byte of the flash afterwards (the range
// prepared, everything else as it was).

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "flash_bench.h"

namespace {

constexpr uint32_t kFlashBytes = 0x200000;  // the default chip's GD25Q16B

struct RangeCase {
    const char* name;
    uint32_t start;
    int32_t length;
    bool with_image;  // a download's erase step (image bytes merged) or an erase range
    std::vector<sim::EraseEvent> erases;
    bool secure_writer = false;
};

std::vector<uint8_t> image_bytes(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 7 + 3);
    return bytes;
}

// The flash the planner must leave: outside the range as before; inside it
// erased, except the range's bytes in a partly covered first or last block,
// which already hold the entry's bytes.
std::vector<uint8_t> expected_flash(const std::vector<uint8_t>& before, const RangeCase& c, uint64_t length,
                                    const std::vector<uint8_t>& image) {
    std::vector<uint8_t> out = before;
    const uint64_t start = c.start, end = start + length;
    const uint64_t head_block = (start & 0xFFF) ? (start & ~0xFFFull) : UINT64_MAX;
    const uint64_t tail_block = (end & 0xFFF) ? (end & ~0xFFFull) : UINT64_MAX;
    for (uint64_t a = start; a < end; ++a) {
        const uint64_t block = a & ~0xFFFull;
        const bool merged = block == head_block || block == tail_block;
        const size_t i = size_t(a - start);
        out[a] = merged && i < image.size() ? image[i] : 0xFF;
    }
    return out;
}

class RangeTable : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeTable, ErasesAndBytes) {
    const RangeCase& c = GetParam();
    FlashBench bench;
    const std::vector<uint8_t> before = bench.prefill(kFlashBytes);
    std::vector<uint8_t> image;
    if (c.with_image) {
        image = image_bytes(size_t(c.length));
        bench.job.m_slots[0].assign(image.data(), image.size(), image.size());
    }
    uint64_t length = uint32_t(c.length);
    if (c.secure_writer) {
        bench.job.m_sm_dl_file = "writer.bin";
        length = (length + 31) / 32 * 34;
    }
    ImageEntry entry;
    entry.start = c.start;
    entry.length = c.length;
    bench.job.m_images.push_back(entry);

    EXPECT_TRUE(bench.chip.erase_image_range(&bench.job, &bench.record, &entry, 0, 0));
    EXPECT_EQ(describe(bench.sim_chip->erases()), describe(c.erases));

    const std::vector<uint8_t> after = bench.sim_chip->flash_bytes(0, kFlashBytes);
    const std::vector<uint8_t> want = expected_flash(before, c, length, image);
    auto [got_it, want_it] = std::mismatch(after.begin(), after.end(), want.begin());
    EXPECT_TRUE(got_it == after.end()) << "first wrong byte at 0x" << std::hex << (got_it - after.begin());
    // The link is back at the working rate on both ends.
    EXPECT_EQ(bench.sim_chip->uart_baud(), bench.job.m_baudrate);
    EXPECT_EQ(bench.job.m_uart.m_baud, bench.job.m_baudrate);
    EXPECT_EQ(bench.chip.reconnects, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RangeTable,
    ::testing::Values(
        RangeCase{"OneAlignedBlock", 0x11000, 0x1000, false, {erase4k(0x11000)}},
        RangeCase{"EmptyAligned", 0x11000, 0, false, {}},
        RangeCase{"EmptyUnaligned", 0x11800, 0, true, {}},
        RangeCase{"ShortAtBlockStartIsTailOnly", 0x11000, 0x800, true, {erase4k(0x11000)}},
        RangeCase{"BigBlocksThenTail", 0x10000, 0x30100, true,
                  {erase64k(0x10000), erase64k(0x20000), erase64k(0x30000), erase4k(0x40000)}},
        RangeCase{"HeadAndTailNoMiddle", 0x1F800, 0x1100, true, {erase4k(0x1F000), erase4k(0x20000)}},
        RangeCase{"InsideOneBlock", 0x1F800, 0x400, true, {erase4k(0x1F000)}},
        RangeCase{"EndsOnItsBlockEnd", 0x1F800, 0x800, true, {erase4k(0x1F000)}},
        // At most one block long, yet over a block boundary: both blocks.
        RangeCase{"OneBlockLongAcrossBoundary", 0x1F800, 0x1000, true, {erase4k(0x1F000), erase4k(0x20000)}},
        RangeCase{"ShortAcrossBoundaryErase", 0x1FF00, 0x200, false, {erase4k(0x1F000), erase4k(0x20000)}},
        // Past the next 64 KiB boundary: 4 KiB erases up to it first.
        RangeCase{"AlignmentPhase", 0x11000, 0x21000, false,
                  joined({erase4k_run(0x11000, 0x20000), {erase64k(0x20000), erase4k(0x30000), erase4k(0x31000)}})},
        // Ending exactly on the boundary: no alignment phase, the same erases.
        RangeCase{"UpToBoundary", 0x11000, 0xF000, false, erase4k_run(0x11000, 0x20000)},
        RangeCase{"HeadAlignmentBigTail", 0x11800, 0x20000, true,
                  joined({{erase4k(0x11000)}, erase4k_run(0x12000, 0x20000),
                          {erase64k(0x20000), erase4k(0x30000), erase4k(0x31000)}})},
        // The secure writer stores 34 bytes per 32: 0x1000 bytes take 0x1100.
        RangeCase{"SecureWriterLength", 0x10000, 0x1000, false, {erase4k(0x10000), erase4k(0x11000)}, true}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

TEST(EraseRange, MissingArgumentsFailAtOnce) {
    FlashBench bench;
    ImageEntry entry;
    entry.start = 0x10000;
    entry.length = 0x1000;
    EXPECT_FALSE(bench.chip.erase_image_range(nullptr, &bench.record, &entry, 0, 0));
    EXPECT_FALSE(bench.chip.erase_image_range(&bench.job, nullptr, &entry, 0, 0));
    EXPECT_FALSE(bench.chip.erase_image_range(&bench.job, &bench.record, nullptr, 0, 0));
    EXPECT_FALSE(bench.chip.erase_image_range(&bench.job, &bench.record, &entry, Download::kImageSlots, 0));
    EXPECT_TRUE(bench.command_lines().empty());
}

TEST(EraseRange, RangePastTheAddressSpaceIsRefused) {
    FlashBench bench;
    ConsoleCapture log;
    ImageEntry entry;
    entry.start = 0xFFFFF000;
    entry.length = 0x2000;
    EXPECT_FALSE(bench.chip.erase_image_range(&bench.job, &bench.record, &entry, 0, 0));
    EXPECT_TRUE(bench.command_lines().empty());
    EXPECT_TRUE(log.has("runs past the 4 GiB address space"));
}

TEST(EraseRange, StoppedJobErasesNothing) {
    FlashBench bench;
    bench.job.m_stop = 1;
    for (uint32_t start : {0x10000u, 0x10800u, 0x11000u}) {
        ImageEntry entry;
        entry.start = start;
        entry.length = 0x20000;
        EXPECT_FALSE(bench.chip.erase_image_range(&bench.job, &bench.record, &entry, 0, 0)) << start;
    }
    EXPECT_TRUE(bench.sim_chip->erases().empty());
}

TEST(EraseRange, MessagesOfTheAlignedPath) {
    FlashBench bench;
    ConsoleCapture log;
    ImageEntry entry;
    entry.start = 0x1F800;
    entry.length = 0x11000;
    ASSERT_TRUE(bench.chip.erase_image_range(&bench.job, &bench.record, &entry, 0, 0));
    const std::string text = log.text();
    for (const char* line : {"Aligned Flash Address\n\n", "Start 64K Erase\n", "End 64K Erase\n",
                             "Handling file end\n", "Handled file end\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(describe(bench.sim_chip->erases()),
              describe({erase4k(0x1F000), erase64k(0x20000), erase4k(0x30000)}));
}

}  // namespace
