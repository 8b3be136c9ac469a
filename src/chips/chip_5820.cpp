// Steps of the family; chip_5820.h says how it differs from the others.

#include "chips/chip_families.h"
#include "job/chip_table.h"

namespace {

using S = ChipStep;

constexpr ChipStep kDownload[] = {
    // An eFuse burn that fails ends the download before any flash is touched.
    S::nothing_to_do, S::check_inputs, S::efuse_guarded, S::th25q, S::flash_model, S::image_size, S::unprotect,
    S::images, S::efuse_params, S::user_operate, S::protect, S::repair,
};
constexpr ChipStep kRead[] = {S::require_images, S::read_images};
constexpr ChipStep kErase[] = {S::require_images, S::flash_id_once, S::unprotect, S::erase_entries};

}  // namespace

const ChipFamily kFamily5820{
    .name = "CQN_WIFI_5820",
    .kind = CHIP_KIND_5820,
    .download = kDownload,
    .read = kRead,
    .erase = kErase,
    .verify_mode = 0,
    .closing = Closing::standard,
    .read_pass_message = false,
    .erase_getbus_timeout = 0,
};
