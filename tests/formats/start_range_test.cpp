#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "frontend/arg_formats.h"

namespace {

struct StartCase {
    const char* text;
    uint32_t first;
    uint32_t second;
    bool has_second;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class StartRangeTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartRangeTest, Reads) {
    const StartCase& c = GetParam();
    StartRange r = parse_start_range(c.text);
    EXPECT_EQ(r.first, c.first) << '"' << c.text << '"';
    EXPECT_EQ(r.second, c.second) << '"' << c.text << '"';
    EXPECT_EQ(r.has_second, c.has_second) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StartRangeTest,
    ::testing::Values(
        StartCase{"0", 0, 0, false},
        StartCase{"0-10000", 0, 0x10000, true},
        StartCase{"11000", 0x11000, 0, false},
        StartCase{"10000", 0x10000, 0, false},
        StartCase{"0x10000", 0x10000, 0, false},
        StartCase{"0x1000-0x100", 0x1000, 0x100, true},
        // End before start: the driver compares, the parser only reads.
        StartCase{"10000-100", 0x10000, 0x100, true},
        // An upper-case prefix must not read as address 0.
        StartCase{"0X1000", 0x1000, 0, false},
        StartCase{"0X1000-0X20", 0x1000, 0x20, true},
        // Spaces around the numbers are ignored.
        StartCase{" 20000 - 10000 ", 0x20000, 0x10000, true},
        StartCase{"\t11000", 0x11000, 0, false},
        // Unreadable text reads as 0, never fails.
        StartCase{"", 0, 0, false},
        StartCase{"xyz", 0, 0, false},
        StartCase{"-1000", 0, 0x1000, true},
        StartCase{"1000-", 0x1000, 0, true},
        // Only the low 32 bits are kept.
        StartCase{"123456789", 0x23456789, 0, false}));

struct UartCase {
    const char* text;
    int code;
};

void PrintTo(const UartCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class UartTypeTest : public ::testing::TestWithParam<UartCase> {};

TEST_P(UartTypeTest, Code) { EXPECT_EQ(uart_type_code(GetParam().text), GetParam().code) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Texts, UartTypeTest,
                         ::testing::Values(UartCase{"CH340", 1}, UartCase{"CH340G", 1}, UartCase{"CP210", 2},
                                           UartCase{"CP2102", 2}, UartCase{"OTHER", 3}, UartCase{"", 1},
                                           UartCase{"cp210", 1}, UartCase{"other", 1}, UartCase{"FTDI", 1},
                                           // CH340 is tested before CP210, CP210 before OTHER.
                                           UartCase{"CP210-CH340", 1}, UartCase{"OTHER CP210", 2}));

}  // namespace
