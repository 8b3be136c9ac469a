// A job talking to the virtual chip over an in-process line, with the
// console output of the job's log captured, for tests of the chip flows.
#pragma once

#include "console_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "chips/chip_5810.h"
#include "job/job_record.h"
#include "job/download.h"
#include "serial/inproc_line.h"
#include "sim_harness.h"
#include "support/log.h"
#include "support/util.h"

using Bytes = std::vector<uint8_t>;

inline Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (uint8_t& b : out) b = uint8_t(gen());
    return out;
}

inline Bytes slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }

class ChipFixture : public ::testing::Test {
protected:
    // Flash around the test images, filled with random bytes before each test.
    static constexpr uint32_t kAreaStart = 0x10000;
    static constexpr uint32_t kAreaSize = 0x20000;

    void SetUp() override {
        m_console = std::make_unique<ConsoleCapture>();
    }
    void TearDown() override {
        job.m_uart.Close();
        sim.reset();
        m_console.reset();
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
    }

    // Starts the virtual chip in its boot ROM at 115200 and opens the port.
    void start(const sim::SimConfig& config = sim::SimConfig{}) {
        sim = std::make_unique<SimHarness>(*line, config);
        ASSERT_TRUE(sim->ok()) << sim->error();
        job.m_uart.set_in_process_line(line);
        job.m_baudrate = 115200;
        job.m_retry_count = 3;
        job.m_getbus_timeout = 1.0f;
        job.m_stop = 0;
        job.m_flash_mid = config.flash_mid;
        chip.retry_limit = 3;
        area = random_bytes(kAreaSize, 99);
        sim->set_flash_bytes(kAreaStart, area);
        ASSERT_EQ(job.Connect(0), 1);
    }

    static sim::SimConfig with_faults(const sim::FaultConfig& faults) {
        sim::SimConfig c;
        c.faults = faults;
        return c;
    }

    // Puts an image into slot `index` as the job's loader would (padded with
    // 0xFF to a multiple of 256, CRC over the padded length).
    ImageEntry add_slot_image(int index, uint32_t start, const Bytes& bytes, const std::string& path = "img.bin") {
        const size_t padded = (bytes.size() + 255) / 256 * 256;
        job.m_slots[index].assign(bytes.data(), bytes.size(), padded);
        ImageEntry e;
        e.path = path;
        e.start = start;
        e.length = int32_t(padded);
        e.crc = crc32(job.m_slots[index].data(), padded);
        if (job.m_images.size() <= size_t(index)) job.m_images.resize(size_t(index) + 1);
        job.m_images[size_t(index)] = e;
        return e;
    }

    JobRecord record_of_job() {
        JobRecord r;
        CQN_WIFI_CHIPSET::build_job_record(&job, &r);
        return r;
    }

    // Flash bytes of the virtual chip.
    Bytes flash(uint32_t address, size_t n) { return sim->flash_bytes(address, n); }
    // What the prefill put at an address of the area.
    Bytes prefill(uint32_t address, size_t n) { return slice(area, address - kAreaStart, n); }

    // Commands the device saw with this name (and, when given, first word).
    size_t count_commands(const std::string& name, int64_t word = -1, size_t offset = 0) {
        size_t n = 0;
        for (const sim::CommandRecord& c : sim->commands())
            if (c.name() == name && (word < 0 || c.word(offset) == uint32_t(word))) ++n;
        return n;
    }

    std::string console_text() { return m_console->text(); }

    // A fresh directory for files of this test.
    const std::filesystem::path& temp_dir() {
        if (m_dir.empty()) {
            std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
            for (char& c : name)
                if (c == '/') c = '_';
            m_dir = std::filesystem::temp_directory_path() / ("tesk_chips_" + std::to_string(::getpid()) + "_" + name);
            std::filesystem::remove_all(m_dir);
            std::filesystem::create_directories(m_dir);
        }
        return m_dir;
    }

    std::shared_ptr<InProcessLine> line = std::make_shared<InProcessLine>();
    std::unique_ptr<SimHarness> sim;
    Download job;
    // A concrete chip object through which the shared flows are called.
    CQN_WIFI_5810 chip{&job};
    Bytes area;

private:
    std::unique_ptr<ConsoleCapture> m_console;
    std::filesystem::path m_dir;
};
