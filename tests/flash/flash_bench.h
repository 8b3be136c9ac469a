// A host job wired to a virtual chip on an in-process line, with a chip
// object whose erase planner the flash tests drive, and helpers to look at
// what the chip saw and what the host logged.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chips/chipset.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "serial/inproc_line.h"
#include "sim_harness.h"
#include "console_capture.h"
#include "support/log.h"

// A chip family with nothing but the shared procedures; the link
// re-establishment is counted and answered by the test.
class PlannerChip : public CQN_WIFI_CHIPSET {
public:
    bool download() override { return false; }
    bool read() override { return false; }
    bool erase() override { return false; }
    bool extra_operation() override { return false; }

    int reconnects = 0;
    int reconnect_result = 1;
    // Re-establish the link for real: reboot, reopen and get the bus again.
    bool real_reconnect = false;

protected:
    int reconnect_link(Download* job, JobRecord* record) override {
        ++reconnects;
        if (real_reconnect) return CQN_WIFI_CHIPSET::reconnect_link(job, record);
        return reconnect_result;
    }
};

// Fixed pauses asked for by the flash procedures, recorded instead of slept.
class SleepRecorder {
public:
    void install(FlashWaits& waits) {
        waits.sleep = [this](uint32_t ms) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_asked.push_back(ms);
        };
    }
    std::vector<uint32_t> asked() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_asked;
    }
    size_t count(uint32_t ms) {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (uint32_t a : m_asked) n += a == ms;
        return n;
    }

private:
    std::mutex m_mutex;
    std::vector<uint32_t> m_asked;
};

class FlashBench {
public:
    // Starts the chip (unless start_chip is false: a line nobody answers) and
    // opens the job's port, switched to `baud`.
    explicit FlashBench(const sim::SimConfig& config = sim::SimConfig{}, int baud = 921600, bool start_chip = true) {
        if (start_chip) {
            sim_chip = std::make_unique<SimHarness>(*line, config);
            EXPECT_TRUE(sim_chip->ok()) << sim_chip->error();
        }
        job.m_flash_mid = config.flash_mid;
        job.m_baudrate = baud;
        job.m_retry_count = 4;
        job.m_stop = 0;
        chip.retry_limit = job.m_retry_count;
        sleeps.install(chip.flash_waits);
        // Every (re)open of the job's port reaches this line.
        job.m_uart.set_in_process_line(line);
        EXPECT_EQ(job.m_uart.Open(job.m_port, 115200, 0), 1);
        if (start_chip && baud != 115200) {
            // A busy machine may hold the chip's answer past the short
            // time-out; both ends have switched by then, so asking again works.
            CBootIntf link(&job.m_uart);
            int result = 0;
            for (int attempt = 0; attempt < 5 && result != 1; ++attempt) result = link.SetBaudRate(baud, 0);
            EXPECT_EQ(result, 1);
        }
        if (start_chip) sim_chip->with_chip([](sim::VirtualChip& c) { c.command_log().clear(); });
    }
    ~FlashBench() {
        if (sim_chip) sim_chip->stop();
        job.m_uart.Close();
    }

    // Fills the flash with bytes from a fixed seed; returns what it wrote.
    std::vector<uint8_t> prefill(uint32_t length, unsigned seed = 7) {
        std::vector<uint8_t> bytes(length);
        std::mt19937 gen(seed);
        for (auto& b : bytes) b = uint8_t(gen());
        sim_chip->set_flash_bytes(0, bytes);
        return bytes;
    }

    // Commands the chip saw as "Name P1 P2 ..." (parameter bytes in hex).
    std::vector<std::string> command_lines() {
        std::vector<std::string> out;
        for (const sim::CommandRecord& r : sim_chip->commands()) {
            std::string line = r.name();
            char hex[4];
            for (uint8_t p : r.params) {
                std::snprintf(hex, sizeof hex, " %02X", p);
                line += hex;
            }
            out.push_back(line);
        }
        return out;
    }
    size_t count_commands(const std::string& name) {
        size_t n = 0;
        for (const sim::CommandRecord& r : sim_chip->commands()) n += r.name() == name;
        return n;
    }

    std::shared_ptr<InProcessLine> line = std::make_shared<InProcessLine>();
    std::unique_ptr<SimHarness> sim_chip;
    Download job;
    PlannerChip chip;
    SleepRecorder sleeps;
    JobRecord record;
};

inline sim::EraseEvent erase4k(uint32_t address) { return {0x20, address}; }
inline sim::EraseEvent erase64k(uint32_t address) { return {0xD8, address}; }

// 4 KiB erases of every block in [from, to).
inline std::vector<sim::EraseEvent> erase4k_run(uint32_t from, uint32_t to) {
    std::vector<sim::EraseEvent> out;
    for (uint32_t a = from; a < to; a += 0x1000) out.push_back(erase4k(a));
    return out;
}

inline std::vector<sim::EraseEvent> joined(std::initializer_list<std::vector<sim::EraseEvent>> parts) {
    std::vector<sim::EraseEvent> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::string describe(const std::vector<sim::EraseEvent>& erases) {
    std::string out;
    char text[32];
    for (const sim::EraseEvent& e : erases) {
        std::snprintf(text, sizeof text, "%s%02X@0x%05X", out.empty() ? "" : " ", e.spi_opcode, e.address);
        out += text;
    }
    return out;
}
