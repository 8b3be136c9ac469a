// The eFuse image a download burns, and the burn and byte read through the
// chip's eFuse control, data and power registers.

#include <chrono>
#include <string>
#include <vector>

#include "chips/chip_steps.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr auto kBusyLimit = std::chrono::milliseconds(1000);
constexpr unsigned kBusyPollMs = 10;
// Tries of one address before the burn gives up.
constexpr int kBurnTries = 11;

bool port_ready(Download* job) {
    if (job && job->m_uart.is_open()) return true;
    job_log(LOG_INFO, "SWDL_Link2UartPort fail");
    return false;
}

// Waits until bit 0 of the control register clears: 1, or -5 (too long), -6 (read failed).
int wait_not_busy(Download* job, CBootIntf& link, const EfuseRegisterSet& set) {
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        sleep_ms(kBusyPollMs);
        if (std::chrono::steady_clock::now() - started > kBusyLimit) return -5;
        uint32_t value = 0;
        if (job->ReadRegister(link, set.ctrl_reg, value) < 1) return -6;
        if ((value & 1) == 0) return 1;
    }
}

// Sets or clears the power mask in the power register: 1, -1 read failed, -2 write failed.
int set_power(Download* job, CBootIntf& link, const EfuseRegisterSet& set, bool on) {
    uint32_t value = 0;
    if (job->ReadRegister(link, set.power_reg, value) < 1) return -1;
    value = on ? (value | set.power_mask) : (value & ~set.power_mask);
    if (job->WriteRegister(link, set.power_reg, value) < 1) return -2;
    return 1;
}

int burn_bytes(Download* job, CBootIntf& link, const EfuseImage& image, const EfuseRegisterSet& set) {
    for (uint32_t a = 0; a < kEfuseImageSize; ++a) {
        const uint8_t bits = image[a];
        if (bits == 0) continue;
        for (int tries = 0;; ++tries) {
            if (tries >= kBurnTries) return -8;
            uint8_t old = 0;
            if (efuse_read_byte(job, a, old, set) < 1) return -7;
            const uint8_t wanted = uint8_t(old | bits);
            const uint32_t cmd = uint32_t(wanted) << 16 | (a & 0x3F) << 8 | 2 | set.command_high;
            if (job->WriteRegister(link, set.ctrl_reg, cmd) < 1) return -2;
            if (job->WriteRegister(link, set.ctrl_reg, cmd | 1) < 1) return -3;
            const int busy = wait_not_busy(job, link, set);
            if (busy < 1) return busy;
            uint8_t now = 0;
            if (efuse_read_byte(job, a, now, set) < 1) return -7;
            if (now == wanted) break;
        }
    }
    return 1;
}

}  // namespace

bool assemble_efuse_image(const Download* job, const JobRecord& record, EfuseImage& image) {
    image.fill(0);
    if (!record.efuse_file.empty() && file_exists(record.efuse_file)) {
        read_efuse_config(record.efuse_file, image);
        return true;
    }
    if (job->m_efuse_key.empty()) return true;
    const std::vector<std::string> words = split(job->m_efuse_key, ",");
    // Every eFuse bit is one-time: a list that does not fit is refused whole
    // rather than burnt in part.
    if (words.size() > kEfuseKeyWords) {
        job_log(LOG_ERROR, "eFuse key list has %zu words, at most %zu fit", words.size(), kEfuseKeyWords);
        return false;
    }
    for (size_t k = 0; k < words.size(); ++k) {
        const uint32_t word = uint32_t(parse_number(words[k]));
        for (size_t b = 0; b < 4; ++b) image[4 * k + b] = uint8_t(word >> (8 * b));
    }
    image[31] = 0x20;
    return true;
}

int efuse_read_byte(Download* job, uint32_t address, uint8_t& value, const EfuseRegisterSet& set) {
    if (!port_ready(job)) return -1;
    CBootIntf link(&job->m_uart);
    if (job->WriteRegister(link, set.ctrl_reg, (address & 0x3F) << 8 | 0x80000001u) < 1) return -3;
    const int busy = wait_not_busy(job, link, set);
    if (busy < 1) return busy;
    uint32_t data = 0;
    if (job->ReadRegister(link, set.data_reg, data) < 1) return -7;
    if ((data & 0x100) == 0) return -8;
    value = uint8_t(data);
    return 1;
}

int efuse_burn(Download* job, const EfuseImage& image, const EfuseRegisterSet& set) {
    if (!port_ready(job)) return -1;
    CBootIntf link(&job->m_uart);
    const int up = set_power(job, link, set, true);
    if (up < 1) return up;
    const int burnt = burn_bytes(job, link, image, set);
    // The programming power goes off again after a failed burn too.
    const int down = set_power(job, link, set, false);
    if (burnt < 1) return burnt;
    return down;
}
