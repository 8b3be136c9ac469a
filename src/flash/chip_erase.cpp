// Whole-chip mode of the erase planner: one worker sends the erase-all
// command and waits until the flash is done, another prints paced progress,
// and the caller waits for both.

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "flash/chip_erase_table.h"
#include "flash/erase_planner.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "serial/timers.h"
#include "support/log.h"

namespace {

constexpr uint8_t kReadStatus1 = 0x05;
constexpr uint8_t kBusyBit = 0x01;
constexpr uint32_t kProgressStep = 0x1000;

bool stopped(const Download* job) { return job->m_stop.load() != 0; }

}  // namespace

bool ErasePlanner::erase_whole_chip(int index) {
    Download* job = m_job;
    CBootIntf link(&job->m_uart);
    EraseWorkerBlock block;
    block.index = index;
    block.job = job;
    block.link = &link;
    job->m_erase_progress_stop = 0;

    std::thread eraser;
    try {
        eraser = std::thread([this, &block] { chip_erase_worker(&block); });
    } catch (const std::system_error& e) {
        job_log(LOG_INFO, "Cannot start the chip erase thread: %s", e.what());
        job->m_chip_erase_done = 0;
        job->m_erase_progress_stop = 1;
        return false;
    }
    std::thread progress;
    try {
        progress = std::thread([this, &block] { erase_progress_worker(&block); });
    } catch (const std::system_error&) {
        // The erase goes on without its progress line.
    }

    eraser.join();
    job->m_erase_progress_stop = 1;
    if (progress.joinable()) progress.join();
    return job->m_chip_erase_done.load() == 1;
}

int ErasePlanner::chip_erase_worker(EraseWorkerBlock* block) {
    if (!block || !block->job || !block->link) return 0;
    Download* job = block->job;
    if (block->link->FlashEraseAll() < BOOT_OK || stopped(job)) {
        job->m_chip_erase_done = 0;
        return 0;
    }
    const ChipEraseTiming timing = chip_erase_timing(job->m_flash_mid);
    if (timing.wait_ms) m_waits.pause(timing.wait_ms);
    // The fixed wait is what these parts need at least; a slower part must
    // not be written while it is still erasing.
    if (!wait_flash_ready(*block->link)) {
        job->m_chip_erase_done = 0;
        return 0;
    }
    job->m_chip_erase_done = 1;
    return 1;
}

bool ErasePlanner::wait_flash_ready(CBootIntf& link) {
    Download* job = m_job;
    CalcTimer timer(true);
    const int32_t unanswered_limit = std::max<int32_t>(m_retry_limit, 1);
    int32_t unanswered = 0;
    bool told = false;
    for (;;) {
        if (stopped(job)) return false;
        uint8_t status = 0;
        if (link.FlashReadSR(kReadStatus1, status) >= BOOT_OK) {
            unanswered = 0;
            if ((status & kBusyBit) == 0) return true;
            if (!told) {
                job_log(LOG_DETAIL, "Flash still busy after the chip erase wait, polling its status");
                told = true;
            }
        } else if (++unanswered >= unanswered_limit) {
            job_log(LOG_INFO, "Flash status unreadable after chip erase");
            return false;
        }
        if (timer.elapsed() > m_waits.busy_limit_seconds) {
            job_log(LOG_INFO, "Flash still busy %.1f s after chip erase", m_waits.busy_limit_seconds);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(m_waits.busy_poll_interval_ms));
    }
}

int ErasePlanner::erase_progress_worker(EraseWorkerBlock* block) {
    if (!block || !block->job) return 0;
    Download* job = block->job;
    uint64_t length = 0;
    if (block->index >= 0 && size_t(block->index) < job->m_images.size()) {
        length = uint64_t(std::max<int32_t>(job->m_images[size_t(block->index)].length, 0));
    }
    const ChipEraseTiming timing = chip_erase_timing(job->m_flash_mid);
    // Nothing to show and nothing to pace.
    if (!timing.progress && timing.step_pause_ms == 0) return 1;
    for (uint64_t offset = 0; offset < length; offset += kProgressStep) {
        if (job->m_erase_progress_stop.load() == 1 || stopped(job)) break;
        if (timing.progress) show_progress("Erasing Flash", int(offset * 100 / length));
        if (timing.step_pause_ms) m_waits.pause(timing.step_pause_ms);
    }
    return 1;
}
