// The job's register reads and writes with retries, used wherever a
// procedure needs a register and one lost answer must not end the run.

#include "job/download.h"
#include "job/link_counters.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr double kRegisterTimeout = 0.05;

}  // namespace

int Download::ReadRegister(CBootIntf& intf, uint32_t addr, uint32_t& value) {
    intf.bind(&m_uart);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (intf.ReadReg(addr, value, kRegisterTimeout) == BOOT_OK) return 1;
        job_log(LOG_INFO, "read 0x%x failed, retry %d", addr, attempt);
        sleep_ms(5);
    }
    return -1;
}

bool Download::read_register_retried(CBootIntf& intf, uint32_t addr, uint32_t& value) {
    intf.bind(&m_uart);
    LinkCounters& counters = link_counters();
    bool ok = false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (intf.ReadReg(addr, value, kRegisterTimeout) == BOOT_OK) {
            ok = true;
            break;
        }
        if (counters.read_failures++ == 0) job_log(LOG_INFO, "read 0x%x failed, retry %d", addr, attempt);
        sleep_ms(10);
    }
    counters.read_failures = 0;
    if (!ok) value = 0;
    return ok;
}

uint32_t Download::ReadRegisterValue(CBootIntf& intf, uint32_t addr) {
    uint32_t value = 0;
    read_register_retried(intf, addr, value);
    return value;
}

int Download::WriteRegister(CBootIntf& intf, uint32_t addr, uint32_t value) {
    intf.bind(&m_uart);
    LinkCounters& counters = link_counters();
    int result = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (intf.WriteReg(addr, value, kRegisterTimeout) == BOOT_OK) {
            result = 1;
            break;
        }
        if (counters.write_failures++ == 0)
            job_log(LOG_INFO, "write 0x%x=0x%x failed, retry %d", addr, value, attempt);
        sleep_ms(10);
    }
    counters.write_failures = 0;
    return result;
}
