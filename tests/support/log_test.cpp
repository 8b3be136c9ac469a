// The log handles are process-wide and open at most once, so everything that
// needs them open runs in one ordered test.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/log.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string slurp(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
}

const char kSeparator[] = "\n\n\n=====================================================================\n";

TEST(Log, RunLogTrafficLogAndConsole) {
    auto dir = std::filesystem::temp_directory_path() / ("tesk_log_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    const std::string run_path = (dir / "COM3.log").string();
    const std::string traffic_path = (dir / "COM3_debug.log").string();

    FILE* console = std::tmpfile();
    ASSERT_NE(console, nullptr);
    log_set_console(console);

    // Nothing is open yet: writes are skipped, nothing fails.
    log_printf("lost %d\n", 1);
    const uint8_t frame[] = {0x04, 0x0E, 0x04, 0x01, 0xE0, 0xFC, 0x00};
    log_hex_dump(frame, "IN", sizeof frame);
    EXPECT_FALSE(log_is_open());

    // An earlier run in the same file stays; the new one is set apart.
    std::ofstream(run_path) << "earlier run\n";
    log_open(run_path);
    ASSERT_TRUE(log_is_open());
    log_open((dir / "other.log").string());  // first path wins
    EXPECT_FALSE(std::filesystem::exists(dir / "other.log"));

    job_log(LOG_INFO, "start thread... \r");
    job_log(LOG_DETAIL, "quiet %s", "detail");
    job_log(LOG_ERROR, "progress 50%% and a literal %s", "%d");
    log_printf("%s \n", "version line");

    std::string run = slurp(run_path);
    std::string expected_head = std::string("earlier run\n") + kSeparator;
    ASSERT_EQ(run.compare(0, expected_head.size(), expected_head), 0) << run;
    std::string body = run.substr(expected_head.size());
    const std::regex lines(
        " \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}    start thread\\.\\.\\. \r\n"
        " \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}    quiet detail\n"
        " \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}    progress 50% and a literal %d\n"
        " version line \n");
    EXPECT_TRUE(std::regex_match(body, lines)) << body;

    std::string shown = slurp(console);
    EXPECT_EQ(shown.find("quiet detail"), std::string::npos) << "level 3 is run log only";
    EXPECT_NE(shown.find("progress 50% and a literal %d\n"), std::string::npos);
    EXPECT_EQ(shown[0], '2') << "console lines carry no leading space";

    // Traffic log: 128 bytes at most per line.
    traffic_log_open(traffic_path);
    log_hex_dump(frame, "IN", sizeof frame);
    std::vector<uint8_t> big(4096, 0xAB);
    log_hex_dump(big.data(), "OUT", big.size());
    std::string traffic = slurp(traffic_path);
    ASSERT_EQ(traffic.compare(0, sizeof kSeparator - 1, kSeparator), 0);
    std::istringstream tl(traffic.substr(sizeof kSeparator - 1));
    std::string in_line, out_line;
    std::getline(tl, in_line);
    std::getline(tl, out_line);
    EXPECT_TRUE(std::regex_match(
        in_line, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[ IN\\]    04 0e 04 01 e0 fc 00 ")))
        << in_line;
    std::string hex = out_line.substr(out_line.find("[OUT]    ") + 9);
    EXPECT_EQ(hex.size(), 384u);

    // Progress line overwrites itself.
    std::rewind(console);
    show_progress("Writing Flash", 42);
    show_erase_progress(7);
    std::string progress = slurp(console);
    EXPECT_NE(progress.find("Writing Flash ... 42%\rErasing Flash ... 7%\r"), std::string::npos) << progress;

    log_set_console(nullptr);
    std::fclose(console);
    std::filesystem::remove_all(dir);
}

}  // namespace
