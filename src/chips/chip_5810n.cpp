// Steps of the family; chip_5810n.h says how it differs from the others.

#include "chips/chip_families.h"
#include "job/chip_table.h"

namespace {

using S = ChipStep;

constexpr ChipStep kDownload[] = {
    S::nothing_to_do, S::check_inputs, S::flash_model, S::th25q, S::image_size, S::unprotect, S::images,
    // The eFuse is burnt when asked for, from whatever source there is, even
    // an all-zero image.
    S::efuse_burn, S::efuse_params, S::user_operate, S::protect, S::repair,
};
constexpr ChipStep kRead[] = {S::require_images, S::read_images};
constexpr ChipStep kErase[] = {S::require_images, S::flash_id_retrying, S::unprotect, S::erase_entries};

}  // namespace

const ChipFamily kFamily5810N{
    .name = "CQN_WIFI_5810N",
    .kind = CHIP_KIND_5810N,
    .download = kDownload,
    .read = kRead,
    .erase = kErase,
    .verify_mode = 0,
    .closing = Closing::standard,
    .read_pass_message = false,
    // The erase's reconnects knock for the job's own get-bus time-out.
    .erase_getbus_timeout = 0,
};
