// Steps of the family; chip_5830.h says how it differs from the others.

#include "chips/chip_families.h"
#include "job/chip_table.h"

namespace {

using S = ChipStep;

constexpr ChipStep kDownload[] = {
    S::nothing_to_do, S::check_inputs, S::efuse_guarded, S::flash_model, S::th25q, S::image_size, S::unprotect,
    S::images, S::user_operate, S::protect, S::repair,
};
constexpr ChipStep kRead[] = {S::require_images, S::read_images};
constexpr ChipStep kErase[] = {S::require_images, S::flash_id_retrying, S::unprotect, S::erase_entries};

}  // namespace

const ChipFamily kFamily5830{
    .name = "CQN_WIFI_5830",
    .kind = CHIP_KIND_5830,
    .download = kDownload,
    .read = kRead,
    .erase = kErase,
    .verify_mode = 0,
    .closing = Closing::standard,
    .read_pass_message = false,
    // Its erase reconnects knock for 15 s whatever the job's time-out says.
    .erase_getbus_timeout = 15.0f,
};
