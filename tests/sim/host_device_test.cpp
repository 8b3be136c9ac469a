// The virtual chip through the host's own serial devices: the POSIX device on
// the tesk_sim program's pseudo-terminal, and the in-process device on the
// test harness.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "serial/inproc_line.h"
#include "serial/serial_device.h"
#include "sim_harness.h"
#include "sim_process.h"
#include "sim_test_util.h"

namespace {

Bytes device_read(SerialDevice& dev, size_t count, int timeout_ms) {
    Bytes out(count);
    size_t got = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got < count && std::chrono::steady_clock::now() < end) {
        size_t n = 0;
        if (dev.read(out.data() + got, count - got, n) != SerialError::Ok) break;
        got += n;
    }
    out.resize(got);
    return out;
}

bool device_write(SerialDevice& dev, const Bytes& bytes) {
    return dev.write(bytes.data(), bytes.size()) == SerialError::Ok;
}

#ifdef TESK_SIM_PATH
TEST(HostDeviceOnSimProgram, LinkCheckBaudSwitchFlashIdAndAHostLeftBehind) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(TESK_SIM_PATH, {})) << sim.error();
    SerialError error;
    int sys_errno = 0;
    std::unique_ptr<SerialDevice> dev = open_posix_serial_device(sim.pty_path(), error, sys_errno);
    ASSERT_TRUE(dev) << serial_error_text(error);
    ASSERT_EQ(dev->configure(115200), SerialError::Ok);
    EXPECT_EQ(dev->set_rts(true), SerialError::ModemUnsupported);

    ASSERT_TRUE(device_write(*dev, kLinkCheck));
    EXPECT_EQ(hex(device_read(*dev, 8, 3000)), hex(kLinkCheckAnswer));

    ASSERT_TRUE(device_write(*dev, B("01 E0 FC 06 0F 80 84 1E 00 0F")));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(dev->configure(2000000), SerialError::Ok);
    EXPECT_EQ(hex(device_read(*dev, 12, 3000)), "04 0E 09 01 E0 FC 0F 80 84 1E 00 0F");
    ASSERT_TRUE(device_write(*dev, B("01 E0 FC FF F4 05 00 0E 9F 00 00 00")));
    EXPECT_EQ(hex(device_read(*dev, 15, 3000)), "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 15");

    ASSERT_EQ(dev->configure(115200), SerialError::Ok);
    ASSERT_TRUE(device_write(*dev, kLinkCheck));
    EXPECT_TRUE(device_read(*dev, 1, 300).empty());

    // The host's close ends its exclusive use; the port opens again.
    dev->close();
    dev = open_posix_serial_device(sim.pty_path(), error, sys_errno);
    EXPECT_TRUE(dev) << serial_error_text(error);
    dev.reset();
    EXPECT_EQ(sim.stop(), 0);
}
#endif

TEST(HostDeviceOnHarness, ResetPulseAndBaudSwitch) {
    auto line = std::make_shared<InProcessLine>();
    SimHarness chip(*line);
    SerialError error;
    std::unique_ptr<SerialDevice> dev = open_in_process_serial_device(line, error);
    ASSERT_TRUE(dev) << serial_error_text(error);
    ASSERT_EQ(dev->configure(115200), SerialError::Ok);

    // Firmware running; the host's reset pulse brings the ROM back.
    ASSERT_TRUE(device_write(*dev, kReboot));
    ASSERT_TRUE(device_write(*dev, kLinkCheck));
    EXPECT_TRUE(device_read(*dev, 1, 100).empty());
    dev->set_dtr(false);
    dev->set_rts(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    dev->set_rts(false);
    ASSERT_TRUE(device_write(*dev, kLinkCheck));
    EXPECT_EQ(hex(device_read(*dev, 8, 3000)), hex(kLinkCheckAnswer));

    ASSERT_TRUE(device_write(*dev, B("01 E0 FC 06 0F 00 10 0E 00 0F")));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(dev->configure(921600), SerialError::Ok);
    EXPECT_EQ(hex(device_read(*dev, 12, 3000)), "04 0E 09 01 E0 FC 0F 00 10 0E 00 0F");
    EXPECT_EQ(chip.uart_baud(), 921600);
    dev.reset();
}

}  // namespace
