// Erases through the real program: exactly the bytes of each range read
// 0xFF afterwards, also where a range starts or ends inside a 4 KiB block,
// and every other byte is what it was.
#include "e2e_fixture.h"

namespace e2e {
namespace {

struct Range {
    uint32_t start;
    uint32_t length;
};

struct EraseCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<Range> erased;  // empty with whole_chip
    bool whole_chip = false;
    // "Begin EraseFlash" lines: one per entry.
    size_t entries = 1;
};

void PrintTo(const EraseCase& c, std::ostream* os) { *os << c.name; }

// The file an erase may take its range from: 0x1234 bytes, 0x1300 once padded.
constexpr uint32_t kFileBytes = 0x1234;

class Erase : public E2eTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(Erase, OnlyTheRangesAreErased) {
    const EraseCase& c = GetParam();
    prefill();
    ASSERT_TRUE(write_file(dir / "app.bin", random_bytes(kFileBytes, 3)));
    Bytes expected = c.whole_chip ? Bytes(kFlashSize, 0xFF) : before;
    for (const Range& r : c.erased) fill(expected, r.start, r.length, 0xFF);

    ASSERT_TRUE(start_chip());
    const ProgramResult run = loader("erase", c.args);
    const Bytes flash = stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find("Erasing Flash OK                             \n"), std::string::npos);
    EXPECT_NE(run.out.find(kDone), std::string::npos) << "done banner";
    EXPECT_EQ(count_of(run.out, "Begin EraseFlash"), c.entries);
    EXPECT_TRUE(same_bytes(flash, expected));
}

const EraseCase kErases[] = {
    {"RangeInsideTwoBlocks", {"-f", "11800-1000"}, {{0x11800, 0x1000}}},
    {"RangeListAcrossA64KiBBoundary",
     {"-f", "20100-2e00,3f0f0-20f20,50010-10"},
     {{0x20100, 0x2e00}, {0x3f0f0, 0x20f20}, {0x50010, 0x10}},
     false,
     3},
    {"RangeOfAFile", {"-i", "app.bin", "-s", "11800-2345"}, {{0x11800, 0x2345}}},
    // Without a length the file's padded size is the length.
    {"FileWithoutLength", {"-i", "app.bin", "-s", "12345"}, {{0x12345, 0x1300}}},
    {"WholeChip", {"-c"}, {}, true},
    // -c with -f: one whole-chip entry, the range list is not looked at.
    {"WholeChipIgnoresRangeList", {"-c", "-f", "1000-1000,5000-1000"}, {}, true},
    // -c twice does not make the single whole-chip entry: each range of the
    // list becomes an entry, and the chip-erase flag erases the whole chip
    // for each of them.
    {"ChipEraseFlagTwiceTakesTheRangeList", {"-c", "-c", "-f", "1000-1000,5000-1000"}, {}, true, 2},
};

INSTANTIATE_TEST_SUITE_P(E2e, Erase, ::testing::ValuesIn(kErases),
                         [](const ::testing::TestParamInfo<EraseCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
