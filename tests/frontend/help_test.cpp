// The short help texts of "<subcommand> -h" and the parser's generated help.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "program_run.h"

namespace {

std::string sp(int count) { return std::string(static_cast<std::size_t>(count), ' '); }

// Each option text is right-aligned in 60 characters and starts with a line
// break, so its padding trails the previous line; descriptions are
// right-aligned in 20 characters. The last entry has no line break.
// clang-format off
const std::string kDownloadHelp =
    std::string("download flash Help\n") +
    "Usage: download [OPTIONS]\n" +
    "Options:" + sp(14) + "\n" +
    "  -p,--portinfo INT:INT in [0 - 255] REQUIRED" + "input a serialport number" + sp(19) + "\n" +
    "  -b,--baudrate INT:INT in [0 - 3000000]" + "input a serialport baudrate" + sp(31) + "\n" +
    "  -s,--startaddress TEXT [0]" + "input startaddress,Hex data" + sp(42) + "\n" +
    "  -c,--chip-erase" + sp(7) + "set erase all" + sp(12) + "\n" +
    "  -i,--infile TEXT:FILE Excludes: --safe-infile" + "input a bin file path";

const std::string kEraseHelp =
    std::string("erase flash Help\n") +
    "Usage: erase [OPTIONS]\n" +
    "Options:" + sp(14) + "\n" +
    "  -p,--portinfo INT:INT in [0 - 255] REQUIRED" + "input a serialport number" + sp(19) + "\n" +
    "  -b,--baudrate INT:INT in [0 - 3000000]" + "input a serialport baudrate" + sp(14) + "\n" +
    "  -s,--startaddress TEXT [0]  Needs: --infile" + "input startaddress,Hex data,such as \"0\" or \"0-10000\"" + sp(42) + "\n" +
    "  -c,--chip-erase" + sp(7) + "set erase all" + sp(9) + "\n" +
    "  -f,--freedom-erase TEXT Excludes: --startaddress" + "input freedom address and file length,Hex data,such as  \"[-f 0-10000] | [-f x-1.bin@0-10000] | [-f D:\\all.bin@0x10000-0x1000, 20000-10000]\"" + sp(12) + "\n" +
    "  -i,--infile TEXT:FILE Excludes: --safe-infile" + "input a bin file path";

const std::string kReadHelp =
    std::string("read flash Help\n") +
    "Usage: read [OPTIONS]\n" +
    "Options:" + sp(14) + "\n" +
    "  -p,--portinfo INT:INT in [0 - 255] REQUIRED" + "input a serialport number" + sp(19) + "\n" +
    "  -b,--baudrate INT:INT in [0 - 3000000]" + "input a serialport baudrate" + "\n" +
    "  -s,--startaddress TEXT [0]  Needs: --infile Excludes: --freedom-read" + "input startaddress,Hex data,such as \"0\" or \"0-10000\"" + sp(10) + "\n" +
    "  -f,--freedom-read TEXT Excludes: --startaddress" + "input freedom address and file length,Hex data,such as  \"[-f 0-10000] | [-f x-1.bin@0-10000] | [-f D:\\all.bin@0x10000-0x1000, 20000-10000]\"" + sp(12) + "\n" +
    "  -i,--infile TEXT:FILE Excludes: --safe-infile" + "input a bin file path";
// clang-format on

struct CustomHelpCase {
    const char* name;
    std::vector<std::string> args;
    const std::string* expected;
};

class CustomHelp : public ::testing::TestWithParam<CustomHelpCase> {};

TEST_P(CustomHelp, PrintsFixedTextWithoutCheckingOptions) {
    const ProgramResult result = run_loader(GetParam().args);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, *GetParam().expected);
    EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Subcommands, CustomHelp,
    ::testing::Values(CustomHelpCase{"DownloadShortFlag", {"download", "-h"}, &kDownloadHelp},
                      CustomHelpCase{"DownloadLongFlag", {"download", "--help"}, &kDownloadHelp},
                      CustomHelpCase{"DownloadUpperCaseFlag", {"download", "-H"}, &kDownloadHelp},
                      // No option is checked on this path: a bad port is not reported.
                      CustomHelpCase{"DownloadBadPortNotChecked", {"download", "-p", "999", "-h"}, &kDownloadHelp},
                      CustomHelpCase{"Erase", {"erase", "-h"}, &kEraseHelp},
                      CustomHelpCase{
                          "EraseMissingFileNotChecked", {"erase", "-i", "/no/such/file", "--help"}, &kEraseHelp},
                      CustomHelpCase{"Read", {"read", "-h"}, &kReadHelp},
                      CustomHelpCase{"ReadBadBaudNotChecked", {"read", "-H", "-b", "2000000"}, &kReadHelp}),
    [](const ::testing::TestParamInfo<CustomHelpCase>& info) { return std::string(info.param.name); });

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Option names of the generated help, in the order shown.
std::vector<std::string> option_names(const std::string& help) {
    std::vector<std::string> names;
    for (const std::string& line : lines_of(help)) {
        if (line.rfind("  -", 0) == 0) {
            names.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    return names;
}

TEST(GeneratedHelp, DetailShowsEveryDownloadOptionInOrderWithSixtyCharacterColumn) {
    const ProgramResult result = run_loader({"download", "-h", "--detail"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("download flash\n", 0), 0u) << result.out;

    const std::vector<std::string> expected_order = {"-h,--help",
                                                     "-p,--portinfo",
                                                     "-b,--baudrate",
                                                     "-i,--infile",
                                                     "--safe-infile",
                                                     "-s,--startaddress",
                                                     "-d,--debug",
                                                     "--boot",
                                                     "-r,--reboot",
                                                     "--enable",
                                                     "-g,--getbus-timeout",
                                                     "--retrycnt",
                                                     "--stay-in-rom",
                                                     "--secureboot",
                                                     "--enable-Sec-boot",
                                                     "--efuse-key",
                                                     "--efuse-file",
                                                     "--publicKey",
                                                     "--publicKey-file",
                                                     "--deviceID",
                                                     "-c,--chip-erase",
                                                     "--disable-dco",
                                                     "--spi-clk-div",
                                                     "-m,--mac",
                                                     "--dev-name",
                                                     "--big-endian",
                                                     "--otp",
                                                     "--app_public_key",
                                                     "--aes_key",
                                                     "--schipmodel",
                                                     "--ota_key",
                                                     "--ota_iv",
                                                     "--mainBin-multi",
                                                     "--enable-Sec-boot-log",
                                                     "--efuse",
                                                     "-o,--output",
                                                     "--safe-json",
                                                     "--swrst",
                                                     "--sm-dl",
                                                     "--fast_link",
                                                     "--uart_type",
                                                     "--detail",
                                                     "--device"};
    EXPECT_EQ(option_names(result.out), expected_order);

    // Descriptions start in column 60.
    const std::vector<std::string> lines = lines_of(result.out);
    const std::string chip_erase = "  -c,--chip-erase" + sp(60 - 17) + "set erase all";
    const std::string device =
        "  --device PATH" + sp(60 - 15) + "open this serial device instead of the port number's device";
    EXPECT_NE(std::find(lines.begin(), lines.end(), chip_erase), lines.end()) << result.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), device), lines.end()) << result.out;
    // The software-reboot description carries its CR LF pairs into the help.
    EXPECT_NE(result.out.find("input software_reboot_cli,such as \"\r\n"), std::string::npos);
}

TEST(GeneratedHelp, DetailWorksForEraseAndRead) {
    for (const char* sub : {"erase", "read"}) {
        SCOPED_TRACE(sub);
        const ProgramResult result = run_loader({sub, "--help", "--detail"});
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.out.rfind(std::string(sub) + " flash\n", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("  -p,--portinfo INT:INT in [0 - 255] REQUIRED" + sp(60 - 45) +
                                  "input a serialport number\n"),
                  std::string::npos)
            << result.out;
    }
    // The read baud rate bound differs from the one in its short help.
    EXPECT_NE(run_loader({"read", "-h", "--detail"}).out.find("-b,--baudrate INT:INT in [0 - 1500000] "),
              std::string::npos);
}

TEST(GeneratedHelp, LoneHelpFlagShowsApplicationHelp) {
    const ProgramResult result = run_loader({"-h"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out.rfind("tesk_loader\n", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("  -v,--version" + sp(60 - 14) + "tesk_loader version\n"), std::string::npos);
    for (const char* line : {"  download", "  erase", "  read"}) {
        EXPECT_NE(result.out.find(line), std::string::npos) << line;
    }
}

}  // namespace
