#include "job/link_recovery.h"

#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"

bool reestablish_link(CBootIntf& link, Download& job, const std::function<int()>& reconnect) {
    if (reconnect() == 0) {
        job_log(LOG_INFO, "SWDL_ConnectRetry fail!");
        return false;
    }
    for (int32_t k = 0; k < job.m_retry_count; ++k) {
        if (link.SetBaudRate(job.m_baudrate, job.m_fast_link) == BOOT_OK) return true;
        if (reconnect() != 0 && link.SetBaudRate(job.m_baudrate, job.m_fast_link) == BOOT_OK) {
            job_log(LOG_INFO, "[%d] SWDL_ConnectRetry ->pass", k);
            return true;
        }
        if (k == job.m_retry_count - 1) {
            job_log(LOG_INFO, "SWDL_SetBR5810N fail");
            return false;
        }
    }
    return true;
}
