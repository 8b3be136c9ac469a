// The program as a whole: exit codes, final lines and banners, the run log
// and the traffic log.
#include "e2e_fixture.h"

namespace e2e {
namespace {

// Runs that end before any chip is reached.
struct EarlyEnd {
    const char* name;
    std::vector<std::string> args;  // "{dir}" stands for the test directory
    int exit_code;                  // as the shell sees it
    std::vector<std::string> out;   // texts that must be on standard output
};

void PrintTo(const EarlyEnd& c, std::ostream* os) { *os << c.name; }

class EarlyEnds : public E2eTest, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(EarlyEnds, ExitCodeAndMessage) {
    const EarlyEnd& c = GetParam();
    ASSERT_TRUE(write_file(dir / "app.bin", random_bytes(0x1000, 1)));
    std::vector<std::string> args;
    for (std::string arg : c.args) {
        const size_t at = arg.find("{dir}");
        if (at != std::string::npos) arg.replace(at, 5, dir.string());
        args.push_back(arg);
    }
    const ProgramResult run = loader_raw(args);
    EXPECT_EQ(run.exit_code, c.exit_code) << describe(run);
    for (const std::string& text : c.out) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << describe(run);
}

const EarlyEnd kEarlyEnds[] = {
    // -16 is 240 to the shell, -14 is 242.
    {"EndBeforeStart",
     {"download", "-p", "0", "--device", "{dir}/none", "-o", "{dir}", "-i", "app.bin", "-s", "10000-100"},
     240,
     {"\nflashWriteEndAddr 0x100, startAddr 0x10000\n"}},
    {"MacWithoutPlace",
     {"download", "-p", "0", "--device", "{dir}/none", "-o", "{dir}", "-i", "app.bin", "--mac", "aabbccddeeff"},
     240,
     {"\ncannot found @\n"}},
    {"DeviceNameWithoutPlace",
     {"download", "-p", "0", "--device", "{dir}/none", "-o", "{dir}", "-i", "app.bin", "--dev-name", "TeskOS"},
     240,
     {"\ncannot found @\n"}},
    {"ListedFileMissing",
     {"download", "-p", "0", "--device", "{dir}/none", "-o", "{dir}", "--mainBin-multi", "app.bin@0,missing.bin@11000"},
     242,
     {"the bin file isn`t exist :missing.bin \n"}},
    {"ListItemWithoutAddress",
     {"download", "-p", "0", "--device", "{dir}/none", "-o", "{dir}", "--mainBin-multi", "app.bin"},
     240,
     {"the format of bin file is invalid :app.bin \n"}},
    // A port that cannot be opened: a failed run, without reboot frames.
    {"NoDevice",
     {"download", "-p", "0", "--device", "{dir}/none", "-o", "{dir}", "-i", "app.bin", "-s", "11000"},
     0,
     {"Connect device fail!", "Total Test Time : 0.000 s", "Writing Flash Failed, code 0                \n", kWarning}},
    {"EraseWithoutRange",
     {"erase", "-p", "0", "--device", "{dir}/none", "-o", "{dir}"},
     0,
     {"--freedom-erase, at least need 2 parameters ,such as [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n"}},
    {"ReadIntoMissingFile",
     {"read", "-p", "0", "--device", "{dir}/none", "-o", "{dir}", "-i", "missing.bin", "-s", "0-1000"},
     0,
     {"missing.bin is not exist."}},
};

INSTANTIATE_TEST_SUITE_P(E2e, EarlyEnds, ::testing::ValuesIn(kEarlyEnds),
                         [](const ::testing::TestParamInfo<EarlyEnd>& info) { return info.param.name; });

// A successful run of each subcommand: its final line, the done banner and
// the run log named after the port.
struct Success {
    const char* name;
    std::vector<std::string> args;  // after the subcommand
    const char* sub;
    const char* port;
    const char* ok_line;
    bool ok_line_logged;  // erase and read print it only
};

void PrintTo(const Success& c, std::ostream* os) { *os << c.name; }

class Successes : public E2eTest, public ::testing::WithParamInterface<Success> {};

TEST_P(Successes, FinalLineBannerAndRunLog) {
    const Success& c = GetParam();
    ASSERT_TRUE(write_file(dir / "app.bin", random_bytes(0x1800, 1)));
    ASSERT_TRUE(start_chip());
    std::vector<std::string> args{c.sub, "-p", c.port, "--device", tty, "-o", dir.string(), "-d", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramResult run = loader_raw(args);
    stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    std::string cmdline = "cmdline: |" + program + " ";
    for (const std::string& arg : args) cmdline += arg + " ";
    cmdline += "|\n";
    EXPECT_EQ(run.out.rfind(cmdline, 0), 0u) << "the command line comes first\n" << describe(run);
    EXPECT_NE(run.out.find(c.ok_line), std::string::npos);
    EXPECT_NE(run.out.find(kDone), std::string::npos);

    const std::string log = read_text(dir / ("tesk_loader_COM" + std::string(c.port) + ".log"));
    EXPECT_NE(log.find(cmdline), std::string::npos) << log;
    EXPECT_NE(log.find(kDone), std::string::npos) << log;
    EXPECT_EQ(log.find(c.ok_line) != std::string::npos, c.ok_line_logged) << log;
    EXPECT_EQ(log.find(kWarning), std::string::npos);
}

const Success kSuccesses[] = {
    {"Download", {"-i", "app.bin", "-s", "11000"}, "download", "7", "Writing Flash OK                             \n",
     true},
    {"Erase", {"-f", "11000-1000"}, "erase", "12", "Erasing Flash OK                             \n", false},
    {"Read", {"-i", "back.bin", "-c", "1", "-s", "11000-1000"}, "read", "255", "Read Flash OK                             \n",
     false},
};

INSTANTIATE_TEST_SUITE_P(E2e, Successes, ::testing::ValuesIn(kSuccesses),
                         [](const ::testing::TestParamInfo<Success>& info) { return info.param.name; });

class RunLogs : public E2eTest {};

// -d 999: every frame both ways in Debug_tesk_loader_COM<N>_.log of the
// current directory.
TEST_F(RunLogs, TrafficLogInTheCurrentDirectory) {
    ASSERT_TRUE(write_file(dir / "app.bin", random_bytes(0x1800, 1)));
    fs::create_directories(dir / "work");
    ASSERT_TRUE(start_chip());
    RunOptions in_work;
    in_work.cwd = (dir / "work").string();
    const ProgramResult run = loader_raw(
        {"download", "-p", "3", "--device", tty, "-o", dir.string(), "-d", "999", "-i", "../app.bin", "-s", "11000"},
        in_work);
    stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find("Already open debug mode\n"), std::string::npos);
    EXPECT_NE(read_text(dir / "tesk_loader_COM3.log").find("Already open debug mode\n"), std::string::npos);
    const std::string traffic = read_text(dir / "work" / "Debug_tesk_loader_COM3_.log");
    // The link check and its answer.
    EXPECT_NE(traffic.find("[OUT]    01 e0 fc 01 00 \n"), std::string::npos) << traffic.substr(0, 2000);
    EXPECT_NE(traffic.find("[ IN]    04 0e 05 01 e0 fc 01 00 \n"), std::string::npos) << traffic.substr(0, 2000);
    // The reboot frame that ends the run.
    EXPECT_NE(traffic.find("[OUT]    01 e0 fc 02 0e a5 \n"), std::string::npos);
}

// -d 0: no run log anywhere, no command-line echo; the run itself goes on.
TEST_F(RunLogs, DebugZeroWritesNoRunLog) {
    ASSERT_TRUE(write_file(dir / "app.bin", random_bytes(0x1800, 1)));
    program_copy();
    ASSERT_TRUE(start_chip());
    const ProgramResult with_dir = loader("download", {"-d", "0", "-i", "app.bin", "-s", "11000"});
    // Without -o the log would go beside the program.
    const ProgramResult beside_program =
        loader_raw({"download", "-p", "0", "--device", tty, "-d", "0", "-i", "app.bin", "-s", "11000"});
    stop_chip();

    for (const ProgramResult* run : {&with_dir, &beside_program}) {
        EXPECT_EQ(run->exit_code, 1) << describe(*run);
        EXPECT_EQ(run->out.find("cmdline:"), std::string::npos);
        EXPECT_NE(run->out.find(kDone), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(dir / "tesk_loader_COM0.log"));
    EXPECT_FALSE(fs::exists(dir / "bin" / "tesk_loader_COM0.log"));
}

// --efuse without --efuse-file says so and downloads all the same.
TEST_F(RunLogs, EfuseWithoutFileStillDownloads) {
    prefill();
    const Bytes image = random_bytes(0x1800, 1);
    ASSERT_TRUE(write_file(dir / "app.bin", image));
    Bytes expected = before;
    put(expected, 0x11000, image);
    ASSERT_TRUE(start_chip());
    const ProgramResult run = loader("download", {"--efuse", "-i", "app.bin", "-s", "11000"});
    const Bytes flash = stop_chip();

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find("efuse file not found\n"), std::string::npos);
    EXPECT_TRUE(same_bytes(flash, expected));
}

// An output file that cannot be created fails the read, naming the path:
// data the user asked for must not vanish behind a success banner.
TEST_F(RunLogs, ReadIntoAnUncreatableFileFails) {
    fs::create_directories(dir / "taken.bin");  // a directory where the file should go
    ASSERT_TRUE(start_chip());
    const ProgramResult run = loader("read", {"-f", (dir / "taken.bin").string() + "@1000-800", "-c", "1"});
    stop_chip();

    EXPECT_EQ(run.exit_code, 0) << describe(run);
    EXPECT_NE(run.out.find("Cannot create the file : " + (dir / "taken.bin").string()), std::string::npos)
        << describe(run);
    EXPECT_NE(run.out.find("Read Flash Failed, code 0"), std::string::npos);
    EXPECT_NE(run.out.find(kWarning), std::string::npos);
}

}  // namespace
}  // namespace e2e
