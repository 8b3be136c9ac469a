// The abstract chip family: the interface through which a run operation
// works on the chip object that chip selection created, and the procedures
// every family shares (erase planner, download flow, flash access).
#pragma once

#include <cstdint>

#include "job/job_record.h"
#include "flash/flash_waits.h"
#include "job/chip_operations.h"
#include "job/image_entry.h"

class CBootIntf;
class Download;

class CQN_WIFI_CHIPSET : public ChipOperations {
public:
    CQN_WIFI_CHIPSET() = default;
    ~CQN_WIFI_CHIPSET() override = default;

    // ---- job records, download, read and erase flows ----------------------
    // The job records of job/job_record.h, under the names the families use.
    static bool build_download_record(Download* job, JobRecord* record) { return ::build_download_record(job, record); }
    static bool build_job_record(Download* job, JobRecord* record) { return ::build_job_record(job, record); }

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
    // The erase planner's operations, run with this chip's retry bound,
    // waits and reconnect (flash/erase_planner.h tells what they do).
    int32_t EraseFlashBySize(CBootIntf& link, Download* job, uint32_t start, uint32_t end, int32_t max_retries,
                             int print_progress);
    bool erase_image_range(Download* job, JobRecord* record, const ImageEntry* entry, int index, int whole_chip);

    // Waits of the flash procedures (fixed pauses, the protection time limit,
    // the busy poll after a whole-chip erase); tests shorten them.
    FlashWaits flash_waits;

protected:
    // Gets a lost link back (reboot, reconnect, get the bus again); 0 = failed.
    virtual int reconnect_link(Download* job, JobRecord* record);
    // reconnect_link, then the working rate again (job/link_recovery.h).
    bool reestablish_link(CBootIntf& link, Download* job, JobRecord* record);
};
