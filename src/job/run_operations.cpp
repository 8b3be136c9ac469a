#include "job/run_operations.h"

#include <chrono>
#include <cstdio>

#include "job/chip_operations.h"
#include "job/current_chip.h"
#include "job/download.h"
#include "job/job_record.h"
#include "support/log.h"
#include "support/util.h"

namespace {

// The banners that end every run.
const char kDoneBanner[] =
    "\r\n==============================================================\r\n     _             (done)\n"
    "    | |                 \n  __| | ___  _ __   ___ \n / _  |/ _ \\|  _ \\ / _ \\\n"
    "| (_| | (_) | | | |  __/\n \\__,_|\\___/|_| |_|\\___|\n{All Finished Successfully}\n";

const char kWarningBanner[] =
    "\r\n==============================================================\r\n\t\t\t\t   (warning)\n"
    "\t                         (_)            \n\t__      ____ _ _ __ _ __  _ _ __   __ _ \n"
    "\t\\ \\ /\\ / / _` | '__| '_ \\| | '_ \\ / _` |\n\t \\ V  V / (_| | |  | | | | | | | | (_| |\n"
    "\t  \\_/\\_/ \\__,_|_|  |_| |_|_|_| |_|\\__, |\n\t                                   __/ |\n"
    "\t                                  |___/ \n";

enum class Operation { download, erase, read };

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool run_chip_operation(ChipOperations& chip, Operation op) {
    switch (op) {
        case Operation::download:
            return chip.download();
        case Operation::erase:
            return chip.erase();
        case Operation::read:
            return chip.read();
    }
    return false;
}

void report_success(Operation op) {
    switch (op) {
        case Operation::download:
            job_log(LOG_INFO, "Writing Flash OK                             \n");
            break;
        case Operation::erase:
            std::printf("Erasing Flash OK                             \n");
            break;
        case Operation::read:
            std::printf("Read Flash OK                             \n");
            break;
    }
    std::fflush(stdout);
}

void report_failure(Operation op) {
    switch (op) {
        case Operation::download:
            job_log(LOG_INFO, "Writing Flash Failed, code %d                \n", 0);
            break;
        case Operation::erase:
            std::printf("Erasing Flash Failed, code %d                \n", 0);
            break;
        case Operation::read:
            std::printf("Read Flash Failed, code %d                \n", 0);
            break;
    }
    std::fflush(stdout);
}

int run_job_body(Download& job, JobRecord& record, Operation op) {
    if (op == Operation::erase) job_log(LOG_INFO, "start download thread. ");
    if (op == Operation::read) job_log(LOG_INFO, "start Read thread.");

    bool result = false;
    bool connected = false;
    int64_t start_ms = -1;
    if (!job.Connect(job.m_port)) {
        job_log(LOG_INFO, "Connect device fail!");
    } else {
        connected = true;
        bool has_work = true;
        if (record.images_given) {
            if (record.images.empty()) {
                job_log(LOG_INFO, "No file is added!");
                has_work = false;
            } else {
                bool any_selected = false;
                for (const ImageEntry& entry : record.images) any_selected = any_selected || entry.selected;
                if (!any_selected) {
                    job_log(LOG_INFO, "No file is selected!");
                    has_work = false;
                }
            }
        }
        if (has_work) {
            bool bus = job.GetBusOrRetry(&record);
            start_ms = now_ms();
            ChipOperations* chip = current_chip();
            // A chip kind without a family (or none chosen) cannot run a job.
            if (!bus || chip == nullptr)
                job_log(LOG_INFO, "GetBus fail!");
            else
                result = run_chip_operation(*chip, op);
        }
    }

    job.m_stop = 1;
    sleep_ms(10);
    int64_t end_ms = now_ms();
    double seconds = start_ms >= 0 && end_ms > start_ms ? (end_ms - start_ms) / 1000.0 : 0.0;
    job_log(LOG_INFO, "Total Test Time : %.3f s", seconds);

    if (result) {
        report_success(op);
        job_log(LOG_INFO, "%s", kDoneBanner);
        return 1;
    }
    report_failure(op);
    if (connected) {
        job.Boot_Reboot();
        job_log(LOG_INFO, "Boot_Reboot\n");
        job.m_uart.Close();
        if (!job.Connect(job.m_port)) job_log(LOG_INFO, "Connect device fail!");
        job.Boot_Reboot();
        job.m_uart.Close();
    }
    job_log(LOG_ERROR, "%s", kWarningBanner);
    return 0;
}

int run_operation(Download& job, Operation op) {
    job.m_stop = 0;
    JobRecord record;
    if (op == Operation::download)
        build_download_record(&job, &record);
    else
        build_job_record(&job, &record);
    return run_job_body(job, record, op);
}

}  // namespace

int run_download_job(Download& job) { return run_operation(job, Operation::download); }
int run_erase_job(Download& job) { return run_operation(job, Operation::erase); }
int run_read_job(Download& job) { return run_operation(job, Operation::read); }
