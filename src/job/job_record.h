// The snapshot of the job's settings that each chip operation takes at its
// start and hands to the shared flows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/security_config.h"
#include "job/image_entry.h"

struct JobRecord {
    std::vector<ImageEntry> images;
    std::string efuse_file;
    bool reboot = false;
    bool images_given = false;  // an image is written only when this is set
    bool chip_erase = false;
    bool efuse_enable = false;
    bool secure_boot = false;
    bool otp_enable = false;
    bool mac_set = false;
    bool dev_name_set = false;
    bool big_endian = false;
    uint8_t mac[6] = {};
    uint32_t mac_addr = 0;
    uint32_t mac_len = 0;
    char dev_name[32] = {};
    uint32_t dev_name_addr = 0;
    uint32_t dev_name_len = 0;
    SecurityConfig security;
};

class Download;

// Snapshot of the job for a download. The image files are loaded again so
// that each entry's slot holds exactly what is written. False when a file
// cannot be loaded any more (the download must not go on without it).
bool build_download_record(Download* job, JobRecord* record);
// Snapshot of the job for a read or an erase; the list is copied as it is.
bool build_job_record(Download* job, JobRecord* record);
