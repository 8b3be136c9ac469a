// The abstract chip family: the interface through which a run operation
// works on the chip object that chip selection created, and the procedures
// every family shares (erase planner, download flow, flash access).
#pragma once

#include <cstdint>

#include "chips/job_record.h"
#include "flash/flash_waits.h"
#include "job/image_entry.h"

class CBootIntf;
class Download;

class CQN_WIFI_CHIPSET {
public:
    CQN_WIFI_CHIPSET() = default;
    virtual ~CQN_WIFI_CHIPSET() = default;
    CQN_WIFI_CHIPSET(const CQN_WIFI_CHIPSET&) = delete;
    CQN_WIFI_CHIPSET& operator=(const CQN_WIFI_CHIPSET&) = delete;

    virtual bool download() = 0;
    virtual bool read() = 0;
    virtual bool erase() = 0;
    virtual bool extra_operation() = 0;

    // Bound of the retry loops; chip selection sets it to the job's retry count.
    int32_t retry_limit = 20;

    // ---- erase planner ---------------------------------------------------
    // Erases [start, end) with 4 KiB erases up to the next 64 KiB boundary,
    // 64 KiB erases over the aligned middle and 4 KiB erases over the rest.
    int32_t EraseFlashBySize(CBootIntf& link, Download* job, uint32_t start, uint32_t end, int32_t max_retries,
                             int print_progress);
    // Prepares the flash for one entry: exactly [start, start + length) is
    // erased, other bytes of partly covered blocks are kept. whole_chip 1
    // erases the whole chip instead.
    bool erase_image_range(Download* job, JobRecord* record, const ImageEntry* entry, int index, int whole_chip);

    // Waits of the flash procedures (fixed pauses, the protection time limit,
    // the busy poll after a whole-chip erase); tests shorten them.
    FlashWaits flash_waits;

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

protected:
    // Gets a lost link back (reboot, reconnect, get the bus again); 0 = failed.
    virtual int reconnect_link(Download* job, JobRecord* record);

private:
    bool erase_range(Download* job, JobRecord* record, const ImageEntry* entry, int index);
    bool erase_whole_chip(Download* job, int index);
    bool erase_block_or_reconnect(CBootIntf& link, Download* job, JobRecord* record, uint8_t spi_opcode,
                                  uint32_t address, int32_t limit);
    bool reestablish_link(CBootIntf& link, Download* job, JobRecord* record);
    bool wait_flash_ready(CBootIntf& link, Download* job);
};
