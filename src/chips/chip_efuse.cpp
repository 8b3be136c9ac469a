// The eFuse image a download burns, and the burn and byte read through the
// chip's eFuse control, data and power registers.

#include <chrono>
#include <string>
#include <vector>

#include "chips/chip_steps.h"
#include "flash/flash_waits.h"
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

namespace {

constexpr uint32_t kBlockPowerReg = 0x44880000;  // bit 31 powers the eFuse and OTP block
constexpr uint32_t kOtpEnableReg = 0x4B00800C;   // bit 0 enables OTP writes
// Burn commands of byte 30: secure boot, or secure boot and its log; fast
// boot adds bit 2 to the data.
constexpr uint32_t kSecureBootCmd = 0x80011E03;
constexpr uint32_t kSecureBootLogCmd = 0x80031E03;
constexpr uint32_t kFastBootBit = 0x00040000;
constexpr int kSecureBootBurns = 5;

bool has_one(const std::string& text) { return text.find('1') != std::string::npos; }

bool change_bit(Download* job, CBootIntf& link, uint32_t reg, uint32_t bit, bool on, const char* read_fail,
                const char* write_fail) {
    uint32_t value = 0;
    if (job->ReadRegister(link, reg, value) < 1) {
        job_log(LOG_INFO, "%s", read_fail);
        return false;
    }
    if (job->WriteRegister(link, reg, on ? value | bit : value & ~bit) < 1) {
        job_log(LOG_INFO, "%s", write_fail);
        return false;
    }
    return true;
}

}  // namespace

bool burn_secure_boot_bits(Download* job, const JobRecord& record, const FlashWaits& waits) {
    std::string boot, log, fast;
    if (!record.efuse_file.empty() && file_exists(record.efuse_file)) {
        boot = ini_read_value(record.efuse_file, "security_boot", "security_boot");
        log = ini_read_value(record.efuse_file, "security_boot", "security_boot_log");
        fast = ini_read_value(record.efuse_file, "security_boot", "security_boot_fastboot");
    } else {
        boot = job->m_enable_sec_boot == 1 ? "1" : "0";
        log = job->m_enable_sec_boot_log == 1 ? "1" : "0";
        fast = "0";
    }
    if (!has_one(boot)) return true;

    CBootIntf link(&job->m_uart);
    if (!change_bit(job, link, kBlockPowerReg, 0x80000000u, true, "enable efuse fail! ---1", "enable efuse fail! ---2"))
        return false;
    waits.pause(50);
    if (!change_bit(job, link, kOtpEnableReg, 0x1u, true, "enable efuse fail! ---3", "enable efuse fail! ---4"))
        return false;
    waits.pause(100);
    const uint32_t cmd = (has_one(log) ? kSecureBootLogCmd : kSecureBootCmd) | (has_one(fast) ? kFastBootBit : 0);
    for (int k = 0; k < kSecureBootBurns; ++k) {
        if (job->WriteRegister(link, kBlockPowerReg, cmd) < 1) {
            job_log(LOG_INFO, "enable efuse fail!");
            return false;
        }
        waits.pause(50);
    }
    job_log(LOG_INFO, "enable efuse : 1");
    return change_bit(job, link, kBlockPowerReg, 0x80000000u, false, "enable efuse fail!", "enable efuse fail!") &&
           change_bit(job, link, kOtpEnableReg, 0x1u, false, "enable efuse fail!", "enable efuse fail!");
}
