// The job records: what each chip operation takes from the job at its start.

#include <cstring>
#include <vector>

#include "job/job_record.h"

#include "job/download.h"
#include "support/log.h"

namespace {

void copy_settings(const Download& job, JobRecord& record) {
    record.security = job.m_security;
    record.efuse_file = job.m_efuse_file;
    record.reboot = job.m_reboot != 0;
    record.images_given = job.m_image_spec_set != 0;
    record.chip_erase = job.m_chip_erase != 0;
    record.efuse_enable = job.m_efuse_enable != 0;
    record.secure_boot = job.m_secure_boot != 0;
    record.otp_enable = job.m_otp_enable != 0;
    record.mac_set = job.m_mac_set != 0;
    record.dev_name_set = job.m_dev_name_set != 0;
    record.big_endian = job.m_big_endian != 0;
    std::memcpy(record.mac, job.m_mac, sizeof record.mac);
    record.mac_addr = job.m_mac_addr;
    record.mac_len = job.m_mac_len;
    std::memcpy(record.dev_name, job.m_dev_name, sizeof record.dev_name);
    record.dev_name_addr = job.m_dev_name_addr;
    record.dev_name_len = job.m_dev_name_len;
}

}  // namespace

bool build_download_record(Download* job, JobRecord* record) {
    if (!job || !record) return false;
    copy_settings(*job, *record);

    // Every image is loaded again into the slot of its new list position, so
    // entry i and image slot i always belong together. A packaged file brings
    // back all of its images with one load; the entries that followed its
    // first one stand for those same images and are not loaded twice. A plain
    // file named twice (two placements of one image) is kept twice.
    std::vector<ImageEntry> taken;
    taken.swap(job->m_images);
    bool all_loaded = true;
    size_t i = 0;
    while (i < taken.size()) {
        ImageEntry entry = taken[i];
        if (entry.path.empty()) {
            ++i;
            continue;
        }
        const size_t before = job->m_images.size();
        if (job->add_image(entry.path, int(before), entry, 0, 0) < 1) {
            job_log(LOG_ERROR, "Cannot load the image file again : %s", entry.path.c_str());
            all_loaded = false;
            ++i;
            continue;
        }
        const size_t added = job->m_images.size() - before;
        size_t used = 1;
        if (added > 1) {
            while (used < added && i + used < taken.size() && taken[i + used].path == entry.path) ++used;
            // The images of a package keep the selection they had.
            for (size_t k = 0; k < used; ++k) job->m_images[before + k].selected = taken[i + k].selected;
        }
        i += used;
    }
    record->images = job->m_images;
    return all_loaded;
}

bool build_job_record(Download* job, JobRecord* record) {
    if (!job || !record) return false;
    copy_settings(*job, *record);
    record->images = job->m_images;
    return true;
}
