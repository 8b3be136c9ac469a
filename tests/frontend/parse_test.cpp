// What the program does with a command line: rejections by the parser, the
// version line, a missing subcommand and the dispatch to the subcommands.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "program_run.h"

namespace {

// CLI11's exit codes.
constexpr int kConversionError = 104;
constexpr int kValidationError = 105;
constexpr int kRequiredError = 106;
constexpr int kRequiresError = 107;
constexpr int kExcludesError = 108;
constexpr int kExtrasError = 109;

// A file and a directory that exist wherever the tests run.
const std::string kFile = TESK_LOADER_PATH;
// An existing file small enough to load as an image.
const std::string kSmallFile = std::string(TESK_SOURCE_DIR) + "/README.md";
const std::string kDir = TESK_SOURCE_DIR;

struct RejectCase {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    const char* message;  // part of the standard-error text
};

class Rejected : public ::testing::TestWithParam<RejectCase> {};

TEST_P(Rejected, ParserMessageOnStandardErrorAndItsExitCode) {
    const ProgramResult result = run_loader(GetParam().args);
    EXPECT_EQ(result.exit_code, GetParam().exit_code);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Rejected,
    ::testing::Values(
        RejectCase{"MissingPort", {"download"}, kRequiredError, "--portinfo is required"},
        RejectCase{"EraseMissingPort", {"erase", "-c"}, kRequiredError, "--portinfo is required"},
        RejectCase{"PortAboveRange", {"download", "-p", "256"}, kValidationError, "--portinfo"},
        RejectCase{"PortNegative", {"read", "-p", "-1"}, kValidationError, "--portinfo"},
        RejectCase{"PortNotANumber", {"download", "-p", "abc"}, kValidationError, "--portinfo"},
        RejectCase{"ReadBaudAboveRange", {"read", "-p", "1", "-b", "2000000"}, kValidationError, "--baudrate"},
        RejectCase{"DownloadBaudAboveRange", {"download", "-p", "1", "-b", "3000001"}, kValidationError,
                   "--baudrate"},
        RejectCase{"RebootOutOfRange", {"download", "-p", "1", "-r", "2"}, kValidationError, "--reboot"},
        RejectCase{"FastLinkOutOfRange", {"erase", "-p", "1", "--fast_link", "2"}, kValidationError,
                   "--fast_link"},
        RejectCase{"DebugNotANumber", {"download", "-p", "1", "-d", "5x"}, kConversionError, "--debug"},
        RejectCase{"ForceCreateNotANumber", {"read", "-p", "1", "-c", "x"}, kConversionError, "--force_create"},
        RejectCase{"MissingInfile", {"download", "-p", "1", "-i", "/no/such/file.bin"}, kValidationError,
                   "/no/such/file.bin"},
        RejectCase{"MissingEraseInfile", {"erase", "-p", "1", "-i", "/no/such/file.bin"}, kValidationError,
                   "/no/such/file.bin"},
        RejectCase{"MissingSafeJson", {"download", "-p", "1", "--safe-json", "/no/such.json"}, kValidationError,
                   "--safe-json"},
        RejectCase{"MissingSecureWriter", {"download", "-p", "1", "--sm-dl", "/no/such.bin"}, kValidationError,
                   "--sm-dl"},
        RejectCase{"OutputIsAFile", {"download", "-p", "1", "-o", kFile}, kValidationError, "--output"},
        RejectCase{"OutputMissing", {"read", "-p", "1", "-o", "/no/such/dir"}, kValidationError, "--output"},
        RejectCase{"EraseStartWithoutInfile", {"erase", "-p", "1", "-s", "0-1000"}, kRequiresError,
                   "--startaddress requires --infile"},
        RejectCase{"ReadStartWithoutInfile", {"read", "-p", "1", "-s", "0"}, kRequiresError,
                   "--startaddress requires --infile"},
        RejectCase{"ReadStartWithRange", {"read", "-p", "1", "-i", "x.bin", "-s", "0", "-f", "0-100"},
                   kExcludesError, "excludes"},
        RejectCase{"EraseInfileWithRange", {"erase", "-p", "1", "-i", kFile, "-f", "0-100"}, kExcludesError,
                   "excludes"},
        RejectCase{"InfileWithSafeInfile", {"download", "-p", "1", "-i", kFile, "--safe-infile", kFile},
                   kExcludesError, "excludes"},
        RejectCase{"EfuseKeyWithEfuseFile", {"download", "-p", "1", "--efuse-key", "k", "--efuse-file", kFile},
                   kExcludesError, "excludes"},
        RejectCase{"PublicKeyWithKeyFile", {"download", "-p", "1", "--publicKey", "k", "--publicKey-file", kFile},
                   kExcludesError, "excludes"},
        RejectCase{"UnknownOption", {"download", "-p", "1", "--bogus"}, kExtrasError, "--bogus"},
        RejectCase{"StrayWord", {"erase", "-p", "1", "stray"}, kExtrasError, "stray"},
        RejectCase{"UpperCaseHelpIsNoParserOption", {"download", "-p", "1", "-H", "--detail"}, kExtrasError, "-H"},
        RejectCase{"ChipEraseFlagIsNotReadOption", {"read", "-p", "1", "--chip-erase"}, kExtrasError,
                   "--chip-erase"},
        RejectCase{"DetailOnlyForDownload", {"erase", "-p", "1", "--detail"}, kExtrasError, "--detail"},
        RejectCase{"HugePortArgument", {"download", "-p", std::string(100 * 1024, '7')}, kValidationError,
                   "--portinfo"}),
    [](const ::testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

struct AcceptCase {
    const char* name;
    std::vector<std::string> args;
    const char* subcommand;
};

class Accepted : public ::testing::TestWithParam<AcceptCase> {};

// An accepted command line reaches its subcommand's run. No chip is attached
// to these port numbers, so every run ends as a failed run (code 0) with its
// reason on standard output, never with a parser error.
TEST_P(Accepted, ReachesTheSubcommand) {
    const ProgramResult result = run_loader(GetParam().args);
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(result.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Accepted,
    ::testing::Values(
        AcceptCase{"Download", {"download", "-p", "1", "-i", kSmallFile}, "download"},
        AcceptCase{"DownloadBaud2M", {"download", "-p", "1", "-b", "2000000"}, "download"},
        AcceptCase{"EraseBaud2M", {"erase", "-p", "1", "-b", "2000000"}, "erase"},
        AcceptCase{"ReadBaudUpperBound", {"read", "-p", "255", "-b", "1500000"}, "read"},
        AcceptCase{"ReadOutputFileNeedNotExist", {"read", "-p", "1", "-i", "/no/such/out.bin", "-s", "0-100"},
                   "read"},
        AcceptCase{"EraseInfileWithStart", {"erase", "-p", "1", "-i", kFile, "-s", "0-1000"}, "erase"},
        AcceptCase{"ReadRangeAndForceCreate", {"read", "-p", "1", "-f", "0-1000", "-c", "1", "-o", kDir, "-d", "0"},
                   "read"},
        AcceptCase{"BootAcceptsAnyText", {"download", "-p", "1", "--boot", "any text !@#"}, "download"},
        AcceptCase{"HugeBootText", {"download", "-p", "1", "--boot", std::string(100 * 1024, 'x')}, "download"},
        AcceptCase{"AllDownloadFlags",
                   {"download", "-p", "3", "--stay-in-rom", "--secureboot", "--enable-Sec-boot", "-c",
                    "--disable-dco", "--big-endian", "--otp", "--enable-Sec-boot-log", "--efuse", "--detail"},
                   "download"},
        AcceptCase{"Device", {"erase", "-p", "0", "-c", "--device", "/dev/pts/99"}, "erase"}),
    [](const ::testing::TestParamInfo<AcceptCase>& info) { return std::string(info.param.name); });

TEST(RunDriver, NoSubcommandPrintsInvalidCommandAndSucceeds) {
    const ProgramResult result = run_loader({});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "invalid command,please input \"--help\" to check it! \n");
    EXPECT_EQ(result.err, "");
}

// True for "<Mmm> <dd> <yyyy> <hh>:<mm>:<ss>" as the compiler writes its build
// date and time (the day is space-padded).
bool is_build_stamp(const std::string& text) {
    static const char* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::string shape = "Mmm D9 9999 99:99:99";
    if (text.size() != shape.size()) {
        return false;
    }
    const std::string month = text.substr(0, 3);
    const char* found = std::strstr(kMonths, month.c_str());
    if (found == nullptr || (found - kMonths) % 3 != 0) {
        return false;
    }
    for (std::size_t i = 3; i < shape.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        bool ok = false;
        if (shape[i] == 'D') {
            ok = c == ' ' || std::isdigit(c) != 0;
        } else if (shape[i] == '9') {
            ok = std::isdigit(c) != 0;
        } else {
            ok = text[i] == shape[i];
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

class VersionLine : public ::testing::TestWithParam<std::vector<std::string>> {};

// The version, the build date and time; no line break follows.
TEST_P(VersionLine, PrintedAloneWithBuildDateAndTime) {
    const ProgramResult result = run_loader(GetParam());
    EXPECT_EQ(result.exit_code, 0);
    const std::string prefix = "tesk_loader version 2.1.4.0: build @";
    ASSERT_EQ(result.out.rfind(prefix, 0), 0u) << result.out;
    EXPECT_TRUE(is_build_stamp(result.out.substr(prefix.size()))) << result.out;
    EXPECT_EQ(result.err, "");
}

TEST(BuildStamp, AcceptsOnlyTheCompilerDateAndTimeForm) {
    EXPECT_TRUE(is_build_stamp("Oct 19 2023 09:05:59"));
    EXPECT_TRUE(is_build_stamp("Oct  9 2023 09:05:59"));
    EXPECT_FALSE(is_build_stamp("Oct 19 2023 09:05:59\n"));
    EXPECT_FALSE(is_build_stamp("Foo 19 2023 09:05:59"));
    EXPECT_FALSE(is_build_stamp("Oct 19 23 09:05:59"));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, VersionLine,
                         ::testing::Values(std::vector<std::string>{"-v"},
                                           std::vector<std::string>{"--version"},
                                           // After a subcommand, -v falls through to the application.
                                           std::vector<std::string>{"download", "-p", "1", "-v"},
                                           std::vector<std::string>{"read", "-p", "1", "--version"}));

}  // namespace
