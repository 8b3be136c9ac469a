// Runs a virtual chip on the far end of an in-process serial line, in a
// thread of its own, for tests of the host against the device.
//
//   InProcessLine line;
//   SimHarness chip(line);          // started; default chip (5810, GD25Q16B)
//   ... host code talks through line ...
//   chip.with_chip([](sim::VirtualChip& c) { c.flash().contents()[0]; });
//
// The chip thread and the test share the chip through with_chip, which holds
// the harness lock; never keep a reference to the chip outside it, and do not
// use the line inside it (a modem-line change calls back into the harness).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/inproc_line.h"
#include "virtual_chip.h"

class SimHarness {
public:
    // Creates the chip and starts serving; a bad config fails the test (see error()).
    explicit SimHarness(InProcessLine& line, const sim::SimConfig& config = sim::SimConfig{}, bool start_now = true);
    ~SimHarness();
    SimHarness(const SimHarness&) = delete;
    SimHarness& operator=(const SimHarness&) = delete;

    void start();
    void stop();
    bool ok() const { return m_chip != nullptr; }
    const std::string& error() const { return m_error; }

    template <class F>
    auto with_chip(F&& f) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(*m_chip);
    }

    // Waits (up to two seconds) until the chip has read and handled every
    // byte the host sent. A host that gave up waiting for an answer has
    // still sent its frame; on a loaded machine the chip may not have seen
    // it yet when the host call returns.
    void settle();

    // Short cuts for what tests look at most; the command records settle first.
    std::vector<uint8_t> flash_bytes(uint32_t address, size_t length);
    void set_flash_bytes(uint32_t address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> efuse_bytes();
    uint32_t register_value(uint32_t address);
    std::vector<sim::CommandRecord> commands();
    std::vector<sim::EraseEvent> erases();
    sim::ChipMode mode();
    int uart_baud();

    // Microseconds on the clock the chip runs on.
    static int64_t now_us();

private:
    void run();

    InProcessLine* m_line;
    std::unique_ptr<sim::VirtualChip> m_chip;
    std::string m_error;
    std::mutex m_mutex;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_rounds{0};
    bool m_running = false;
};
