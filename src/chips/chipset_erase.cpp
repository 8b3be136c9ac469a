// The chip's doors into the erase planner and the link recovery: they run
// with this chip's retry bound, waits and reconnect.

#include "chips/chipset.h"
#include "flash/erase_planner.h"
#include "job/download.h"
#include "job/link_recovery.h"

int32_t CQN_WIFI_CHIPSET::EraseFlashBySize(CBootIntf& link, Download* job, uint32_t start, uint32_t end,
                                           int32_t max_retries, int print_progress) {
    return ErasePlanner::EraseFlashBySize(link, job, start, end, max_retries, print_progress);
}

bool CQN_WIFI_CHIPSET::erase_image_range(Download* job, JobRecord* record, const ImageEntry* entry, int index,
                                         int whole_chip) {
    if (!job || !record || !entry) return false;
    ErasePlanner planner(job, record, retry_limit, flash_waits, [this, job, record] { return reconnect_link(job, record); });
    return planner.erase_image_range(entry, index, whole_chip);
}

int CQN_WIFI_CHIPSET::reconnect_link(Download* job, JobRecord* record) { return job->SWDL_ConnectRetry(record); }

bool CQN_WIFI_CHIPSET::reestablish_link(CBootIntf& link, Download* job, JobRecord* record) {
    return ::reestablish_link(link, *job, [this, job, record] { return reconnect_link(job, record); });
}
