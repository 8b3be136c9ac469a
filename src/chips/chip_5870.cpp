// Steps of the family; chip_5870.h says how it differs from the others.

#include "chips/chip_families.h"
#include "job/chip_table.h"

namespace {

using S = ChipStep;

constexpr ChipStep kDownload[] = {
    // A layout register that cannot be read ends the download at once,
    // without the closing sequence; the rules stop it before anything is touched.
    S::layout_register, S::nothing_to_do, S::layout_rules, S::require_images, S::check_inputs, S::efuse_guarded,
    S::public_key, S::flash_model, S::image_size, S::unprotect, S::images, S::efuse_params, S::user_operate,
    S::protect, S::repair,
};
constexpr ChipStep kRead[] = {S::require_images, S::read_images};
constexpr ChipStep kErase[] = {S::require_images, S::flash_id_once, S::unprotect, S::erase_entries};

}  // namespace

const ChipFamily kFamily5870{
    .name = "CQN_WIFI_5870",
    .kind = CHIP_KIND_5870,
    .download = kDownload,
    .read = kRead,
    .erase = kErase,
    .verify_mode = 0,
    .closing = Closing::standard,
    .read_pass_message = false,
    .erase_getbus_timeout = 0,
};
