#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "frontend/arg_formats.h"
#include "temp_dir.h"

namespace {

const char* const kEraseEmpty =
    "--freedom-erase, at least need 2 parameters ,such as [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";
const char* const kReadEmpty =
    "--freedom-read, at least need 2 parameters ,such as [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";
const char* const kEraseBadItem =
    "--freedom-erase, at least need 2 parameters ,such as  [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";
const char* const kReadBadItem =
    "--freedom-read, at least need 2 parameters ,such as  [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";

// Found independently of the code under test.
std::string program_dir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
}

struct Expected {
    std::string path;
    uint32_t start;
    int32_t length;
};

class RangeListTest : public ::testing::Test {
protected:
    RangeListResult run(const std::string& text, RangeKind kind, const std::string& target = "") {
        testing::internal::CaptureStdout();
        RangeListResult r = parse_range_list(text, kind, target);
        out_ = testing::internal::GetCapturedStdout();
        return r;
    }

    static void expect_entries(const RangeListResult& r, const std::vector<Expected>& want) {
        ASSERT_EQ(r.entries.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(r.entries[i].selected);
            EXPECT_EQ(r.entries[i].path, want[i].path);
            EXPECT_EQ(r.entries[i].start, want[i].start);
            EXPECT_EQ(r.entries[i].length, want[i].length);
            EXPECT_EQ(r.entries[i].crc, 0u);
        }
    }

    TempDir tmp_;
    std::string out_;
};

struct ListCase {
    const char* text;
    RangeKind kind;
    std::vector<Expected> entries;
    int items;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class RangeListTable : public RangeListTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(RangeListTable, Reads) {
    const ListCase& c = GetParam();
    RangeListResult r = run(c.text, c.kind);
    EXPECT_TRUE(r.ok) << out_;
    EXPECT_EQ(out_, "");
    EXPECT_EQ(r.items, c.items);
    std::vector<Expected> want = c.entries;
    for (Expected& e : want) {
        e.path = program_dir() + e.path;
    }
    expect_entries(r, want);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RangeListTable,
    ::testing::Values(
        ListCase{"0-10000", RangeKind::erase, {{"x1.bin", 0, 0x10000}}, 1},
        ListCase{"0-10000", RangeKind::read, {{"x1.bin", 0, 0x10000}}, 1},
        // Zero-length items are read but not taken; numbering counts them.
        ListCase{"0-1000,2000-0", RangeKind::erase, {{"x1.bin", 0, 0x1000}}, 2},
        ListCase{"2000-0,0-1000", RangeKind::erase, {{"x2.bin", 0, 0x1000}}, 2},
        ListCase{"0x10000-0x1000,20000-10000", RangeKind::erase,
                 {{"x1.bin", 0x10000, 0x1000}, {"x2.bin", 0x20000, 0x10000}}, 2},
        // A space after the comma must not turn 0x20000 into address 0.
        ListCase{"0x10000-0x1000, 20000-10000", RangeKind::erase,
                 {{"x1.bin", 0x10000, 0x1000}, {"x2.bin", 0x20000, 0x10000}}, 2},
        ListCase{" 10000 - 1000 ,\t20000-10000 ", RangeKind::read,
                 {{"x1.bin", 0x10000, 0x1000}, {"x2.bin", 0x20000, 0x10000}}, 2},
        ListCase{"0X11000-0X1000", RangeKind::erase, {{"x1.bin", 0x11000, 0x1000}}, 1},
        // Erase: "@" at position 0 means no name.
        ListCase{"@0-1000", RangeKind::erase, {{"x1.bin", 0, 0x1000}}, 1},
        // A name of a missing file goes beside the program with ".bin" added.
        ListCase{"tesk_no_such_range_file@0-10000", RangeKind::erase,
                 {{"tesk_no_such_range_file.bin", 0, 0x10000}}, 1},
        ListCase{"x-1.bin@0-10000", RangeKind::erase, {{"x-1.bin.bin", 0, 0x10000}}, 1},
        ListCase{"x-1.bin@0-10000", RangeKind::read, {{"x-1.bin.bin", 0, 0x10000}}, 1},
        // A trailing comma adds nothing.
        ListCase{"0-1000,", RangeKind::read, {{"x1.bin", 0, 0x1000}}, 1}));

struct FailCase {
    const char* text;
    RangeKind kind;
    const char* message;
    size_t kept;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class RangeListFailures : public RangeListTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(RangeListFailures, PrintsAndFails) {
    const FailCase& c = GetParam();
    RangeListResult r = run(c.text, c.kind);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(out_, c.message);
    EXPECT_EQ(r.entries.size(), c.kept);
}

INSTANTIATE_TEST_SUITE_P(Lists, RangeListFailures,
                         ::testing::Values(FailCase{"", RangeKind::erase, kEraseEmpty, 0},
                                           FailCase{"", RangeKind::read, kReadEmpty, 0},
                                           FailCase{"x-1.bin@0", RangeKind::erase, kEraseBadItem, 0},
                                           FailCase{"x-1.bin@0", RangeKind::read, kReadBadItem, 0},
                                           FailCase{"10000", RangeKind::erase, kEraseBadItem, 0},
                                           FailCase{",0-1000", RangeKind::read, kReadBadItem, 0},
                                           // Entries before the bad item stay.
                                           FailCase{"0-1000,5000", RangeKind::erase, kEraseBadItem, 1},
                                           FailCase{"0-1000,,0-2000", RangeKind::read, kReadBadItem, 1}));

TEST_F(RangeListTest, EraseNamesAnExistingFile) {
    std::string name = tmp_.write("erase_me.bin", 16);
    RangeListResult r = run(name + "@1000-2000, @3000-1000", RangeKind::erase);
    ASSERT_TRUE(r.ok) << out_;
    expect_entries(r, {{name, 0x1000, 0x2000}, {program_dir() + "x2.bin", 0x3000, 0x1000}});
}

TEST_F(RangeListTest, ReadNamesAnExistingFile) {
    std::string name = tmp_.write("dump.bin", 16);
    RangeListResult r = run(" " + name + "@100-200", RangeKind::read);
    ASSERT_TRUE(r.ok) << out_;
    expect_entries(r, {{name, 0x100, 0x200}});
}

TEST_F(RangeListTest, ReadWithTargetCreatesItsDirectory) {
    const std::string target = tmp_.file("sub/out.bin");
    std::string existing = tmp_.write("dump.bin", 16);
    RangeListResult r =
        run("0-1000," + tmp_.file("missing.bin") + "@2000-1000," + existing + "@4000-100", RangeKind::read, target);
    ASSERT_TRUE(r.ok) << out_;
    EXPECT_TRUE(std::filesystem::is_directory(tmp_.file("sub")));
    // Unnamed and missing-file ranges go to the target; an existing file keeps its name.
    expect_entries(r, {{target, 0, 0x1000}, {target, 0x2000, 0x1000}, {existing, 0x4000, 0x100}});
}

TEST_F(RangeListTest, ReadTargetDirectoryFailureEndsTheList) {
    // Only one directory level is created, so this cannot be made.
    const std::string target = tmp_.file("a/b/out.bin");
    RangeListResult r = run("0-1000", RangeKind::read, target);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.entries.empty());
    // The directory routine prints its own message; the list adds none.
    EXPECT_EQ(out_, tmp_.file("a/b") + " : create directory fail\r\n");
}

}  // namespace
