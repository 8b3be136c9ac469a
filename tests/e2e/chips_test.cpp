// The chips beside the 5810 through the real program: download, read and
// erase byte-exact on each, and the block protection taken off and put back
// around a download.
#include <cstring>

#include "e2e_fixture.h"

namespace e2e {
namespace {

struct Chip {
    const char* name;
    const char* id;
};

const Chip kChips[] = {
    {"Chip5810N", "0x5810C"},
    {"Chip5820", "0x5820"},
    {"Chip5830", "0x5830"},
    // An id the table does not know runs as a 5810N.
    {"UnknownId", "0x5811"},
};

class Chips : public E2eTest, public ::testing::WithParamInterface<Chip> {
protected:
    std::vector<std::string> chip_args(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"--chip-id", GetParam().id});
        return extra;
    }
    // The status registers the chip's state holds ("sr1 0x1C" ...).
    std::string status_registers() { return read_text(dir / "state" / "flash.txt"); }
};

// Images that end inside a 4 KiB sector, a MAC and a name: every byte
// outside them keeps its random pre-fill, also the bytes after an image's
// end in its last sector (these chips check every sector as they write it).
TEST_P(Chips, DownloadWritesOnlyTheImagesMacAndName) {
    prefill();
    Bytes expected = before;
    const Bytes boot = random_bytes(0x2345, 1);
    const Bytes app = random_bytes(0x5A10, 2);
    ASSERT_TRUE(write_file(dir / "boot.bin", boot));
    ASSERT_TRUE(write_file(dir / "app.bin", app));
    Bytes boot_written = boot, app_written = app;
    boot_written.resize(padded(uint32_t(boot.size())), 0xFF);
    app_written.resize(padded(uint32_t(app.size())), 0xFF);
    put(expected, 0x2000, boot_written);
    put(expected, 0x12300, app_written);
    put(expected, 0x1e000, {0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa});
    put(expected, 0x1e010, {'q', 'u', 'a', 'r', 'n', 0, 0, 0});

    ASSERT_TRUE(start_chip(chip_args()));
    const ProgramResult run = loader("download", {"--mainBin-multi", "boot.bin@2000,app.bin@12300", "-b", "2000000",
                                                  "--mac", "aabbccddeeff@0x1e000-6", "--dev-name",
                                                  "quarn@0x1e010-8"});
    const Bytes flash = stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find("Unprotected Flash ->pass"), std::string::npos);
    EXPECT_NE(run.out.find("Enprotect pass"), std::string::npos);
    EXPECT_NE(run.out.find(kDone), std::string::npos);
    EXPECT_TRUE(same_bytes(flash, expected));
}

// A flash whose block protection is set at power-on is unprotected for the
// download and protected again afterwards.
TEST_P(Chips, ProtectedFlashIsUnprotectedAndProtectedAgain) {
    prefill();
    Bytes expected = before;
    const Bytes app = random_bytes(0x3000, 5);
    ASSERT_TRUE(write_file(dir / "app.bin", app));
    put(expected, 0x20000, app);

    ASSERT_TRUE(start_chip(chip_args({"--flash-sr", "0x1C"})));
    const ProgramResult run = loader("download", {"-i", "app.bin", "-s", "20000"});
    const Bytes flash = stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(same_bytes(flash, expected));
    // Bits 2 to 4 of the first status register hold the protected blocks.
    EXPECT_NE(status_registers().find("sr1 0x1C"), std::string::npos) << status_registers();
}

TEST_P(Chips, ReadCopiesTheRange) {
    prefill();
    ASSERT_TRUE(start_chip(chip_args()));
    const ProgramResult run = loader("read", {"-i", "dump.bin", "-s", "13456-2100", "-c", "1", "-b", "921600"});
    stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(same_bytes(read_file(dir / "dump.bin"), Bytes(before.begin() + 0x13456, before.begin() + 0x15556)));
}

TEST_P(Chips, EraseClearsExactlyTheRangesOfAProtectedFlash) {
    prefill();
    Bytes expected = before;
    fill(expected, 0x11800, 0x1000, 0xFF);
    fill(expected, 0x3f0f0, 0x20f20, 0xFF);

    ASSERT_TRUE(start_chip(chip_args({"--flash-sr", "0x1C"})));
    const ProgramResult run = loader("erase", {"-f", "11800-1000,3f0f0-20f20"});
    const Bytes flash = stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find("Unprotected Flash ->pass"), std::string::npos);
    EXPECT_TRUE(same_bytes(flash, expected));
    // An erase leaves the protection off.
    EXPECT_NE(status_registers().find("sr1 0x00"), std::string::npos) << status_registers();
}

INSTANTIATE_TEST_SUITE_P(E2e, Chips, ::testing::ValuesIn(kChips),
                         [](const ::testing::TestParamInfo<Chip>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
