#include "flash/flash_protect.h"

#include "flash/flash_models.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "serial/timers.h"
#include "support/log.h"

namespace {

constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kWriteStatus1 = 0x01;
constexpr uint8_t kWriteStatus2 = 0x31;
// Time a status register write needs before the next command.
constexpr uint32_t kStatusPauseMs = 10;

void write_enable(CBootIntf& link, const FlashWaits& waits) {
    const uint8_t command = kWriteEnable;
    link.FlashSpiCommand(&command, nullptr, 1);
    waits.pause(kStatusPauseMs);
}

// Reads status registers 1 to count into one value (register 1 in bits
// 0-7). False when any of the reads did not answer.
bool read_status(CBootIntf& link, const FlashModel& model, int count, uint32_t& status) {
    status = 0;
    bool all = true;
    for (int j = 0; j < count && j < 3; ++j) {
        uint8_t value = 0;
        if (model.read_sr[j] == kNoOpcode || link.FlashReadSR(model.read_sr[j], value) < BOOT_OK) {
            all = false;
            continue;
        }
        status |= uint32_t(value) << (8 * j);
    }
    return all;
}

}  // namespace

int FlashProtect(CBootIntf& link, uint32_t mid, int protect, const FlashWaits& waits) {
    const FlashModel* model = find_flash_model(mid);
    if (!model) {
        job_log(LOG_INFO, "mid is: 0x%x, cannot found this flash\n", mid);
        return FLASH_PROTECT_UNKNOWN_FLASH;
    }
    const uint32_t want = flash_protect_bits(*model, protect ? model->protect_value : model->unprotect_value);
    // These parts keep protection bits in register 2 that a one-register
    // write does not reach; they are cleared register by register.
    const bool split = !protect && flash_needs_split_unprotect(*model);
    const int count = split ? 2 : model->sr_count;
    // Widths 2 and 3 both write registers 1 and 2 in one command; register 3
    // is never written.
    const int width = model->sr_count >= 2 ? 2 : 1;

    CalcTimer timer(true);
    for (;;) {
        uint32_t status = 0;
        const bool answered = read_status(link, *model, count, status);
        if (answered && (status & model->mask) == want) {
            return FLASH_PROTECT_OK;
        }
        if (timer.elapsed() > waits.protect_limit_seconds) {
            job_log(LOG_INFO, "Unprotect timeout\n");
            return FLASH_PROTECT_TIMEOUT;
        }
        if (!answered) {
            // Writing a value built from a register that did not answer could
            // clear bits the part needs (quad enable); read again instead.
            waits.pause(kStatusPauseMs);
            continue;
        }

        write_enable(link, waits);
        const bool register2_set = ((status >> 8) & 0xFF) != 0;
        if (split && register2_set) {
            link.FlashWriteSR(2, kWriteStatus1, 0);
            waits.pause(kStatusPauseMs);
            // Every status write clears the write-enable latch, so the
            // register 2 write needs its own write enable to take effect.
            write_enable(link, waits);
            link.FlashWriteSR(2, kWriteStatus2, 0);
            waits.pause(kStatusPauseMs);
        } else {
            const uint32_t next = (status & ~model->mask) | want;
            link.FlashWriteSR(width, model->write_sr[0], next & 0xFFFF);
            waits.pause(kStatusPauseMs);
        }
    }
}

int FlashProtect(Download& job, uint32_t mid, int protect, const FlashWaits& waits) {
    CBootIntf link(&job.m_uart);
    return FlashProtect(link, mid, protect, waits);
}
