// Single flash commands on the job's port, and the flash patch that replaces
// a few bytes of a sector (MAC address, device name) and keeps the rest.

#include <algorithm>
#include <cstring>
#include <string>

#include "chips/chipset.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint32_t kSectorBytes = 0x1000;

bool port_ready(Download* job) {
    if (job->m_uart.is_open()) return true;
    job_log(LOG_INFO, "SWDL_Link2UartPort");
    return false;
}

// Attempts of the patch's reads: the job's retry count, at most 20, at least one.
int patch_read_attempts(const Download* job) { return std::clamp(job->m_retry_count, 1, 20); }

// Erase and rewrite rounds of one patch call once the sector's contents are known.
constexpr int kPatchWriteRounds = 5;

bool read_sector(Download* job, uint32_t sector, uint8_t* out) {
    const int attempts = patch_read_attempts(job);
    for (int a = 0; a < attempts; ++a) {
        if (CQN_WIFI_CHIPSET::flash_read_4k(job, out, sector) >= 1) return true;
        sleep_ms(5);
    }
    return false;
}

std::string hex_bytes(const uint8_t* data, uint32_t length) {
    std::string text;
    char cell[8];
    for (uint32_t i = 0; i < length; ++i) {
        std::snprintf(cell, sizeof cell, "%02hhX ", data[i]);
        text += cell;
    }
    return text;
}

// The contents a sector had before a patch call erased it and then failed.
// The next call for the same sector starts from these instead of from the
// flash, where they are gone: a failed patch must not cost the rest of the
// sector.
struct PendingSector {
    const Download* job = nullptr;
    uint32_t sector = 0;
    bool valid = false;
    uint8_t bytes[kSectorBytes];
};
PendingSector g_pending;

// Patch inside one sector: offset + length <= 4096.
int32_t patch_sector(Download* job, uint32_t address, const uint8_t* data, uint32_t length) {
    const uint32_t sector = address & ~(kSectorBytes - 1);
    const uint32_t offset = address & (kSectorBytes - 1);

    uint8_t original[kSectorBytes];
    if (g_pending.valid && g_pending.job == job && g_pending.sector == sector) {
        std::memcpy(original, g_pending.bytes, kSectorBytes);
    } else if (!read_sector(job, sector, original)) {
        return -1;
    }

    uint8_t merged[kSectorBytes];
    std::memcpy(merged, original, kSectorBytes);
    std::memcpy(merged + offset, data, length);

    int32_t code = -2;
    for (int round = 0; round < kPatchWriteRounds; ++round) {
        if (round > 0) sleep_ms(5);
        // From the first erase on, the flash may no longer hold the original.
        g_pending.job = job;
        g_pending.sector = sector;
        std::memcpy(g_pending.bytes, original, kSectorBytes);
        g_pending.valid = true;

        if (CQN_WIFI_CHIPSET::flash_erase_block(job, sector, 0) < 1) {
            code = -2;
            continue;
        }
        if (CQN_WIFI_CHIPSET::flash_write_4k(job, merged, sector) < 1) {
            code = -3;
            continue;
        }
        uint8_t back[kSectorBytes];
        if (!read_sector(job, sector, back)) {
            code = -4;
            continue;
        }
        // The whole sector is compared: a bit error in the kept bytes is as
        // much a failure as one in the patch.
        if (std::memcmp(back, merged, kSectorBytes) == 0) {
            g_pending.valid = false;
            return 1;
        }
        code = -5;
        if (std::memcmp(back + offset, data, length) != 0) {
            job_log(LOG_INFO, "hexData_read :%s", hex_bytes(back + offset, length).c_str());
            job_log(LOG_INFO, "hexData_write :%s", hex_bytes(data, length).c_str());
        } else {
            job_log(LOG_INFO, "Flash sector 0x%08x changed outside the patch, writing it again", sector);
        }
    }
    return code;
}

}  // namespace

int32_t CQN_WIFI_CHIPSET::flash_write_4k(Download* job, const uint8_t* data, uint32_t address) {
    if (!job) return 0;
    if (!port_ready(job)) return -1;
    CBootIntf link(&job->m_uart);
    return link.FlashWrite4K(address, data);
}

int32_t CQN_WIFI_CHIPSET::flash_erase_block(Download* job, uint32_t address, int kind) {
    if (!job) return 0;
    if (!port_ready(job)) return -1;
    static const uint8_t kOpcodes[3] = {0x20, 0xD8, 0x52};
    if (kind < 0 || kind > 2) return -1;
    CBootIntf link(&job->m_uart);
    return link.FlashErase(kOpcodes[kind], address & ~(kSectorBytes - 1));
}

int32_t CQN_WIFI_CHIPSET::flash_read_4k(Download* job, uint8_t* buffer, uint32_t address) {
    if (!job) return 0;
    if (!port_ready(job)) return -1;
    CBootIntf link(&job->m_uart);
    return link.FlashRead4K(address, buffer);
}

int32_t CQN_WIFI_CHIPSET::write_flash_patch(Download* job, uint32_t address, const uint8_t* data, uint32_t length) {
    if (!job) return -10;
    if (length == 0) return 1;
    if (!data || uint64_t(address) + length > 0x100000000ull) {
        job_log(LOG_ERROR, "Flash patch at 0x%08x of %u bytes does not fit the address space", address, length);
        return -6;
    }
    // A patch that crosses a sector boundary is done sector by sector.
    uint32_t done = 0;
    while (done < length) {
        const uint32_t at = address + done;
        const uint32_t room = kSectorBytes - (at & (kSectorBytes - 1));
        const uint32_t part = std::min(room, length - done);
        const int32_t r = patch_sector(job, at, data + done, part);
        if (r != 1) return r;
        done += part;
    }
    return 1;
}
