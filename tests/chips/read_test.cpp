// The read flow: flash ranges into files, under default names or the path as
// given; a file that cannot be written fails the read and names the path.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "chip_fixture.h"

namespace {

namespace fs = std::filesystem;

class ReadTest : public ChipFixture {
protected:
    void add_range(const std::string& path, uint32_t start, uint32_t length, bool selected = true) {
        ImageEntry e;
        e.path = path;
        e.start = start;
        e.length = int32_t(length);
        e.selected = selected;
        job.m_images.push_back(e);
    }
    bool run() {
        JobRecord record = record_of_job();
        return chip.read_images(&job, &record);
    }
    static Bytes file_bytes(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    // Files in dir whose names start with prefix.
    static std::vector<fs::path> files_starting(const fs::path& dir, const std::string& prefix) {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path());
        return out;
    }
};

TEST_F(ReadTest, DefaultNamesCarryDateTimeStartAndLength) {
    start();
    const fs::path dir = temp_dir();
    add_range((dir / "app.bin").string(), 0x11000, 0x1800);
    add_range((dir / "skipped.bin").string(), 0x13000, 0x1000, false);
    add_range((dir / "ab").string(), 0x20000, 0x1000);
    job.m_force_create = 0;
    ASSERT_TRUE(run()) << console_text();

    const auto app = files_starting(dir, "app_dump_");
    ASSERT_EQ(app.size(), 1u);
    const std::string name = app[0].filename().string();
    // app_dump_YYYYMMDD_hhmmss_0x11000_0x1800.bin
    ASSERT_EQ(name.size(), std::string("app_dump_20240305_140709_0x11000_0x1800.bin").size()) << name;
    EXPECT_EQ(name.substr(name.size() - 19), "_0x11000_0x1800.bin") << name;
    for (size_t i : {9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 18u, 19u, 20u, 21u, 22u, 23u})
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(name[i]))) << name;
    EXPECT_EQ(name[17], '_');
    EXPECT_EQ(file_bytes(app[0]), flash(0x11000, 0x1800));

    // A name without an extension keeps its directory and its name whole.
    const auto ab = files_starting(dir, "ab_dump_");
    ASSERT_EQ(ab.size(), 1u);
    EXPECT_EQ(file_bytes(ab[0]), flash(0x20000, 0x1000));
    EXPECT_TRUE(files_starting(dir, "skipped").empty());

    const std::string log = console_text();
    // The index counts the unselected entry.
    EXPECT_NE(log.find("[ 2 ] Successfully, file path : " + ab[0].string()), std::string::npos) << log;
    EXPECT_EQ(count_commands("FlashRead4K"), 3u);
}

TEST_F(ReadTest, ForceCreateWritesThePathAsGiven) {
    start();
    const fs::path out = temp_dir() / "dump.bin";
    add_range(out.string(), 0x10000, 0x2000);
    add_range(out.string(), 0x18000, 0x1000);
    job.m_force_create = 1;
    ASSERT_TRUE(run());
    // The second range replaces the first file.
    EXPECT_EQ(file_bytes(out), flash(0x18000, 0x1000));
    EXPECT_EQ(std::distance(fs::directory_iterator(temp_dir()), fs::directory_iterator{}), 1);
}

// Data the user asked for must not vanish behind a success.
class ReadUnwritable : public ReadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReadUnwritable, FailsAndNamesThePath) {
    start();
    std::string path = GetParam();
    if (path.rfind("/dev/", 0) != 0) path = (temp_dir() / path).string();
    if (path.rfind("/dev/", 0) == 0 && !fs::exists(path)) GTEST_SKIP() << path << " is not there";
    add_range(path, 0x11000, 0x1000);
    job.m_force_create = 1;
    EXPECT_FALSE(run());
    const std::string log = console_text();
    EXPECT_NE(log.find(path), std::string::npos) << log;
    EXPECT_EQ(log.find("Successfully"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Paths, ReadUnwritable,
                         ::testing::Values("no_such_dir/out.bin",  // cannot be created
                                           "/dev/full"));          // cannot be written whole

// The chip falls silent after the first block; once the retries are used up
// the link is re-established and the read goes on.
TEST_F(ReadTest, SilentChipIsReconnectedOnce) {
    sim::FaultConfig f;
    f.silent_after_frames = 1;
    start(with_faults(f));
    chip.retry_limit = 1;
    const fs::path out = temp_dir() / "r.bin";
    add_range(out.string(), 0x11000, 0x2000);
    job.m_force_create = 1;
    ASSERT_TRUE(run()) << console_text();
    EXPECT_EQ(file_bytes(out), flash(0x11000, 0x2000));
}

TEST_F(ReadTest, StopFlagCancels) {
    start();
    add_range((temp_dir() / "x.bin").string(), 0x11000, 0x1000);
    job.m_stop = 1;
    EXPECT_FALSE(run());
    EXPECT_NE(console_text().find("User cancel"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(temp_dir()));
}

}  // namespace
