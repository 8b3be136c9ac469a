#include "e2e_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace e2e {

const char kDone[] =
    "\r\n==============================================================\r\n     _             (done)\n"
    "    | |                 \n  __| | ___  _ __   ___ \n / _  |/ _ \\|  _ \\ / _ \\\n"
    "| (_| | (_) | | | |  __/\n \\__,_|\\___/|_| |_|\\___|\n{All Finished Successfully}\n";

const char kWarning[] =
    "\r\n==============================================================\r\n\t\t\t\t   (warning)\n"
    "\t                         (_)            \n\t__      ____ _ _ __ _ __  _ _ __   __ _ \n"
    "\t\\ \\ /\\ / / _` | '__| '_ \\| | '_ \\ / _` |\n\t \\ V  V / (_| | |  | | | | | | | | (_| |\n"
    "\t  \\_/\\_/ \\__,_|_|  |_| |_|_|_| |_|\\__, |\n\t                                   __/ |\n"
    "\t                                  |___/ \n";

Bytes random_bytes(size_t length, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes bytes(length);
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        const uint32_t v = gen();
        for (int k = 0; k < 4; ++k) bytes[i + k] = uint8_t(v >> (8 * k));
    }
    for (; i < length; ++i) bytes[i] = uint8_t(gen());
    return bytes;
}

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file(const fs::path& path, const Bytes& bytes) {
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::string read_text(const fs::path& path) {
    const Bytes bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> read_lines(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(read_text(path));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void put(Bytes& flash, uint32_t address, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), flash.begin() + address);
}

void fill(Bytes& flash, uint32_t address, uint32_t length, uint8_t value) {
    std::fill(flash.begin() + address, flash.begin() + address + length, value);
}

uint32_t padded(uint32_t length) { return (length + 0xFF) & ~0xFFu; }

::testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
    // Report the first few runs of differing bytes.
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    size_t runs = 0;
    size_t differing = 0;
    for (size_t i = 0; i < actual.size();) {
        if (actual[i] == expected[i]) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < actual.size() && actual[end] != expected[end]) ++end;
        differing += end - i;
        if (runs++ < 8) {
            char line[160];
            std::snprintf(line, sizeof line, "differ at 0x%06zx..0x%06zx (first: 0x%02x, expected 0x%02x)\n", i,
                          end - 1, actual[i], expected[i]);
            failure << line;
        }
        i = end;
    }
    return failure << differing << " bytes differ in " << runs << " runs";
}

size_t count_of(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
    return count;
}

std::string describe(const ProgramResult& result) {
    std::string out = result.out;
    if (out.size() > 6000) out = "..." + out.substr(out.size() - 6000);
    return "exit " + std::to_string(result.exit_code) + (result.timed_out ? " (timed out)" : "") +
           "\n--- stdout ---\n" + out + "\n--- stderr ---\n" + result.err;
}

void E2eTest::SetUp() {
#ifndef TESK_SIM_PATH
    GTEST_SKIP() << "tesk_sim is not built";
#endif
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    dir = fs::temp_directory_path() / ("tesk_e2e_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    tty = (dir / "tty").string();
}

void E2eTest::TearDown() {
    if (sim.running()) sim.stop();
    // A failed test leaves its directory for a look at the logs.
    if (!HasFailure()) fs::remove_all(dir);
}

void E2eTest::prefill() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const uint32_t seed = uint32_t(std::hash<std::string>{}(std::string(info->test_suite_name()) + info->name()));
    before = random_bytes(kFlashSize, seed);
    ASSERT_TRUE(write_file(dir / "state" / "flash.bin", before));
}

::testing::AssertionResult E2eTest::start_chip(const std::vector<std::string>& extra, bool reset_on_open) {
#ifdef TESK_SIM_PATH
    std::vector<std::string> args{"--link", tty, "--state", (dir / "state").string(), "--command-log",
                                  (dir / "commands.log").string()};
    if (reset_on_open) args.push_back("--reset-on-open");
    args.insert(args.end(), extra.begin(), extra.end());
    if (!sim.start(TESK_SIM_PATH, args)) return ::testing::AssertionFailure() << sim.error();
    return ::testing::AssertionSuccess();
#else
    (void)extra;
    (void)reset_on_open;
    return ::testing::AssertionFailure() << "tesk_sim is not built";
#endif
}

Bytes E2eTest::stop_chip() {
    const int status = sim.stop();
    EXPECT_EQ(status, 0) << "tesk_sim did not end cleanly";
    return read_file(dir / "state" / "flash.bin");
}

ProgramResult E2eTest::loader(const std::string& sub, const std::vector<std::string>& args, RunOptions options) {
    std::vector<std::string> all{sub, "-p", "0", "--device", tty, "-o", dir.string()};
    all.insert(all.end(), args.begin(), args.end());
    return loader_raw(all, std::move(options));
}

ProgramResult E2eTest::loader_raw(const std::vector<std::string>& args, RunOptions options) {
    if (options.cwd.empty()) options.cwd = dir.string();
    // A run that hangs must not take the whole suite with it.
    if (options.timeout_ms > 60000) options.timeout_ms = 60000;
    ProgramResult result = run_program(program, args, options);
    // A sanitizer ends the program with exit code 1, which here means success.
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error:"), std::string::npos) << result.err;
    EXPECT_FALSE(result.timed_out) << "tesk_loader was killed after " << options.timeout_ms << " ms";
    return result;
}

std::string E2eTest::program_copy() {
    const fs::path copy = dir / "bin" / "tesk_loader";
    fs::create_directories(copy.parent_path());
    fs::copy_file(TESK_LOADER_PATH, copy, fs::copy_options::overwrite_existing);
    program = copy.string();
    return program;
}

}  // namespace e2e
