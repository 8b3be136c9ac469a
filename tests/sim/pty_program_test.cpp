// The tesk_sim program over its pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "sim_process.h"
#include "sim_test_util.h"

#ifdef TESK_SIM_PATH

namespace {

namespace fs = std::filesystem;

class SimProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tesk_sim_prog_" + std::to_string(getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(SimProgram, LinkCheckBaudSwitchFlashIdAndAHostLeftBehind) {
    SimProcess sim;
    std::string link = (dir / "port").string();
    ASSERT_TRUE(sim.start(TESK_SIM_PATH, {"--link", link})) << sim.error();
    EXPECT_EQ(fs::read_symlink(link).string(), sim.pty_path());

    PtyHost host;
    ASSERT_TRUE(host.open(link, 115200));
    ASSERT_TRUE(host.write(kLinkCheck));
    EXPECT_EQ(hex(host.read(8, 3000)), hex(kLinkCheckAnswer));

    // Both ends to 2000000: the host switches 2 ms after sending.
    ASSERT_TRUE(host.write(B("01 E0 FC 06 0F 80 84 1E 00 0F")));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(host.set_baud(2000000));
    EXPECT_EQ(hex(host.read(12, 3000)), "04 0E 09 01 E0 FC 0F 80 84 1E 00 0F");
    ASSERT_TRUE(host.write(B("01 E0 FC FF F4 05 00 0E 9F 00 00 00")));
    EXPECT_EQ(hex(host.read(15, 3000)), "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 15");

    // A host back at 115200 is neither understood nor answered (once bytes
    // it wrote before the switch could no longer be arriving).
    ASSERT_TRUE(host.set_baud(115200));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(host.write(kLinkCheck));
    EXPECT_TRUE(host.read(1, 300).empty());
    // At the chip's rate it is heard again.
    ASSERT_TRUE(host.set_baud(2000000));
    ASSERT_TRUE(host.write(kLinkCheck));
    EXPECT_EQ(hex(host.read(8, 3000)), hex(kLinkCheckAnswer));

    host.close();
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "link removed at exit";
}

TEST_F(SimProgram, HostThatDoesNotSwitchGetsNoAnswer) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(TESK_SIM_PATH, {})) << sim.error();
    PtyHost host;
    ASSERT_TRUE(host.open(sim.pty_path(), 115200));
    ASSERT_TRUE(host.write(B("01 E0 FC 06 0F 80 84 1E 00 0F")));
    // Longer than the simulator waits for a slow host to switch.
    EXPECT_TRUE(host.read(1, 1300).empty()) << "the answer went out at 2000000";
    ASSERT_TRUE(host.write(kLinkCheck));
    EXPECT_TRUE(host.read(1, 300).empty());
    host.close();
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimProgram, StateOfOneRunIsThereInTheNext) {
    std::string state = (dir / "state").string();
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start(TESK_SIM_PATH, {"--state", state, "--flash", "GD25Q64"})) << sim.error();
        PtyHost host;
        ASSERT_TRUE(host.open(sim.pty_path(), 115200));
        ASSERT_TRUE(host.write(B("01 E0 FC FF F4 0E 00 06 00 10 00 00 31 32 33 34 35 36 37 38 39")));
        EXPECT_EQ(hex(host.read(16, 3000)), "04 0E FF 01 E0 FC F4 07 00 06 00 00 10 00 00 09");
        ASSERT_TRUE(host.write(B("01 E0 FC 09 01 74 00 80 00 01 05 00 80")));  // an eFuse read command
        EXPECT_EQ(host.read(15, 3000).size(), 15u);
        host.close();
        EXPECT_EQ(sim.stop(), 0);
    }
    SimProcess again;
    ASSERT_TRUE(again.start(TESK_SIM_PATH, {"--state", state})) << again.error();
    PtyHost host;
    ASSERT_TRUE(host.open(again.pty_path(), 115200));
    // The flash model came from the state, and so did the bytes.
    ASSERT_TRUE(host.write(B("01 E0 FC FF F4 05 00 0E 9F 00 00 00")));
    EXPECT_EQ(hex(host.read(15, 3000)), "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 17");
    ASSERT_TRUE(host.write(B("01 E0 FC 09 10 00 10 00 00 08 10 00 00")));
    EXPECT_EQ(hex(host.read(11, 3000)), "04 0E 08 01 E0 FC 10 D9 C6 0B 34");
    host.close();
    EXPECT_EQ(again.stop(), 0);

    // A second simulator on the same state is refused while the first runs.
    SimProcess first, second;
    ASSERT_TRUE(first.start(TESK_SIM_PATH, {"--state", state})) << first.error();
    EXPECT_FALSE(second.start(TESK_SIM_PATH, {"--state", state}, 3000));
    first.stop();
}

TEST_F(SimProgram, RebootTextBringsTheFirmwareBack) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(TESK_SIM_PATH, {"--reboot-text", "rst\\r\\n", "--fault-noise", "2"})) << sim.error();
    PtyHost host;
    ASSERT_TRUE(host.open(sim.pty_path(), 115200));
    ASSERT_TRUE(host.write(kReboot));
    ASSERT_TRUE(host.write(kLinkCheck));
    EXPECT_TRUE(host.read(1, 300).empty());
    ASSERT_TRUE(host.write({'r', 's', 't', '\r', '\n'}));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(host.write(kLinkCheck));
    Bytes answer = host.read(10, 3000);
    ASSERT_EQ(answer.size(), 10u);
    EXPECT_EQ(hex(Bytes(answer.begin() + 2, answer.end())), hex(kLinkCheckAnswer)) << "two noise bytes first";
    host.close();
    EXPECT_EQ(sim.stop(), 0);
}

// A serial port forgets its exclusive use at the last close; so must the
// pseudo-terminal, or a second host that is not root could never open it.
TEST_F(SimProgram, ExclusiveUseEndsWhenTheHostCloses) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(TESK_SIM_PATH, {})) << sim.error();
    int fd = ::open(sim.pty_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
    // An answer the host never reads.
    ASSERT_EQ(::write(fd, kLinkCheck.data(), kLinkCheck.size()), ssize_t(kLinkCheck.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::close(fd);
    int excl = 1;
    for (int i = 0; i < 100 && excl; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fd = ::open(sim.pty_path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
        ::close(fd);
    }
    EXPECT_EQ(excl, 0);
    // The next host starts with nothing stale to read.
    PtyHost host;
    ASSERT_TRUE(host.open(sim.pty_path(), 115200));
    EXPECT_TRUE(host.read(1, 100).empty());
    host.close();
    EXPECT_EQ(sim.stop(), 0);
}

// Sends link checks until the ROM answers one (at most about 3 s).
bool knock_until_answered(PtyHost& host) {
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (!host.write(kLinkCheck)) return false;
        if (hex(host.read(8, 100)) == hex(kLinkCheckAnswer)) {
            host.drain(50);  // late answers of earlier knocks
            return true;
        }
    }
    return false;
}

TEST_F(SimProgram, ResetOnOpenStandsInForTheResetPulse) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(TESK_SIM_PATH, {"--reset-on-open"})) << sim.error();
    PtyHost host;
    ASSERT_TRUE(host.open(sim.pty_path(), 115200));
    // The reset that stands in for the pulse follows the open a moment later;
    // knock until the ROM answers, as the tool does.
    ASSERT_TRUE(knock_until_answered(host));
    // Leave the chip at 921600, and go away.
    ASSERT_TRUE(host.write(B("01 E0 FC 06 0F 00 10 0E 00 0F")));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(host.set_baud(921600));
    EXPECT_EQ(host.read(12, 3000).size(), 12u);
    host.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The next host finds the boot ROM at 115200.
    ASSERT_TRUE(host.open(sim.pty_path(), 115200));
    EXPECT_TRUE(knock_until_answered(host));
    host.close();
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimProgram, HelpAndBadOptions) {
    std::string out = (dir / "help.txt").string();
    std::string cmd = std::string(TESK_SIM_PATH) + " --help > " + out;
    EXPECT_EQ(system(cmd.c_str()), 0);
    EXPECT_GT(fs::file_size(out), 2000u);
    cmd = std::string(TESK_SIM_PATH) + " --flash NOPE 2>/dev/null";
    EXPECT_NE(system(cmd.c_str()), 0);
}

}  // namespace

#endif
