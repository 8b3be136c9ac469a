// Reads through the real program: every file holds exactly the flash bytes
// of its range, under the name the user gave (-c 1) or the default name with
// the date and time, and the flash itself is left as it was.
#include <regex>

#include "e2e_fixture.h"

namespace e2e {
namespace {

struct ReadFile {
    // Relative to the test directory. A "*" stands for the date and time of
    // a default name (_YYYYMMDD_HHMMSS).
    const char* name;
    uint32_t start;
    uint32_t length;
};

struct ReadCase {
    const char* name;
    // The files go beside the program: run a copy of it in dir/bin.
    bool program_copy;
    // "{dir}" stands for the test directory.
    std::vector<std::string> args;
    std::vector<ReadFile> files;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

// The one file in the directory of `pattern` whose name matches it.
fs::path find_file(const fs::path& dir, const std::string& pattern, std::string& problem) {
    const fs::path relative(pattern);
    const fs::path folder = dir / relative.parent_path();
    std::string expression;
    for (char c : relative.filename().string()) {
        if (c == '*')
            expression += "[0-9]{8}_[0-9]{6}";
        else if (c == '.')
            expression += "\\.";
        else
            expression += c;
    }
    const std::regex re(expression);
    std::vector<fs::path> found;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec))
        if (std::regex_match(e.path().filename().string(), re)) found.push_back(e.path());
    if (found.size() != 1) {
        problem = std::to_string(found.size()) + " files match " + pattern;
        return {};
    }
    return found[0];
}

class Read : public E2eTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(Read, FilesHoldTheFlashBytesOfTheirRanges) {
    const ReadCase& c = GetParam();
    prefill();
    // An existing file the read may name (its contents do not matter).
    const Bytes existing = random_bytes(0x321, 7);
    ASSERT_TRUE(write_file(dir / "exists.bin", existing));
    if (c.program_copy) program_copy();

    std::vector<std::string> args;
    for (std::string arg : c.args) {
        const size_t at = arg.find("{dir}");
        if (at != std::string::npos) arg.replace(at, 5, dir.string());
        args.push_back(arg);
    }
    ASSERT_TRUE(start_chip());
    const ProgramResult run = loader("read", args);
    const Bytes flash = stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find("Read Flash OK                             \n"), std::string::npos);
    EXPECT_NE(run.out.find(kDone), std::string::npos) << "done banner";
    for (const ReadFile& f : c.files) {
        std::string problem;
        const fs::path path = find_file(dir, f.name, problem);
        if (path.empty()) {
            ADD_FAILURE() << problem << "\n" << describe(run);
            continue;
        }
        const Bytes want(before.begin() + f.start, before.begin() + f.start + f.length);
        EXPECT_TRUE(same_bytes(read_file(path), want)) << path;
    }
    bool overwritten = false;
    for (const ReadFile& f : c.files) overwritten = overwritten || std::string(f.name) == "exists.bin";
    if (!overwritten) {
        EXPECT_TRUE(same_bytes(read_file(dir / "exists.bin"), existing)) << "the named file changed";
    }
    EXPECT_TRUE(same_bytes(flash, before)) << "a read changed the flash";
}

const ReadCase kReads[] = {
    // The parent directory is created for -c 1.
    {"OneRangeUnderItsOwnName", false, {"-i", "out/one.bin", "-c", "1", "-s", "11800-1a00"},
     {{"out/one.bin", 0x11800, 0x1a00}}},
    {"OneRangeUnderTheDefaultName", false, {"-i", "exists.bin", "-s", "3000-1801"},
     {{"exists_dump_*_0x3000_0x1801.bin", 0x3000, 0x1801}}},
    // A named file that exists keeps its path; a name that does not, and a
    // range without a name, go to the program's directory.
    {"RangeListUnderTheirOwnNames", true,
     {"-f", "{dir}/exists.bin@4000-1000,first.bin@1000-800,1ff800-800", "-c", "1", "-b", "921600"},
     {{"exists.bin", 0x4000, 0x1000}, {"bin/first.bin.bin", 0x1000, 0x800}, {"bin/x3.bin", 0x1ff800, 0x800}}},
    {"RangeListUnderDefaultNames", true, {"-f", "{dir}/exists.bin@4000-1234,5000-2345"},
     {{"exists_dump_*_0x4000_0x1234.bin", 0x4000, 0x1234}, {"bin/x2_dump_*_0x5000_0x2345.bin", 0x5000, 0x2345}}},
};

INSTANTIATE_TEST_SUITE_P(E2e, Read, ::testing::ValuesIn(kReads),
                         [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
