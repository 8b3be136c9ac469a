// The erase planner: turns a byte range into the 4 KiB and 64 KiB erases the
// boot ROM offers, keeping every byte outside the range.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "flash/erase_planner.h"

#include "job/download.h"
#include "job/link_recovery.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint64_t kBlock = 0x1000;
constexpr uint64_t kBig = 0x10000;
constexpr uint8_t kErase4K = 0x20;
constexpr uint8_t kErase64K = 0xD8;
constexpr uint64_t kAddressSpace = 0x100000000ull;
// Head and tail blocks are read back at this rate.
constexpr int kSafeBaud = 115200;
// A 4 KiB CRC takes the chip no time; one second is the smallest time-out.
constexpr int kBlockCrcSeconds = 1;
// The secure writer reconnects sooner: its erases do not fail for long.
constexpr int32_t kSecureWriterEraseLimit = 3;

bool stopped(const Download* job) { return job->m_stop.load() != 0; }

int percent(uint64_t part, uint64_t whole) { return whole ? int(part * 100 / whole) : 0; }

// One phase of EraseFlashBySize: erases of `step` bytes from cur up to `to`.
// A failed erase is counted and not repeated. False when the failures pass
// max_retries.
bool erase_phase(CBootIntf& link, uint64_t& cur, uint64_t to, uint64_t step, uint8_t opcode, uint64_t start,
                 uint64_t end, int32_t max_retries, int print_progress, int& erased) {
    int failed = 0;
    erased = 0;
    while (cur < to) {
        if (link.FlashErase(opcode, uint32_t(cur)) >= BOOT_OK) {
            ++erased;
            if (print_progress) show_progress("Erasing Flash", percent(cur > start ? cur - start : 0, end - start));
        } else if (++failed > max_retries) {
            job_log(LOG_INFO, "retries > max_retries");
            return false;
        }
        cur += step;
    }
    return true;
}

// Whether the chip's CRC of the 4 KiB block at address equals that of data.
// Read answers carry no check of their own: one changed byte in a head or
// tail block would be written back and change flash outside the range.
bool block_matches(CBootIntf& link, uint32_t address, const uint8_t* data) {
    uint32_t crc = 0;
    return link.CheckCRC(address, uint32_t(kBlock), crc, kBlockCrcSeconds) >= BOOT_OK &&
           crc == crc32(data, size_t(kBlock));
}

// Reads one 4 KiB block at the safe rate and confirms it by CRC, then goes
// back to the working rate. Failures are repeated until they pass `limit`.
bool read_block_slowly(CBootIntf& link, Download* job, uint32_t address, uint8_t* out, int32_t limit) {
    link.SetBaudRate(kSafeBaud, job->m_fast_link);
    bool read = false;
    int failed = 0;
    while (!stopped(job)) {
        if (link.FlashRead4K(address, out) >= BOOT_OK && block_matches(link, address, out)) {
            read = true;
            break;
        }
        if (++failed > limit) break;
    }
    // Back to the working rate on every way out, so the caller finds the
    // link as it left it.
    link.SetBaudRate(job->m_baudrate, job->m_fast_link);
    return read && !stopped(job);
}

// Erase and write of a head or tail block: each repeated on failure until
// the failures pass `limit` or the job is stopped.
bool erase_block(CBootIntf& link, Download* job, uint32_t address, int32_t limit) {
    int failed = 0;
    while (link.FlashErase(kErase4K, address) < BOOT_OK) {
        if (++failed > limit || stopped(job)) return false;
    }
    return !stopped(job);
}

bool write_block(CBootIntf& link, Download* job, uint32_t address, const uint8_t* data, int32_t limit) {
    int failed = 0;
    while (link.FlashWrite4K(address, data) < BOOT_OK) {
        if (++failed > limit || stopped(job)) return false;
    }
    return !stopped(job);
}

// Erases a head or tail block and writes the merged bytes back, until the
// chip's CRC of the block confirms them: the bytes outside the range in it
// are the user's and must come back unchanged.
bool rewrite_block(CBootIntf& link, Download* job, uint32_t address, const uint8_t* data, int32_t limit) {
    int failed = 0;
    for (;;) {
        if (!erase_block(link, job, address, limit)) return false;
        if (!write_block(link, job, address, data, limit)) return false;
        if (block_matches(link, address, data)) return true;
        if (++failed > limit || stopped(job)) {
            job_log(LOG_INFO, "Flash block 0x%08x does not read back as written", address);
            return false;
        }
    }
}

}  // namespace

ErasePlanner::ErasePlanner(Download* job, JobRecord* record, int32_t retry_limit, const FlashWaits& waits,
                           std::function<int()> reconnect)
    : m_job(job), m_record(record), m_retry_limit(retry_limit), m_waits(waits), m_reconnect(std::move(reconnect)) {}

int32_t ErasePlanner::EraseFlashBySize(CBootIntf& link, Download* job, uint32_t start, uint32_t end,
                                       int32_t max_retries, int print_progress) {
    if (!job) return 0;
    job_log(LOG_INFO, "start 0x%x, end 0x%x, max_retries %d", start, end, max_retries);
    // Erases go to whole blocks; starting from the block that holds `start`
    // keeps every later erase on a block boundary, so an unaligned start
    // cannot make the last partial block of the range be skipped.
    uint64_t cur = start & ~(kBlock - 1);
    int erased = 0;

    if (start % kBig != 0) {
        const uint64_t next_big = (uint64_t(start) + kBig - 1) & ~(kBig - 1);
        const uint64_t head_end = std::min<uint64_t>(next_big, end);
        job_log(LOG_INFO, "Erasing 4K, erase_start 0x%x, erase_end 0x%x", start, uint32_t(head_end));
        if (!erase_phase(link, cur, head_end, kBlock, kErase4K, start, end, max_retries, print_progress, erased)) {
            return -1;
        }
        job_log(LOG_INFO, "Erased 4K, tmp_cnt %d", erased);
    }
    if (cur >= end) return 1;

    const uint64_t middle_end = uint64_t(end) & ~(kBig - 1);
    job_log(LOG_INFO, "Erasing 64K, erase_start 0x%x, erase_end 0x%x", uint32_t(cur), uint32_t(middle_end));
    if (!erase_phase(link, cur, middle_end, kBig, kErase64K, start, end, max_retries, print_progress, erased)) {
        return -1;
    }
    job_log(LOG_INFO, "Erased 64K, tmp_cnt %d", erased);

    erased = 0;
    if (cur < end) {
        job_log(LOG_INFO, "Erasing 4K, erase_start 0x%x, end 0x%x", uint32_t(cur), end);
        if (!erase_phase(link, cur, end, kBlock, kErase4K, start, end, max_retries, print_progress, erased)) {
            return -1;
        }
    }
    job_log(LOG_INFO, "Erased the last 4K blocks, tmp_cnt %d", erased);
    return 1;
}

bool ErasePlanner::erase_image_range(const ImageEntry* entry, int index, int whole_chip) {
    if (!m_job || !m_record || !entry) return false;
    if (whole_chip == 1) return erase_whole_chip(index);
    return erase_range(entry, index);
}

bool ErasePlanner::erase_range(const ImageEntry* entry, int index) {
    Download* job = m_job;
    if (index < 0 || index >= Download::kImageSlots) {
        job_log(LOG_INFO, "Image index %d is outside the %d image slots", index, Download::kImageSlots);
        return false;
    }
    if (entry->length < 0) {
        job_log(LOG_INFO, "Erase length %d at 0x%08x is negative", entry->length, entry->start);
        return false;
    }
    const bool secure_writer = !job->m_sm_dl_file.empty();
    uint64_t length = uint32_t(entry->length);
    // The secure writer stores 34 bytes for every started 32.
    if (secure_writer) length = (length + 31) / 32 * 34;
    const uint64_t start = entry->start;
    const uint64_t end = start + length;
    if (end > kAddressSpace) {
        job_log(LOG_INFO, "Erase range 0x%08x + 0x%llx runs past the 4 GiB address space", entry->start,
                static_cast<unsigned long long>(length));
        return false;
    }

    // An empty range has nothing to erase; its block is left alone.
    if (length == 0) return !stopped(job);

    const ImageSlot& data = job->m_slots[index];
    const uint64_t head = start & (kBlock - 1);
    const uint64_t tail = end & (kBlock - 1);
    const int32_t limit = m_retry_limit;
    const int32_t limit5 = m_retry_limit - 5;
    CBootIntf link(&job->m_uart);
    uint8_t block[kBlock];
    uint64_t cur = start;

    if (head != 0) {
        // The first block keeps its bytes before the range: read it, put the
        // entry's first bytes in, erase it and write it back.
        std::printf("Aligning Flash Address...\r");
        std::fflush(stdout);
        const uint32_t first = uint32_t(start & ~(kBlock - 1));
        if (!read_block_slowly(link, job, first, block, limit)) return false;
        const uint64_t n = std::min<uint64_t>(kBlock - head, length);
        data.read(0, block + head, size_t(n));
        if (!rewrite_block(link, job, first, block, limit5)) return false;
        job_log(LOG_INFO, "Aligned Flash Address\n");
        // Done when the range ends inside this block. A range that runs into
        // the next block goes on, so its bytes there are erased and written
        // too, however short the entry is.
        if (head + length <= kBlock) return !stopped(job);
        cur = first + kBlock;
    }

    const uint64_t stop = end & ~(kBlock - 1);
    const uint64_t next_big = (cur + kBig - 1) & ~(kBig - 1);
    if (stop - cur > next_big - cur) {
        // The range runs past the next 64 KiB boundary: reach it with 4 KiB erases.
        job_log(LOG_INFO, "Start 4K Erase");
        for (; cur < next_big; cur += kBlock) {
            if (stopped(job)) return false;
            int failed = 0;
            while (link.FlashErase(kErase4K, uint32_t(cur)) < BOOT_OK) {
                if (++failed > limit5) return false;
                if (stopped(job)) break;
            }
        }
        if (stopped(job)) return false;
        job_log(LOG_INFO, "End 4K Erase");
    }
    job_log(LOG_INFO, "Start 64K Erase");

    const int32_t main_limit = secure_writer ? kSecureWriterEraseLimit : limit;
    while (cur < stop) {
        if (stopped(job)) return false;
        show_progress("Erasing Flash", percent(cur, stop));
        const bool big = stop - cur >= kBig;
        if (!erase_block_or_reconnect(link, big ? kErase64K : kErase4K, uint32_t(cur), main_limit)) {
            return false;
        }
        cur += big ? kBig : kBlock;
    }
    if (stopped(job)) return false;
    job_log(LOG_INFO, "End 64K Erase");

    if (tail != 0) {
        // The last block keeps its bytes after the range.
        job_log(LOG_INFO, "Handling file end");
        std::memset(block, 0xFF, sizeof block);
        if (!read_block_slowly(link, job, uint32_t(stop), block, limit)) return false;
        data.read(size_t(length - tail), block, size_t(tail));
        if (!rewrite_block(link, job, uint32_t(stop), block, limit5)) return false;
        job_log(LOG_INFO, "Handled file end");
    }
    return true;
}

bool ErasePlanner::erase_block_or_reconnect(CBootIntf& link, uint8_t spi_opcode, uint32_t address, int32_t limit) {
    Download* job = m_job;
    int failed = 0;
    bool reconnected = false;
    while (link.FlashErase(spi_opcode, address) < BOOT_OK) {
        if (stopped(job)) return false;
        if (++failed <= limit) continue;
        if (reconnected) {
            job_log(LOG_INFO, "retry failed,RetryCounts = %d ,Flash address = 0x%08x", failed, address);
            return false;
        }
        // Once per block the link is rebuilt from a reset before giving up.
        if (!reestablish_link(link)) return false;
        reconnected = true;
        failed = 0;
    }
    return true;
}

bool ErasePlanner::reestablish_link(CBootIntf& link) { return ::reestablish_link(link, *m_job, m_reconnect); }

