// The 5810's three job operations.

#include "chips/chip_5810.h"

#include "chips/chip_steps.h"
#include "job/download.h"
#include "support/log.h"

bool CQN_WIFI_5810::download() {
    JobRecord record;
    bool ok = build_download_record(m_job, &record) && !record.images.empty();
    // This chip checks the whole image with one CRC once all its sectors are written.
    if (ok) ok = download_images(m_job, &record, 1);
    return close_job_5810(m_job, ok);
}

bool CQN_WIFI_5810::read() {
    JobRecord record;
    bool ok = build_job_record(m_job, &record) && !record.images.empty();
    if (ok) {
        ok = read_images(m_job, &record);
        if (ok) job_log(LOG_INFO, "ReadFlash ->pass");
    }
    return close_job_5810(m_job, ok);
}

bool CQN_WIFI_5810::erase() {
    JobRecord record;
    bool ok = build_job_record(m_job, &record) && !record.images.empty();
    if (ok) ok = erase_entries(m_job, &record);
    return close_job_5810(m_job, ok);
}
