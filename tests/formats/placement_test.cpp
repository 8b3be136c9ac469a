#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "frontend/arg_formats.h"

namespace {

struct PlacementCase {
    const char* text;
    const char* data;
    bool has_range;
    uint32_t address;
    uint32_t length;
};

void PrintTo(const PlacementCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class PlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementTest, Splits) {
    const PlacementCase& c = GetParam();
    Placement p;
    // Values the caller had before; kept when no range is given.
    p.address = 0xAAAA;
    p.length = 0xBB;
    ASSERT_TRUE(parse_placement(c.text, p)) << c.text;
    EXPECT_EQ(p.data, c.data);
    EXPECT_EQ(p.has_range, c.has_range);
    EXPECT_EQ(p.address, c.address);
    EXPECT_EQ(p.length, c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PlacementTest,
    ::testing::Values(
        PlacementCase{"aabbccddeeff@0x1e000-6", "aabbccddeeff", true, 0x1E000, 6},
        // The address is read as written: decimal without a prefix.
        PlacementCase{"aabbccddeeff@1e000-6", "aabbccddeeff", true, 1, 6},
        PlacementCase{"aabbccddeeff@122880-10", "aabbccddeeff", true, 122880, 0x10},
        PlacementCase{"aabbccddeeff@0X1E000-6", "aabbccddeeff", true, 0x1E000, 6},
        // The length is hexadecimal.
        PlacementCase{"mydev@0x1f000-20", "mydev", true, 0x1F000, 0x20},
        // Spaces around the numbers are ignored.
        PlacementCase{"aabbccddeeff@ 0x1e000 - 6 ", "aabbccddeeff", true, 0x1E000, 6},
        // No "-" after "@": address and length stay as they were.
        PlacementCase{"mydev@0x1000", "mydev", false, 0xAAAA, 0xBB},
        PlacementCase{"@0x10-2", "", true, 0x10, 2},
        // The first "@" splits; a device name keeps its inner text.
        PlacementCase{"my dev@0x10-2", "my dev", true, 0x10, 2}));

TEST(Placement, WithoutAtFails) {
    Placement p;
    EXPECT_FALSE(parse_placement("aabbccddeeff", p));
    EXPECT_FALSE(parse_placement("", p));
}

struct MacCase {
    const char* data;
    int stored;
    uint8_t bytes[6];
};

void PrintTo(const MacCase& c, std::ostream* os) { *os << '"' << c.data << '"'; }

class MacBytesTest : public ::testing::TestWithParam<MacCase> {};

TEST_P(MacBytesTest, Converts) {
    const MacCase& c = GetParam();
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(mac_data_to_bytes(c.data, mac), c.stored) << c.data;
    EXPECT_EQ(0, memcmp(mac, c.bytes, 6)) << c.data;
}

INSTANTIATE_TEST_SUITE_P(
    Data, MacBytesTest,
    ::testing::Values(MacCase{"aabbccddeeff", 6, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
                      MacCase{"001122334455", 6, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}},
                      // Ten digits: five bytes, the sixth keeps its value.
                      MacCase{"0a0b0c0d0e", 5, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x00}},
                      // An odd last digit is ignored.
                      MacCase{"123", 1, {0x12, 0, 0, 0, 0, 0}},
                      // Unreadable pairs read as far as they go.
                      MacCase{"1gzz", 2, {0x01, 0x00, 0, 0, 0, 0}},
                      MacCase{" AABBCCDDEEFF ", 6, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
                      MacCase{"", 0, {0, 0, 0, 0, 0, 0}}));

TEST(MacData, MoreThanTwelveDigitsRefused) {
    EXPECT_EQ(check_mac_data("aabbccddeeff"), 1);
    EXPECT_EQ(check_mac_data("aabbccddeef"), 1);
    EXPECT_EQ(check_mac_data(""), 1);

    testing::internal::CaptureStdout();
    int code = check_mac_data("aabbccddeeff0");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, -16);
    EXPECT_NE(out.find("aabbccddeeff0"), std::string::npos) << out;
    EXPECT_NE(out.find("12"), std::string::npos) << out;

    testing::internal::CaptureStdout();
    EXPECT_EQ(check_mac_data("0xaabbccddeeff"), -16);
    testing::internal::GetCapturedStdout();
}

TEST(DevName, ThirtyTwoOrMoreCharactersRefused) {
    const std::string longest(31, 'n');
    EXPECT_EQ(check_dev_name(longest), 1);
    EXPECT_EQ(check_dev_name(""), 1);

    const std::string too_long(32, 'n');
    testing::internal::CaptureStdout();
    int code = check_dev_name(too_long);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, -16);
    EXPECT_NE(out.find(too_long), std::string::npos) << out;
    EXPECT_NE(out.find("31"), std::string::npos) << out;
}

TEST(DevName, FieldIsZeroFilled) {
    char field[kDevNameMaxChars + 1];
    memset(field, 'Z', sizeof field);
    dev_name_to_field("dev", field);
    EXPECT_STREQ(field, "dev");
    for (size_t i = 3; i < sizeof field; ++i) {
        EXPECT_EQ(field[i], '\0') << i;
    }

    const std::string longest(31, 'n');
    dev_name_to_field(longest, field);
    EXPECT_EQ(std::string(field), longest);
    EXPECT_EQ(field[31], '\0');
}

}  // namespace
