// Where parsed values land, flag counts and the run driver's conversions,
// checked in-process on the parser the program builds.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "frontend/command_line.h"
#include "frontend/run_driver.h"
#include "job/download.h"

namespace {

class Holders : public ::testing::Test {
protected:
    Download job;
    ParsedArgs args;
    CommandLine cli = build_command_line(job, args);

    void parse(std::vector<std::string> words) {
        words.insert(words.begin(), "tesk_loader");
        std::vector<const char*> argv;
        for (const auto& word : words) {
            argv.push_back(word.c_str());
        }
        cli.app->parse(static_cast<int>(argv.size()), argv.data());
    }
};

TEST_F(Holders, DefaultsWhenOnlyThePortIsGiven) {
    parse({"download", "-p", "7"});
    EXPECT_TRUE(cli.download->parsed());
    EXPECT_EQ(job.m_port, 7);
    EXPECT_EQ(job.m_baudrate, 1500000);
    EXPECT_EQ(job.m_reboot, 1);
    EXPECT_EQ(job.m_fast_link, 0);
    EXPECT_EQ(job.m_retry_count, 20);
    EXPECT_EQ(args.debug_level, 1);
    EXPECT_EQ(args.start_address, "0");
    EXPECT_EQ(args.boot_text, "reboot");
    EXPECT_EQ(args.enable_text, "2");
    EXPECT_EQ(args.getbus_timeout_text, "15");
    EXPECT_EQ(args.retry_text, "20");
    EXPECT_FALSE(args.detail);
    EXPECT_EQ(job.m_device_path, "");
    for (const char* flag : {"--stay-in-rom", "--secureboot", "--enable-Sec-boot", "--chip-erase", "--disable-dco",
                             "--big-endian", "--otp", "--enable-Sec-boot-log", "--efuse"}) {
        EXPECT_EQ(flag_count(*cli.download, flag), 0) << flag;
    }
}

TEST_F(Holders, DownloadValuesReachJobAndParsedArgs) {
    parse({"download", "-p", "3", "-b", "921600", "-r", "0", "--fast_link", "1", "-s", "0x1000", "-d", "999",
           "-g", "2.5", "--retrycnt", "-5", "--publicKey", "PK", "--deviceID", "ID", "--app_public_key", "APK",
           "--aes_key", "AES", "--schipmodel", "M", "--ota_key", "OK", "--ota_iv", "IV", "--swrst", "reset",
           "-m", "aabbccddeeff@0x1e000-6", "--dev-name", "Tesk@0x2e000-4", "--mainBin-multi", "a.bin@0",
           "--uart_type", "CP210", "--spi-clk-div", "4", "--efuse-key", "EK", "--device", "/dev/ttyS5",
           "--detail", "-c", "-c", "--otp"});
    EXPECT_EQ(job.m_port, 3);
    EXPECT_EQ(job.m_baudrate, 921600);
    EXPECT_EQ(job.m_reboot, 0);
    EXPECT_EQ(job.m_fast_link, 1);
    EXPECT_EQ(job.m_public_key, "PK");
    EXPECT_EQ(job.m_device_id, "ID");
    EXPECT_EQ(job.m_app_public_key, "APK");
    EXPECT_EQ(job.m_aes_key, "AES");
    EXPECT_EQ(job.m_schipmodel, "M");
    EXPECT_EQ(job.m_ota_key, "OK");
    EXPECT_EQ(job.m_ota_iv, "IV");
    EXPECT_EQ(job.m_swrst_cmd, "reset");
    EXPECT_EQ(job.m_device_path, "/dev/ttyS5");
    EXPECT_EQ(args.start_address, "0x1000");
    EXPECT_EQ(args.debug_level, 999);
    EXPECT_EQ(args.getbus_timeout_text, "2.5");
    EXPECT_EQ(args.retry_text, "-5");
    EXPECT_EQ(args.mac_text, "aabbccddeeff@0x1e000-6");
    EXPECT_EQ(args.dev_name_text, "Tesk@0x2e000-4");
    EXPECT_EQ(args.main_bin_multi, "a.bin@0");
    EXPECT_EQ(args.uart_type_text, "CP210");
    EXPECT_EQ(args.spi_clk_div, 4);
    EXPECT_EQ(args.efuse_key, "EK");
    EXPECT_TRUE(args.detail);
    EXPECT_EQ(flag_count(*cli.download, "--chip-erase"), 2);
    EXPECT_EQ(flag_count(*cli.download, "--otp"), 1);
    EXPECT_EQ(flag_count(*cli.download, "--efuse"), 0);
}

TEST_F(Holders, ReadForceCreateIsAnIntegerAndEraseChipEraseAFlag) {
    parse({"read", "-p", "1", "-f", "0-1000", "-c", "5", "-t", "out/x.bin", "--disable-dco"});
    EXPECT_TRUE(cli.read->parsed());
    EXPECT_FALSE(cli.download->parsed());
    EXPECT_EQ(args.force_create, 5);
    EXPECT_EQ(args.range_text, "0-1000");
    EXPECT_EQ(args.target_bin, "out/x.bin");
    EXPECT_EQ(flag_count(*cli.read, "--disable-dco"), 1);

    Download erase_job;
    ParsedArgs erase_args;
    CommandLine erase_cli = build_command_line(erase_job, erase_args);
    const char* argv[] = {"tesk_loader", "erase", "-p", "2", "-c", "-f", "0-10"};
    erase_cli.app->parse(7, argv);
    EXPECT_EQ(flag_count(*erase_cli.erase, "--chip-erase"), 1);
    EXPECT_EQ(erase_args.range_text, "0-10");
    EXPECT_EQ(erase_args.force_create, 0);
}

TEST_F(Holders, CountOfAnUnknownFlagIsAParserError) {
    parse({"read", "-p", "1"});
    EXPECT_THROW(flag_count(*cli.read, "--chip-erase"), CLI::OptionNotFound);
}

TEST(Prescan, CollectsHelpAndDetailAndEchoesEveryArgument) {
    const char* argv[] = {"tesk_loader.exe", "download", "-p", "3"};
    PrescanResult plain = prescan_arguments(4, argv);
    EXPECT_EQ(plain.command_line_text, "tesk_loader.exe download -p 3 ");
    EXPECT_FALSE(plain.help_seen);
    EXPECT_FALSE(plain.detail_seen);

    for (const char* help : {"-h", "-H", "--help"}) {
        const char* with_help[] = {"tesk_loader", "erase", help, "--detail"};
        PrescanResult result = prescan_arguments(4, with_help);
        EXPECT_TRUE(result.help_seen) << help;
        EXPECT_TRUE(result.detail_seen) << help;
    }
    // Only whole arguments count.
    const char* partial[] = {"tesk_loader", "read", "--helpx", "--details"};
    PrescanResult result = prescan_arguments(4, partial);
    EXPECT_FALSE(result.help_seen);
    EXPECT_FALSE(result.detail_seen);
}

TEST(Conversions, GetbusTimeoutHasAOneSecondFloor) {
    const struct {
        const char* text;
        float seconds;
    } cases[] = {{"15", 15.0f}, {"2.5", 2.5f}, {"1", 1.0f}, {"0.2", 1.0f}, {"0", 1.0f},
                 {"-3", 1.0f},  {"abc", 1.0f}, {"", 1.0f},  {"nan", 1.0f}, {"7s", 7.0f}};
    for (const auto& c : cases) {
        EXPECT_EQ(getbus_timeout_from_text(c.text), c.seconds) << c.text;
    }
}

TEST(Conversions, RetryCountNegativeBecomesDefault) {
    const struct {
        const char* text;
        int32_t count;
    } cases[] = {{"20", 20},
                 {"3", 3},
                 {"0", 0},
                 {"-5", 20},
                 {"abc", 0},
                 {"12x", 12},
                 {"99999999999", std::numeric_limits<int32_t>::max()},
                 {"-99999999999", 20}};
    for (const auto& c : cases) {
        EXPECT_EQ(retry_count_from_text(c.text), c.count) << c.text;
    }
}

}  // namespace
