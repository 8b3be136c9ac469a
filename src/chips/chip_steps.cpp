// Closings, download checks and the flash-id acquisition shared by the chip
// classes. The eFuse steps are in chip_efuse.cpp.

#include "chips/chip_steps.h"

#include "chips/chipset.h"
#include "flash/flash_models.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"

bool close_job(Download* job, bool result) {
    if (!job) return result;
    if (job->m_reboot == 1) job->Boot_Reboot();
    job_log(LOG_INFO, "Boot_Reboot\n");
    job->m_uart.Close();
    if (job->Connect(job->m_port) == 0) job_log(LOG_INFO, "Connect device fail!");
    job->m_uart.Close();
    return result;
}

bool close_job_5810(Download* job, bool result) {
    if (!job) return result;
    if (job->m_reboot == 1) job->Boot_Reboot();
    job_log(LOG_INFO, "Boot_Reboot\n");
    job->m_uart.Close();
    if (result) return result;
    if (job->Connect(job->m_port) != 1) job_log(LOG_INFO, "Connect device fail!");
    if (job->m_reboot == 1) job->Boot_Reboot();
    job->m_uart.Close();
    return result;
}

bool nothing_to_do(const JobRecord& record) {
    const SecurityConfig& s = record.security;
    return record.images.empty() && s.user_operate_enable == "false" && s.efuse_enable == "false" &&
           s.security_ctrl_enable == "false" && s.security_data_enable == "false";
}

bool check_image_sizes(const Download* job, const JobRecord& record) {
    const FlashModel* model = find_flash_model(job->m_flash_mid);
    if (!model) {
        job_log(LOG_INFO, "ERR_CODE_NotSupportedFlash");
        return false;
    }
    const uint32_t capacity = flash_size_bytes(*model);
    for (const ImageEntry& entry : record.images) {
        if (!entry.selected) continue;
        if (capacity < uint32_t(entry.length)) {
            job_log(LOG_INFO, "current flash max size is : %d M, but the bin size is : %.4f M", int(model->size >> 23),
                    double(float(uint32_t(entry.length)) / 1024.0f / 1024.0f));
            job_log(LOG_ERROR, "bin file too large ---> %s", entry.path.c_str());
            return false;
        }
    }
    return true;
}

bool acquire_flash_id(CQN_WIFI_CHIPSET& chip, Download* job, JobRecord* record, float getbus_timeout) {
    if (!job) return false;
    CBootIntf link(&job->m_uart);
    auto read_id = [&] { return link.GetFlashMid(job->m_flash_mid); };
    // The reconnect knocks for the chip's own get-bus time-out.
    auto reconnect = [&] {
        const float saved = job->m_getbus_timeout;
        job->m_getbus_timeout = getbus_timeout;
        const int r = job->SWDL_ConnectRetry(record);
        job->m_getbus_timeout = saved;
        return r;
    };

    read_id();
    if (!find_flash_model(job->m_flash_mid)) {
        for (int attempt = 0; attempt < chip.retry_limit; ++attempt) {
            if (read_id() < 1) {
                if (reconnect() != 0 && read_id() >= 1) break;
                if (attempt == chip.retry_limit - 1) {
                    job_log(LOG_INFO, "GetFlashMid fail!");
                    return false;
                }
                continue;
            }
            if (find_flash_model(job->m_flash_mid)) break;
        }
    }
    if (!find_flash_model(job->m_flash_mid)) {
        job_log(LOG_INFO, "ERR_CODE_NotSupportedFlash");
        return false;
    }
    return true;
}
