// The erase planner: a byte range turned into the 4 KiB and 64 KiB erases
// the boot ROM offers, keeping every byte outside the range, and the
// whole-chip erase with its two workers.
//
// It runs on behalf of a chip procedure, which lends it the bound of its
// retry loops, its waits and the way it gets a lost link back.
#pragma once

#include <cstdint>
#include <functional>

#include "flash/flash_waits.h"
#include "job/image_entry.h"

class CBootIntf;
class Download;
struct JobRecord;

class ErasePlanner {
public:
    // reconnect rebuilds a lost link (reboot, reconnect, get the bus again)
    // and returns 0 when that failed.
    ErasePlanner(Download* job, JobRecord* record, int32_t retry_limit, const FlashWaits& waits,
                 std::function<int()> reconnect);

    // Erases [start, end) with 4 KiB erases up to the next 64 KiB boundary,
    // 64 KiB erases over the aligned middle and 4 KiB erases over the rest.
    // 1 done, -1 too many failed erases, 0 without a job.
    static int32_t EraseFlashBySize(CBootIntf& link, Download* job, uint32_t start, uint32_t end,
                                    int32_t max_retries, int print_progress);

    // Prepares the flash for one entry: exactly [start, start + length) is
    // erased, other bytes of partly covered blocks are kept. whole_chip 1
    // erases the whole chip instead.
    bool erase_image_range(const ImageEntry* entry, int index, int whole_chip);

    // What the two whole-chip erase workers share; owned by the caller and
    // alive until both have ended.
    struct EraseWorkerBlock {
        int32_t index = 0;
        Download* job = nullptr;
        CBootIntf* link = nullptr;
    };
    // Thread entry points of the whole-chip erase; each returns 1 or 0.
    int chip_erase_worker(EraseWorkerBlock* block);
    int erase_progress_worker(EraseWorkerBlock* block);

private:
    bool erase_range(const ImageEntry* entry, int index);
    bool erase_whole_chip(int index);
    bool erase_block_or_reconnect(CBootIntf& link, uint8_t spi_opcode, uint32_t address, int32_t limit);
    bool reestablish_link(CBootIntf& link);
    bool wait_flash_ready(CBootIntf& link);

    Download* m_job;
    JobRecord* m_record;
    int32_t m_retry_limit;
    const FlashWaits& m_waits;
    std::function<int()> m_reconnect;
};
