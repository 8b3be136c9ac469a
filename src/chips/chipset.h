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

    // ---- job records, download, read and erase flows ----------------------
    // Snapshot of the job for a download. The image files are loaded again
    // so that each entry's slot holds exactly what is written. False when a
    // file cannot be loaded any more (the download must not go on without it).
    static bool build_download_record(Download* job, JobRecord* record);
    // Snapshot of the job for a read or an erase; the list is copied as it is.
    static bool build_job_record(Download* job, JobRecord* record);

    // Writes every selected image of the record (erase, 4 KiB sectors with
    // retries, CRC check), then the MAC address and the device name.
    // verify_mode 1 checks each image with one CRC over the whole image,
    // 0 checks every sector right after writing it.
    bool download_images(Download* job, JobRecord* record, int verify_mode);

    // Reads every selected range of the record into its file.
    bool read_images(Download* job, JobRecord* record);

    // Erases every selected entry of the record in turn, whole chip or range
    // by range as the record says; stops at the first failure.
    bool erase_entries(Download* job, JobRecord* record);

    // One flash command on the job's port: 0 without a job, -1 without an
    // open port (or for an unknown block kind), else the command's result.
    static int32_t flash_write_4k(Download* job, const uint8_t* data, uint32_t address);
    // kind 0: 4 KiB, 1: 64 KiB, 2: 32 KiB; the address is rounded down to 4 KiB.
    static int32_t flash_erase_block(Download* job, uint32_t address, int kind);
    static int32_t flash_read_4k(Download* job, uint8_t* buffer, uint32_t address);

    // Replaces `length` bytes at `address`, keeping the rest of the 4 KiB
    // sectors they fall in (read, erase, merge, write, read back and compare).
    // 1 on success; -10 no job, -1 read failed, -2 erase failed, -3 write
    // failed, -4 read-back failed, -5 read-back differs, -6 bad arguments.
    static int32_t write_flash_patch(Download* job, uint32_t address, const uint8_t* data, uint32_t length);

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
