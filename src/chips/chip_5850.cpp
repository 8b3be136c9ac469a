// Steps of the family; chip_5850.h says how it differs from the others.

#include "chips/chip_5850.h"

#include "chips/secure_boot_keys.h"
#include "job/chip_table.h"
#include "job/download.h"

namespace {

using S = ChipStep;

constexpr ChipStep kDownload[] = {
    S::flash_model, S::nothing_to_do, S::check_inputs,
    // Every restart of the attempt comes back here.
    S::secure_writer, S::image_size, S::unprotect, S::images_or_restart, S::otp_keys, S::efuse_secure_boot,
    S::efuse_params,
    // With a secure writer the download is complete here.
    S::writer_done, S::user_operate, S::protect, S::repair,
};
constexpr ChipStep kRead[] = {S::require_images, S::read_images};
constexpr ChipStep kErase[] = {S::require_images, S::flash_id_once, S::unprotect, S::erase_entries};

}  // namespace

const ChipFamily kFamily5850{
    .name = "CQN_WIFI_5850",
    .kind = CHIP_KIND_5850,
    .download = kDownload,
    .read = kRead,
    .erase = kErase,
    .verify_mode = 0,
    .closing = Closing::standard,
    .read_pass_message = false,
    .erase_getbus_timeout = 0,
};

int CQN_WIFI_5850::Do_QnWriteSecureBoot() { return write_secure_boot(m_job, m_job->m_efuse_file, flash_waits); }
