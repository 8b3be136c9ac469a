#include <gtest/gtest.h>

#include <string>

#include "frontend/security_config.h"
#include "support/util.h"
#include "temp_files.h"

namespace {

class EfuseFile : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(files.ok()); }

    EfuseImage read_text(const std::string& text) {
        EfuseImage image;
        image.fill(0xEE);  // every byte must be written
        read_efuse_config(files.write("efuse.ini", text), image);
        return image;
    }

    TempFiles files;
};

EfuseImage bytes(std::initializer_list<std::pair<size_t, uint8_t>> set) {
    EfuseImage image{};
    for (auto [at, value] : set) image[at] = value;
    return image;
}

TEST_F(EfuseFile, FillsEveryFieldOfTheImage) {
    EfuseImage image = read_text(
        "[efuse_cfg]\r\n"
        "coef1=0x12345678\r\n"
        "coef2=10\r\n"
        "coef3=0x0x1F\r\n"
        "UID=0102030405060708\r\n"
        "MAC=A1b2C3d4E5f6\r\n"
        "raw=3Fxyz\r\n"
        "disJtag=1\r\n"
        "disSpiFlash=0\r\n"
        "disWriteMAC=0x1\r\n"
        "other=5\r\n");
    EfuseImage want = bytes({
        {0, 0x78}, {1, 0x56}, {2, 0x34}, {3, 0x12},  // coef1, little-endian
        {4, 10},                                     // coef2
        {8, 0x1F},                                   // coef3; coef4 missing
        {16, 0x08}, {17, 0x07}, {18, 0x06}, {19, 0x05}, {20, 0x04}, {21, 0x03}, {22, 0x02}, {23, 0x01},
        {24, 0xF6}, {25, 0xE5}, {26, 0xD4}, {27, 0xC3}, {28, 0xB2}, {29, 0xA1},
        {30, 0x3F},
        {31, 0x82},
    });
    EXPECT_EQ(image, want);
}

TEST_F(EfuseFile, EachFlagKeySetsItsBit) {
    const std::pair<const char*, uint8_t> flags[] = {
        {"disJtag", 0x80},           {"disSpiFlash", 0x40},        {"enEncryptWord", 0x20}, {"disReadEncryptWord", 0x10},
        {"disWriteEncryptWord", 0x08}, {"disWriteUID", 0x04}, {"disWriteMAC", 0x02},   {"disWriteEfuse", 0x01},
    };
    for (auto [key, bit] : flags) {
        SCOPED_TRACE(key);
        EXPECT_EQ(read_text(std::string("[efuse_cfg]\n") + key + "=0x10\n")[31], bit);
        EXPECT_EQ(read_text(std::string("[efuse_cfg]\n") + key + "=0\n")[31], 0);
    }
}

struct PieceCase {
    const char* value;
    EfuseImage want;
};

TEST_F(EfuseFile, ShortAndOddUidValues) {
    const PieceCase cases[] = {
        {"0", bytes({})},
        {"A", bytes({{23, 0x0A}})},
        {"12345", bytes({{23, 0x12}, {22, 0x34}, {21, 0x05}})},
        {"zz11", bytes({{22, 0x11}})},  // a piece that is not hex reads as 0
        {"1z", bytes({{23, 0x01}})},
        {"0102030405060708FFFF", bytes({{16, 8}, {17, 7}, {18, 6}, {19, 5}, {20, 4}, {21, 3}, {22, 2}, {23, 1}})},
        {"", bytes({})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(read_text(std::string("[efuse_cfg]\nUID=") + c.value + "\n"), c.want);
    }
}

TEST_F(EfuseFile, LineEndsAndSections) {
    const EfuseImage uid_only = bytes({{23, 0x11}, {22, 0x22}});
    EXPECT_EQ(read_text("[efuse_cfg]\nUID=1122\n"), uid_only);
    EXPECT_EQ(read_text("[efuse_cfg]\rUID=1122\r"), uid_only);
    EXPECT_EQ(read_text("[efuse_cfg]\r\nUID=1122\r\n"), uid_only);
    EXPECT_EQ(read_text("[efuse_cfg]UID=1122"), uid_only);  // no line end at all
    // Keys of another section do not count.
    EXPECT_EQ(read_text("[other]\nUID=99\nraw=55\n[efuse_cfg]\nUID=1122\n[later]\nraw=66\n"), uid_only);
    EXPECT_EQ(read_text("[other]\nUID=1122\n"), bytes({}));
}

// "UID=" and "MAC=" also occur inside "disWriteUID=" and "disWriteMAC=": with
// the flags written first, the flag values would be burnt as UID and MAC.
TEST_F(EfuseFile, FlagKeysDoNotShadowUidAndMac) {
    EfuseImage image = read_text("[efuse_cfg]\ndisWriteUID=1\ndisWriteMAC=1\nUID=0102030405060708\nMAC=A1B2C3D4E5F6\n");
    EXPECT_EQ(image, bytes({{16, 8}, {17, 7}, {18, 6}, {19, 5}, {20, 4}, {21, 3}, {22, 2}, {23, 1}, {24, 0xF6},
                            {25, 0xE5}, {26, 0xD4}, {27, 0xC3}, {28, 0xB2}, {29, 0xA1}, {31, 0x06}}));
    // A missing UID must not take the flag's value either.
    EXPECT_EQ(read_text("[efuse_cfg]\ndisWriteUID=1\n"), bytes({{31, 0x04}}));
}

TEST_F(EfuseFile, OutOfRangeCoefficientsKeepTheirLow32Bits) {
    const char* values[] = {"-1", "0x123456789", "99999999999999999999999999"};
    for (const char* value : values) {
        SCOPED_TRACE(value);
        uint32_t word = static_cast<uint32_t>(parse_number(value));
        EfuseImage image = read_text(std::string("[efuse_cfg]\ncoef4=") + value + "\n");
        EXPECT_EQ(image, bytes({{12, uint8_t(word)}, {13, uint8_t(word >> 8)}, {14, uint8_t(word >> 16)},
                                {15, uint8_t(word >> 24)}}));
    }
    EXPECT_EQ(read_text("[efuse_cfg]\ncoef4=-1\n")[15], 0xFF);
}

TEST_F(EfuseFile, UnreadablePathGivesZeros) {
    const std::string paths[] = {files.dir() + "/missing.ini", files.dir()};
    for (const auto& path : paths) {
        EfuseImage image;
        image.fill(0xEE);
        read_efuse_config(path, image);
        EXPECT_EQ(image, bytes({})) << path;
    }
}

}  // namespace
