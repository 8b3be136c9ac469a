// The read flow (flash ranges into files) and the erase-entry loop that the
// erase operation of every chip family runs.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "chips/chipset.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"

namespace {

constexpr uint32_t kBlockBytes = 0x1000;

enum class BlockRead { Ok, Failed, Cancelled };

bool is_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// "<path without its last 4 characters>_dump_<date>_<time>_0x<start>_0x<length>.bin".
// The four characters dropped are the extension of the usual "x.bin"; when
// they reach into the directory part they are kept, so that the file stays
// in the directory the user named.
std::string default_file_name(const std::string& path, uint32_t start, uint32_t length, const char* date,
                              const char* clock) {
    std::string name = path;
    if (name.size() >= 4 && std::none_of(name.end() - 4, name.end(), is_separator)) name.resize(name.size() - 4);
    char tail[64];
    std::snprintf(tail, sizeof tail, "_0x%x_0x%x.bin", start, length);
    return name + "_dump" + date + clock + tail;
}

// Writes the whole range to its file; false (after saying so) when the file
// cannot be created or does not take every byte.
bool write_file(const std::string& name, const uint8_t* data, uint32_t length) {
    FILE* file = std::fopen(name.c_str(), "wb+");
    if (!file) {
        job_log(LOG_ERROR, "Cannot create the file : %s", name.c_str());
        return false;
    }
    const size_t written = length ? std::fwrite(data, 1, length, file) : 0;
    const bool closed = std::fclose(file) == 0;
    if (written != length || !closed) {
        job_log(LOG_ERROR, "Cannot write the file : %s (%zu of %u bytes written)", name.c_str(), written,
                length);
        return false;
    }
    return true;
}

}  // namespace

bool CQN_WIFI_CHIPSET::read_images(Download* job, JobRecord* record) {
    if (!job || !record) return false;

    // One time stamp names every file of the run.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[48];
    char clock[48];
    std::snprintf(date, sizeof date, "_%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    std::snprintf(clock, sizeof clock, "_%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);

    // One 4 KiB block with retries; after retry_limit failures in a row the
    // link is brought back once, after as many again the block is given up.
    auto read_block = [&](uint8_t* out, uint32_t address) {
        int failures = 0;
        bool relinked = false;
        for (;;) {
            if (flash_read_4k(job, out, address) >= 1) return BlockRead::Ok;
            if (job->m_stop) return BlockRead::Cancelled;
            if (++failures <= retry_limit) continue;
            if (relinked) {
                job_log(LOG_INFO, "retry failed,RetryCounts = %d ,Flash address = 0x%08x", failures, address);
                return BlockRead::Failed;
            }
            CBootIntf link(&job->m_uart);
            if (!reestablish_link(link, job, record)) return BlockRead::Failed;
            relinked = true;
            failures = 0;
        }
    };

    std::vector<uint8_t> spare;
    for (size_t i = 0; i < record->images.size(); ++i) {
        const ImageEntry& entry = record->images[i];
        if (!entry.selected) continue;
        const int index = int(i);
        const uint32_t length = uint32_t(entry.length);

        job_log(LOG_INFO, "[ %d ] file_path : %s", index, entry.path.c_str());
        job_log(LOG_INFO, "[ %d ] file_length : 0x%x (%d KB)", index, length, int(std::max(length / 1024, 1u)));
        job_log(LOG_INFO, "[ %d ] file_crc : 0x%x", index, entry.crc);
        job_log(LOG_INFO, "Begin ReadFlash...");

        const std::string name =
            job->m_force_create == 1 ? entry.path : default_file_name(entry.path, entry.start, length, date, clock);

        // Ranges beyond the job's slots are read into a buffer of their own.
        std::vector<uint8_t>& buffer = index < Download::kImageSlots ? job->m_slots[index].read_buffer() : spare;
        buffer.assign((uint64_t(length) + kBlockBytes - 1) / kBlockBytes * kBlockBytes, 0xFF);

        for (uint32_t off = 0; off < length; off += kBlockBytes) {
            if (job->m_stop) {
                job_log(LOG_INFO, "User cancel");
                return false;
            }
            const BlockRead r = read_block(buffer.data() + off, entry.start + off);
            if (r == BlockRead::Cancelled) {
                job_log(LOG_INFO, "User cancel");
                return false;
            }
            if (r == BlockRead::Failed) return false;
            show_progress("Reading Flash", int(uint64_t(off) * 100 / length));
        }

        if (!write_file(name, buffer.data(), length)) return false;
        job_log(LOG_INFO, "[ %d ] Successfully, file path : %s", index, name.c_str());
        job_log(LOG_INFO, "End ReadFlash!");
    }
    return true;
}

bool CQN_WIFI_CHIPSET::erase_entries(Download* job, JobRecord* record) {
    if (!job || !record) return false;
    // The range erase writes the slot's bytes into the partly covered blocks
    // at both ends of a range. An erase writes nothing, so every slot must
    // read as erased flash, also when a file was loaded to give the range.
    for (ImageSlot& slot : job->m_slots) slot.clear();

    for (size_t i = 0; i < record->images.size(); ++i) {
        const ImageEntry& entry = record->images[i];
        if (!entry.selected) continue;
        const int index = int(i);
        job_log(LOG_INFO, "Begin EraseFlash");
        bool passed;
        if (record->chip_erase) {
            erase_image_range(job, record, &entry, index, 1);
            passed = job->m_stop == 0 && job->m_chip_erase_done == 1;
        } else {
            job->m_stop = 0;
            // Ranges past the last slot take an (empty) slot of their own.
            passed = erase_image_range(job, record, &entry, std::min(index, Download::kImageSlots - 1), 0);
        }
        if (!passed) {
            job_log(LOG_INFO, "ERR_CODE_EraseFlash");
            return false;
        }
        job_log(LOG_INFO, "EraseFlash ->pass");
    }
    return true;
}
