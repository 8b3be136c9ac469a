// The download flow every chip family shares: per image erase, 4 KiB sector
// writes with retries and recovery, CRC verification; then the MAC address
// and the device name.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "chips/chipset.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "serial/comm_port.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint32_t kSectorBytes = 0x1000;
// Write commands of a full sector's main attempt, and CRC requests per check.
constexpr int kSectorWriteTries = 5;
constexpr int kCrcRequestTries = 5;
// A sector is given up after this many cycles of main attempt plus recovery.
constexpr int kSectorCycles = 6;
constexpr int kMacAttempts = 20;
constexpr int kDevNameAttempts = 20;
constexpr uint32_t kMacBytes = 6;
constexpr uint32_t kDevNameBytes = 32;

bool all_ff(const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (data[i] != 0xFF) return false;
    return true;
}

// CRC-32 of the first `length` bytes of a slot (0xFF beyond what it holds).
uint32_t slot_crc(const ImageSlot& slot, uint32_t length) {
    if (slot.size() >= length) return crc32(slot.data(), length);
    std::vector<uint8_t> bytes(length);
    slot.read(0, bytes.data(), length);
    return crc32(bytes.data(), length);
}

void put_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// The secure writer's CRC command: the CRC command's short form with a third
// word, answered like the CRC command.
int secure_check_crc(CBootIntf& link, uint32_t start, uint32_t end, uint32_t third, uint32_t& crc, int timeout) {
    if (!link.port()) return BOOT_TIMEOUT;
    uint8_t frame[17] = {0x01, 0xE0, 0xFC, 0x0D, 0x10};
    put_le32(frame + 5, start);
    put_le32(frame + 9, end);
    put_le32(frame + 13, third);
    uint8_t response[11] = {};
    link.SendCommand(frame, sizeof frame, response, sizeof response, double(timeout));
    int r;
    while ((r = link.PollResponse()) == 0) {
    }
    link.port()->m_resp_buf = nullptr;
    if (r < 0) return BOOT_TIMEOUT;
    static const uint8_t head[7] = {0x04, 0x0E, 0x08, 0x01, 0xE0, 0xFC, 0x10};
    if (std::memcmp(response, head, sizeof head) != 0) return BOOT_WRONG_ANSWER;
    crc = uint32_t(response[7]) | uint32_t(response[8]) << 8 | uint32_t(response[9]) << 16 |
          uint32_t(response[10]) << 24;
    return BOOT_OK;
}

// One 4 KiB step of an image: flash address, the image bytes that belong
// there and the 4096 bytes written (the image bytes, then 0xFF).
struct Sector {
    uint32_t address;     // start + offset
    uint32_t offset;      // offset inside the image
    uint32_t image_bytes; // bytes of the image in this step (4096 except maybe the last)
    bool last;            // the image ends within this step
    uint8_t data[kSectorBytes];
};

void load_sector(const ImageSlot& slot, const ImageEntry& entry, uint32_t offset, Sector& s) {
    const uint32_t length = uint32_t(entry.length);
    s.address = entry.start + offset;
    s.offset = offset;
    s.image_bytes = std::min(kSectorBytes, length - offset);
    s.last = length - offset <= kSectorBytes;
    std::memset(s.data, 0xFF, kSectorBytes);
    slot.read(offset, s.data, s.image_bytes);
}

// Gets a lost link back; false (with its message) when it cannot.
using Relink = std::function<bool()>;

// Writes and checks one sector. The check covers the image's own bytes of
// the step: where the image ends inside a flash sector, or does not start on
// a sector boundary, the bytes beside it belong to someone else, and the
// recovery merges the image into the sector instead of erasing it whole.
//
// A sector gets the link re-established once: as soon as a whole cycle hears
// nothing from the chip (more cycles on a dead link only cost time), or else
// when its cycles run out, before it is given up.
class SectorWriter {
public:
    SectorWriter(Download* job, int verify_mode, int crc_timeout, Relink relink)
        : m_job(job),
          m_verify_mode(verify_mode),
          m_timeout(crc_timeout),
          m_secure(!job->m_sm_dl_file.empty()),
          m_relink(std::move(relink)) {}

    bool write(const Sector& s) {
        const bool whole = (s.address & (kSectorBytes - 1)) == 0 && s.image_bytes == kSectorBytes;
        // The secure writer checks whole 4 KiB steps against the CRC it is given.
        const uint32_t check_bytes = m_secure ? kSectorBytes : s.image_bytes;
        const uint32_t want = crc32(s.data, check_bytes);
        bool mismatch_logged = false;
        auto note_mismatch = [&](int level) {
            if (!mismatch_logged) job_log(level, "CheckCRC ->fail ,Address = 0x%08x", s.address);
            mismatch_logged = true;
        };

        bool relinked = false;
        for (int cycle = 0;; ++cycle) {
            if (cycle >= kSectorCycles) {
                if (relinked) {
                    job_log(LOG_INFO, "retry failed,RetryCounts = %d ,File address = 0x%08x", cycle, s.offset);
                    return false;
                }
                if (!m_relink()) return false;
                relinked = true;
                cycle = 0;
            }
            m_heard = false;
            // Main attempt.
            bool wrote = false;
            const int tries = s.last ? 1 : kSectorWriteTries;
            for (int t = 0; t < tries && !wrote; ++t)
                wrote = heard(CQN_WIFI_CHIPSET::flash_write_4k(m_job, s.data, s.address)) >= 1;
            if (wrote) {
                if (m_verify_mode == 1) return true;
                if (m_secure && !s.last && all_ff(s.data, kSectorBytes)) return true;
                if (check(s, check_bytes, want, s.last ? 1 : kCrcRequestTries)) return true;
                note_mismatch(s.last ? LOG_INFO : LOG_DETAIL);
            }
            // Recovery.
            if (recover(s, whole)) {
                if (m_verify_mode == 1) return true;
                if (check(s, check_bytes, want, 1)) return true;
                note_mismatch(LOG_INFO);
            }
            if (!m_heard && !relinked) {
                if (!m_relink()) return false;
                relinked = true;
            }
        }
    }

    // True when the flash holds the step's image bytes. A request that got
    // no answer is not repeated: after its time-out the recovery is the
    // better next step.
    bool check(const Sector& s, uint32_t bytes, uint32_t want, int tries) {
        CBootIntf link(&m_job->m_uart);
        for (int t = 0; t < tries; ++t) {
            uint32_t value = 0;
            const int r = heard(m_secure ? secure_check_crc(link, s.address, s.address + 0xFFF, s.last ? want : 0,
                                                            value, m_timeout)
                                         : link.CheckCRC(s.address, bytes, value, m_timeout));
            if (r >= 1) return value == want;
            if (r == BOOT_TIMEOUT) break;
        }
        return false;
    }

private:
    int heard(int result) {
        if (result != BOOT_TIMEOUT) m_heard = true;
        return result;
    }

    bool recover(const Sector& s, bool whole) {
        if (whole || m_secure) {
            if (heard(CQN_WIFI_CHIPSET::flash_erase_block(m_job, s.address, 0)) < 1) return false;
            return heard(CQN_WIFI_CHIPSET::flash_write_4k(m_job, s.data, s.address)) >= 1;
        }
        // -1: not even the sector could be read.
        const int32_t r = CQN_WIFI_CHIPSET::write_flash_patch(m_job, s.address, s.data, s.image_bytes);
        if (r != -1) m_heard = true;
        return r >= 1;
    }

    Download* m_job;
    int m_verify_mode;
    int m_timeout;
    bool m_secure;
    Relink m_relink;
    bool m_heard = false;
};

// Requests the chip's CRC of [start, start + length); false when no request
// is answered (a time-out is not repeated).
bool request_crc(Download* job, uint32_t start, uint32_t length, int timeout, uint32_t& value) {
    CBootIntf link(&job->m_uart);
    for (int t = 0; t < kCrcRequestTries; ++t) {
        const int r = link.CheckCRC(start, length, value, timeout);
        if (r >= 1) return true;
        if (r == BOOT_TIMEOUT) break;
    }
    return false;
}

// After a whole-image CRC mismatch: finds the sectors that differ and writes
// them again with per-sector checks.
bool repair_image(Download* job, const ImageSlot& slot, const ImageEntry& entry, int timeout, const Relink& relink) {
    SectorWriter writer(job, 0, timeout, relink);
    const uint32_t length = uint32_t(entry.length);
    Sector s;
    for (uint32_t off = 0; off < length; off += kSectorBytes) {
        if (job->m_stop) return false;
        load_sector(slot, entry, off, s);
        const uint32_t want = crc32(s.data, s.image_bytes);
        uint32_t value = 0;
        if (!request_crc(job, s.address, s.image_bytes, timeout, value)) return false;
        if (value == want) continue;
        job_log(LOG_INFO, "CheckCRC ->fail ,Address = 0x%08x", s.address);
        if (!writer.write(s)) return false;
    }
    return true;
}

bool verify_image(Download* job, const ImageSlot& slot, const ImageEntry& entry, int timeout, const Relink& relink) {
    job_log(LOG_INFO, "Begin Read CRC Value");
    const uint32_t length = uint32_t(entry.length);
    if (length == 0) {
        job_log(LOG_INFO, "CRC_Verify ->pass");
        return true;
    }
    const uint32_t want = slot_crc(slot, length);
    uint32_t value = 0;
    // An unanswered request gets the link back once and is asked again.
    bool answered = request_crc(job, entry.start, length, timeout, value) ||
                    (relink() && request_crc(job, entry.start, length, timeout, value));
    if (answered && value != want) {
        // A sector that took a bit error is found and written again rather
        // than failing the whole download.
        job_log(LOG_INFO, "CRC_Verify ->fail (0x%08x, expected 0x%08x), checking every sector", value, want);
        answered = repair_image(job, slot, entry, timeout, relink) &&
                   request_crc(job, entry.start, length, timeout, value);
    }
    if (!answered || value != want) {
        job_log(LOG_INFO, "ERR_CODE_Verify");
        return false;
    }
    job_log(LOG_INFO, "CRC_Verify ->pass");
    return true;
}

bool wait_writer_confirmation(Download* job) {
    CBootIntf link(&job->m_uart);
    uint8_t event[4] = {};
    const int r = link.WaitEvent(0xFE, event, sizeof event);
    if (r >= 1 && event[3] == 0x44) return true;
    job_log(LOG_INFO, "check crc and reboot failed!");
    return false;
}

// The MAC address and the device name are written at 115200 baud.
bool link_to_115200(Download* job, JobRecord* record, int retry_limit) {
    job->m_baudrate = 115200;
    const int attempts = std::max(1, std::min(job->m_retry_count, std::max(1, retry_limit)));
    for (int k = 0; k < attempts; ++k) {
        CBootIntf link(&job->m_uart);
        if (link.SetBaudRate(115200, job->m_fast_link) == 1) return true;
        if (k == attempts - 1) break;
        job->SWDL_ConnectRetry(record);
    }
    job_log(LOG_INFO, "SetBR5810N fail!");
    return false;
}

// Writes a small patch into flash; a failed attempt rebuilds the link at
// 115200 (pausing pause_ms after it) before the next one.
bool patch_with_reconnects(Download* job, JobRecord* record, uint32_t address, const uint8_t* bytes,
                           uint32_t length, int attempts, const char* what, uint32_t pause_ms) {
    for (int a = 0; a < attempts; ++a) {
        const int32_t r = CQN_WIFI_CHIPSET::write_flash_patch(job, address, bytes, length);
        if (r > 0) {
            job_log(LOG_INFO, "Write %s -> pass", what);
            return true;
        }
        if (a == attempts - 1) {
            job_log(LOG_INFO, "Write %s -> fail ,errCode : %d", what, r);
            return false;
        }
        job->m_baudrate = 115200;
        if (job->SWDL_ConnectRetry(record) == 0) {
            job_log(LOG_INFO, "SWDL_ConnectRetry fail!");
            return false;
        }
        if (pause_ms) sleep_ms(pause_ms);
    }
    return false;
}

bool write_mac(Download* job, JobRecord* record) {
    job_log(LOG_INFO, "Begin Write DeviceID ===> MAC");
    if (record->mac_len > kMacBytes) {
        job_log(LOG_ERROR, "MAC length %u is more than %u bytes", record->mac_len, kMacBytes);
        return false;
    }
    uint8_t bytes[kMacBytes] = {};
    for (uint32_t k = 0; k < record->mac_len; ++k)
        bytes[k] = record->big_endian ? record->mac[k] : record->mac[kMacBytes - 1 - k];
    job_log(LOG_INFO, "MAC StartAddr : 0x%08x", record->mac_addr);
    std::string info;
    char cell[8];
    for (uint32_t k = 0; k < kMacBytes; ++k) {
        std::snprintf(cell, sizeof cell, "%02x ", bytes[k]);
        info += cell;
    }
    job_log(LOG_INFO, "MAC Info : %s", info.c_str());

    return patch_with_reconnects(job, record, record->mac_addr, bytes, record->mac_len,
                                 std::clamp(job->m_retry_count, 1, kMacAttempts), "DeviceID", 0);
}

bool write_device_name(Download* job, JobRecord* record) {
    job_log(LOG_INFO, "Begin Write DeviceName");
    job_log(LOG_INFO, "DeviceName StartAddr : 0x%08x", record->dev_name_addr);
    job_log(LOG_INFO, "DeviceName Info : %.*s", int(kDevNameBytes), record->dev_name);
    if (record->dev_name_len > kDevNameBytes) {
        job_log(LOG_ERROR, "Device name length %u is more than %u bytes", record->dev_name_len, kDevNameBytes);
        return false;
    }
    uint8_t bytes[kDevNameBytes] = {};
    std::memcpy(bytes, record->dev_name, record->dev_name_len);

    return patch_with_reconnects(job, record, record->dev_name_addr, bytes, record->dev_name_len, kDevNameAttempts,
                                 "DeviceName", 5);
}

}  // namespace

bool CQN_WIFI_CHIPSET::download_images(Download* job, JobRecord* record, int verify_mode) {
    if (!job || !record) return false;
    const bool secure = !job->m_sm_dl_file.empty();
    const Relink relink = [this, job, record] {
        CBootIntf link(&job->m_uart);
        return reestablish_link(link, job, record);
    };

    for (size_t i = 0; i < record->images.size(); ++i) {
        const ImageEntry entry = record->images[i];
        if (!entry.selected || !record->images_given) continue;
        const int index = int(i);
        if (index >= Download::kImageSlots) {
            job_log(LOG_ERROR, "[ %d ] %s : only %d images fit in one download", index, entry.path.c_str(),
                    Download::kImageSlots);
            return false;
        }
        const ImageSlot& slot = job->m_slots[index];
        const uint32_t length = uint32_t(entry.length);

        job_log(LOG_INFO, "[ %d ] file_path : %s", index, entry.path.c_str());
        job_log(LOG_INFO, "[ %d ] file_length : 0x%x (%d KB)", index, length, int(std::max(length / 1024, 1u)));
        job_log(LOG_INFO, "[ %d ] file_crc : 0x%x", index, entry.crc);
        job_log(LOG_INFO, "Begin EraseFlash");
        sleep_ms(2);

        if (!secure) {
            bool erased;
            if (record->chip_erase && index == 0) {
                erased = erase_image_range(job, record, &entry, index, 1) && job->m_stop == 0 &&
                         job->m_chip_erase_done == 1;
            } else {
                job->m_stop = 0;
                erased = erase_image_range(job, record, &entry, index, 0);
            }
            if (!erased) {
                job_log(LOG_INFO, "ERR_CODE_EraseFlash");
                return false;
            }
            job_log(LOG_INFO, "EraseFlash ->pass");
        }

        sleep_ms(2);
        job->m_uart.Purge();
        job->m_uart.ClearError();
        job_log(LOG_INFO, "Begin WriteFlash...");

        const int crc_timeout = int(std::max<uint64_t>(uint64_t(length) * 5 / 1048576, 10));
        SectorWriter writer(job, verify_mode, crc_timeout, relink);
        Sector sector;
        int shown = -1;
        for (uint32_t off = 0; off < length; off += kSectorBytes) {
            if (job->m_stop) break;
            const int percent = int(uint64_t(off) * 100 / length);
            if (off == 0 || percent != shown) {
                show_progress("Writing Flash", percent);
                shown = percent;
            }
            load_sector(slot, entry, off, sector);
            if (!secure && all_ff(sector.data, kSectorBytes)) continue;
            if (!writer.write(sector)) return false;
        }
        if (job->m_stop) {
            job_log(LOG_INFO, "ERR_CODE_WriteFlash");
            return false;
        }
        job_log(LOG_INFO, "WriteFlash ->pass");

        if (verify_mode == 1 && !verify_image(job, slot, entry, crc_timeout, relink)) return false;
        if (secure && !wait_writer_confirmation(job)) return false;
    }

    if (record->mac_set || record->dev_name_set) {
        if (!link_to_115200(job, record, retry_limit)) return false;
    }
    if (record->mac_set && !write_mac(job, record)) return false;
    if (record->dev_name_set && !write_device_name(job, record)) return false;
    return true;
}
