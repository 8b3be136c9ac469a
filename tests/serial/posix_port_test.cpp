// The COM port on a real tty device: a pseudo-terminal pair.

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "pty_pair.h"
#include "serial/comm_port.h"
#include "serial/posix_termios2.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median time of `count` reads of a quiet line: a loaded machine delays
// some reads, not most of them.
double median_quiet_read_seconds(CQuarnUartPort& port, int count) {
    std::vector<double> times;
    uint8_t buf[15];
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int got = port.Read(buf, 15);
        times.push_back(seconds_since(start));
        EXPECT_EQ(got, 0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double process_cpu_seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class PosixPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available"; }
    PtyPair pty;
    CQuarnUartPort port;
};

TEST_F(PosixPort, EveryRateIsSetAndSeenByTheOtherEnd) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
    SerialLineInfo info;
    ASSERT_EQ(termios2_read_line_info(pty.master(), info), 0);
    EXPECT_EQ(info.output_speed, 115200u);
    EXPECT_EQ(info.data_bits, 8);
    EXPECT_FALSE(info.parity);
    EXPECT_FALSE(info.two_stop_bits);
    EXPECT_FALSE(info.rts_cts);
    EXPECT_FALSE(info.xon_xoff_out);
    EXPECT_FALSE(info.xon_xoff_in);
    EXPECT_TRUE(info.raw);
    EXPECT_TRUE(info.receiver_on);

    for (int rate : {115200, 921600, 1500000, 2000000, 2600000, 3000000, 961200, 650000, 500000}) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(port.Configure(rate, 0), 1);
        EXPECT_EQ(port.m_baud, rate);
        ASSERT_EQ(termios2_read_line_info(pty.master(), info), 0);
        EXPECT_EQ(info.output_speed, unsigned(rate));
        EXPECT_EQ(info.input_speed, unsigned(rate));
    }
}

TEST_F(PosixPort, ConfigureRefusesAnImpossibleRateAndKeepsTheOldOne) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 921600, 0), 1);
    EXPECT_EQ(port.Configure(0, 0), 0);
    EXPECT_EQ(port.Configure(-5, 0), 0);
    EXPECT_EQ(port.m_baud, 921600);
    SerialLineInfo info;
    ASSERT_EQ(termios2_read_line_info(pty.master(), info), 0);
    EXPECT_EQ(info.output_speed, 921600u);
}

TEST_F(PosixPort, SecondOpenFailsWhileTheFirstHoldsThePort) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
    CQuarnUartPort second;
    EXPECT_EQ(second.OpenPath(pty.slave_path(), 115200, 0), 0);
    EXPECT_EQ(second.last_error(), SerialError::Busy);
    EXPECT_FALSE(second.is_open());

    // Once released (as every reconnect does), the port opens again.
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(second.OpenPath(pty.slave_path(), 115200, 0), 1);
    EXPECT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 0);
    EXPECT_EQ(second.Close(), 1);
    EXPECT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
}

TEST_F(PosixPort, OpenSucceedsThoughThePseudoTerminalHasNoModemLines) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 1), 1);
    EXPECT_TRUE(port.is_open());
    auto start = std::chrono::steady_clock::now();
    port.do_reset_signal();
    EXPECT_GE(seconds_since(start), 0.19);
    // The port is still usable after the refused modem-line calls.
    const std::vector<uint8_t> frame = {0x01, 0xE0, 0xFC, 0x01, 0x00};
    EXPECT_TRUE(port.write_frame(frame.data(), frame.size()));
    EXPECT_EQ(pty.read_far(frame.size()), frame);
}

TEST_F(PosixPort, OpenFailures) {
    EXPECT_EQ(port.OpenPath("/nonexistent/ttyUSB0", 115200, 0), 0);
    EXPECT_EQ(port.last_error(), SerialError::NotFound);

    const std::string plain = ::testing::TempDir() + "posix_port_plain_file";
    std::ofstream(plain) << "x";
    EXPECT_EQ(port.OpenPath(plain, 115200, 0), 0);
    EXPECT_EQ(port.last_error(), SerialError::NotSerial);
    EXPECT_FALSE(port.is_open());
    EXPECT_EQ(port.Close(), 0);
    std::remove(plain.c_str());
}

TEST_F(PosixPort, CloseTwiceReturnsZeroTheSecondTime) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Close(), 0);
}

TEST_F(PosixPort, BytesTravelBothWaysAndReadClearsTheBuffer) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
    const std::vector<uint8_t> out = {0x01, 0xE0, 0xFC, 0x0D, 0x0A, 0x00, 0xFF, 0x11, 0x13};
    ASSERT_TRUE(port.write_frame(out.data(), out.size()));
    // Raw line: CR, LF, NUL, XON and XOFF pass untouched.
    EXPECT_EQ(pty.read_far(out.size()), out);

    pty.write_far({0x04, 0x0E, 0x0D, 0x0A, 0x11});
    uint8_t buf[16];
    memset(buf, 0xAA, sizeof buf);
    int got = 0;
    for (int i = 0; i < 200 && got < 5; ++i) got += port.Read(buf + got, 15 - got);
    ASSERT_EQ(got, 5);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 5), (std::vector<uint8_t>{0x04, 0x0E, 0x0D, 0x0A, 0x11}));
    for (int i = 5; i < 15; ++i) EXPECT_EQ(buf[i], 0) << i;
    EXPECT_EQ(buf[15], 0xAA);
}

// A purge right after a write (the baud switch purges 2 ms after sending its
// command) must not take the command back: on a pseudo-terminal, dropping
// output would reach into the far side's input before it read it.
TEST_F(PosixPort, PurgeKeepsWhatWasWritten) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 1), 1);
    for (int round = 0; round < 20; ++round) {
        const std::vector<uint8_t> command{0x01, 0xE0, 0xFC, 0x01, uint8_t(round)};
        ASSERT_TRUE(port.write_frame(command.data(), command.size()));
        EXPECT_EQ(port.Purge(), 1);
        EXPECT_EQ(pty.read_far(command.size()), command) << "round " << round;
    }
}

TEST_F(PosixPort, PurgeDropsWhatIsQueued) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 1), 1);
    pty.write_far({1, 2, 3, 4});
    usleep(20000);
    EXPECT_EQ(port.Purge(), 1);
    uint8_t buf[8];
    EXPECT_EQ(port.Read(buf, 8), 0);
}

TEST_F(PosixPort, ReadOnAQuietLineReturnsAtOnceInFastLink1) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 1), 1);
    // A read that waited would take 1 ms.
    EXPECT_LT(median_quiet_read_seconds(port, 200), 0.0005);
}

TEST_F(PosixPort, ReadOnAQuietLineWaitsAboutOneMillisecondInFastLink0) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
    const double cpu_start = process_cpu_seconds();
    auto start = std::chrono::steady_clock::now();
    const double median = median_quiet_read_seconds(port, 50);
    const double wall = seconds_since(start);
    const double cpu = process_cpu_seconds() - cpu_start;
    EXPECT_GE(median, 0.0009);
    EXPECT_LT(median, 0.01);
    // Waiting, not spinning.
    EXPECT_LT(cpu, wall * 0.5);
}

TEST_F(PosixPort, ReadInFastLink0ReturnsAsSoonAsTheAskedBytesAreThere) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
    pty.write_far({1, 2, 3});
    usleep(20000);
    uint8_t buf[3];
    EXPECT_EQ(port.Read(buf, 3), 3);
    EXPECT_EQ(buf[2], 3);
}

TEST_F(PosixPort, AHungUpLineDoesNotMakeReadsSpin) {
    ASSERT_EQ(port.OpenPath(pty.slave_path(), 115200, 0), 1);
    pty.close_master();
    uint8_t buf[15];
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(port.Read(buf, 15), 0);
    EXPECT_GE(seconds_since(start), 20 * 0.0009);
    const std::vector<uint8_t> frame = {0x01, 0xE0, 0xFC, 0x01, 0x00};
    EXPECT_FALSE(port.write_frame(frame.data(), frame.size()));
}

TEST(PortNumberMapping, UsbFirstThenAcm) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(::testing::TempDir()) / "tesk_dev_mapping";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "ttyUSB1") << "";
    std::ofstream(dir / "ttyACM1") << "";
    std::ofstream(dir / "ttyACM2") << "";
    const std::string d = dir.string();
    EXPECT_EQ(CCommPort::device_path_for_port(1, d), d + "/ttyUSB1");
    EXPECT_EQ(CCommPort::device_path_for_port(2, d), d + "/ttyACM2");
    EXPECT_EQ(CCommPort::device_path_for_port(3, d), d + "/ttyUSB3");
    EXPECT_EQ(CCommPort::device_path_for_port(12, d), d + "/ttyUSB12");
    fs::remove_all(dir);
}

TEST_F(PosixPort, DevicePathOverrideServesOpenByNumberAndReconnects) {
    port.set_device_path(pty.slave_path());
    ASSERT_EQ(port.Open(7, 115200, 0), 1);
    EXPECT_EQ(port.device_name(), pty.slave_path());
    EXPECT_EQ(port.Close(), 1);
    ASSERT_EQ(port.Open(7, 921600, 0), 1);
    EXPECT_EQ(port.m_baud, 921600);
}

}  // namespace
