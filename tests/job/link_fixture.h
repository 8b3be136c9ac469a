// A job whose port is wired to the in-process virtual chip, with the link
// counters, the chip holder and a mark in the run log reset for each test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "job/current_chip.h"
#include "job/download.h"
#include "job/link_counters.h"
#include "job_test_support.h"
#include "serial/inproc_line.h"
#include "sim_harness.h"

// 01 E0 FC FF F4 05 00 0E 9F 00 00 00: the JEDEC-id read.
inline const Bytes kFlashMidFrame = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x0E, 0x9F, 0x00, 0x00, 0x00};
// Start of its answer (the length byte that follows is 05, or 06 with a
// status byte); the id is bytes 12 to 14.
inline const Bytes kFlashMidAnswerHead = {0x04, 0x0E, 0xFF, 0x01, 0xE0, 0xFC, 0xF4};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunLogFile::instance();
        link_counters().reset();
        reset_current_chip();
        job.m_getbus_timeout = 1.0f;
        job.m_retry_count = 3;
        job.m_baudrate = 115200;
        job.m_uart.set_in_process_line(line);
        m_log_mark = RunLogFile::instance().mark();
    }
    void TearDown() override {
        job.m_uart.Close();
        chip.reset();
        reset_current_chip();
    }

    // A chip on `chip_line` (the job's line unless a tap sits between).
    void start_chip(const sim::SimConfig& config, InProcessLine* chip_line = nullptr) {
        chip = std::make_unique<SimHarness>(chip_line ? *chip_line : *line, config);
        ASSERT_TRUE(chip->ok()) << chip->error();
    }
    void connect() { ASSERT_EQ(job.Connect(0), 1); }

    std::string log() const { return RunLogFile::instance().since(m_log_mark); }

    // Commands of a name the chip received; `address` filters register commands.
    size_t commands(const std::string& name, long address = -1) {
        size_t n = 0;
        for (const sim::CommandRecord& r : chip->commands())
            if (r.name() == name && (address < 0 || r.word(0) == uint32_t(address))) ++n;
        return n;
    }

    bool wait_for_mode(sim::ChipMode mode) {
        for (int i = 0; i < 1000; ++i) {
            if (chip->mode() == mode) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    static double seconds_since(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    std::shared_ptr<InProcessLine> line = std::make_shared<InProcessLine>();
    std::unique_ptr<SimHarness> chip;
    Download job;
    ConsoleCapture console;

private:
    size_t m_log_mark = 0;
};

inline sim::SimConfig chip_config(uint32_t chip_id) {
    sim::SimConfig config;
    config.chip_id = chip_id;
    return config;
}
