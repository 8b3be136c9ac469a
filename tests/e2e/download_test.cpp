// Downloads through the real program: afterwards the chip's flash holds
// exactly the images, the MAC bytes and the device name, and every other byte
// is what was there before (or 0xFF after a chip erase).
#include <cstring>

#include "e2e_fixture.h"

namespace e2e {
namespace {

// How the images reach the command line.
enum class Given { single, list, package };

struct Image {
    const char* file;
    uint32_t size;     // bytes in the file
    uint32_t address;  // flash start
    uint32_t length;   // bytes to write; 0: the whole file
};

// Bytes the run places besides the images (MAC address, device name).
struct Patch {
    uint32_t address;
    Bytes bytes;
};

struct DownloadCase {
    const char* name;
    Given given;
    std::vector<Image> images;
    std::vector<std::string> extra;
    std::vector<Patch> patches;
    bool chip_erase = false;
};

// Image contents: random, with one all-0xFF sector where the image is large
// enough (such sectors are skipped, so the erase alone must leave them 0xFF).
Bytes image_bytes(const Image& image, uint32_t seed) {
    Bytes bytes = random_bytes(image.size, seed);
    if (image.size > 3 * 0x1000) std::memset(bytes.data() + 0x1000, 0xFF, 0x1000);
    return bytes;
}

// The packaged file: "quarn..." magic, big-endian record count at 18,
// 32-byte records from 32 (length at 0, address at 8), and each image's
// bytes at the offset that is also its flash address.
Bytes package(const std::vector<Image>& images, const std::vector<Bytes>& contents) {
    uint32_t size = 32 + 32 * uint32_t(images.size());
    for (const Image& image : images) size = std::max(size, image.address + image.size);
    Bytes file(size, 0);
    std::memcpy(file.data(), "quarn...", 8);
    file[18] = uint8_t(images.size() >> 8);
    file[19] = uint8_t(images.size());
    auto be32 = [&file](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) file[at + k] = uint8_t(v >> (24 - 8 * k));
    };
    for (size_t k = 0; k < images.size(); ++k) {
        be32(32 + 32 * k, images[k].size);
        be32(32 + 32 * k + 4, 0xDEADBEEF);  // not read
        be32(32 + 32 * k + 8, images[k].address);
        put(file, images[k].address, contents[k]);
    }
    return file;
}

Bytes text_bytes(const char* text, size_t length) {
    Bytes bytes(length, 0);
    std::memcpy(bytes.data(), text, std::min(length, std::strlen(text)));
    return bytes;
}

void PrintTo(const DownloadCase& c, std::ostream* os) { *os << c.name; }

class Download : public E2eTest, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(Download, FlashHoldsExactlyWhatWasWritten) {
    const DownloadCase& c = GetParam();
    prefill();
    Bytes expected = c.chip_erase ? Bytes(kFlashSize, 0xFF) : before;

    std::vector<Bytes> contents;
    for (size_t k = 0; k < c.images.size(); ++k) {
        const Image& image = c.images[k];
        contents.push_back(image_bytes(image, uint32_t(k + 1)));
        Bytes written(contents.back().begin(), contents.back().begin() + (image.length ? image.length : image.size));
        written.resize(padded(uint32_t(written.size())), 0xFF);
        put(expected, image.address, written);
    }
    for (const Patch& patch : c.patches) put(expected, patch.address, patch.bytes);

    std::vector<std::string> args;
    if (c.given == Given::package) {
        ASSERT_TRUE(write_file(dir / "package.bin", package(c.images, contents)));
        args = {"-i", "package.bin"};
    } else {
        std::string list;
        for (size_t k = 0; k < c.images.size(); ++k) {
            const Image& image = c.images[k];
            ASSERT_TRUE(write_file(dir / image.file, contents[k]));
            char item[96];
            if (image.length)
                std::snprintf(item, sizeof item, "%s@0x%x-%x", image.file, image.address, image.length);
            else
                std::snprintf(item, sizeof item, "%s@%x", image.file, image.address);
            list += (list.empty() ? "" : ",") + std::string(item);
        }
        if (c.given == Given::single) {
            char start[16];
            std::snprintf(start, sizeof start, "%x", c.images[0].address);
            args = {"-i", c.images[0].file, "-s", start};
        } else {
            args = {"--mainBin-multi", list};
        }
    }
    args.insert(args.end(), c.extra.begin(), c.extra.end());

    ASSERT_TRUE(start_chip());
    const ProgramResult run = loader("download", args);
    const Bytes flash = stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find("Writing Flash OK"), std::string::npos);
    EXPECT_NE(run.out.find(kDone), std::string::npos) << "done banner";
    EXPECT_TRUE(same_bytes(flash, expected));
}

const DownloadCase kDownloads[] = {
    {"OneImage", Given::single, {{"app.bin", 0x9A10, 0x11000, 0}}, {"-b", "2000000"}, {}},
    {"ImageList",
     Given::list,
     {{"boot.bin", 0x2345, 0x0, 0}, {"app.bin", 0x11F00, 0x11000, 0}, {"data.bin", 0x3000, 0x30800, 0x1680}},
     {"-b", "2000000"},
     {}},
    {"PackagedFile", Given::package, {{"", 0x1100, 0x2000, 0}, {"", 0x4567, 0x5000, 0}}, {}, {}},
    {"ChipErase",
     Given::list,
     {{"boot.bin", 0x1800, 0x0, 0}, {"app.bin", 0x5432, 0x11000, 0}},
     {"-c", "-b", "2000000"},
     {},
     true},
    {"MacAndNameLittleEndian",
     Given::single,
     {{"app.bin", 0x2000, 0x11000, 0}},
     {"-b", "2000000", "--mac", "aabbccddeeff@0x1e000-6", "--dev-name", "TeskOS@0x1e010-6"},
     {{0x1e000, {0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa}}, {0x1e010, text_bytes("TeskOS", 6)}}},
    {"MacBigEndianAndLongerNameField",
     Given::single,
     {{"app.bin", 0x1234, 0x11000, 0}},
     {"--big-endian", "--mac", "112233445566@0x1f7fa-6", "--dev-name", "abc@0x1f900-8"},
     {{0x1f7fa, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}}, {0x1f900, text_bytes("abc", 8)}}},
    {"ShortMacTakesTheLastBytesReversed",
     Given::single,
     {{"app.bin", 0x800, 0x11000, 0}},
     {"--mac", "aabbccddeeff@0x20ffc-4"},
     {{0x20ffc, {0xff, 0xee, 0xdd, 0xcc}}}},
};

INSTANTIATE_TEST_SUITE_P(E2e, Download, ::testing::ValuesIn(kDownloads),
                         [](const ::testing::TestParamInfo<DownloadCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
