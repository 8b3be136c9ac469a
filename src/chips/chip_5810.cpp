// The 5810: one whole-image CRC per image and nothing around the images.

#include "chips/chip_families.h"
#include "job/chip_table.h"

namespace {

constexpr ChipStep kDownload[] = {ChipStep::require_images, ChipStep::images};
constexpr ChipStep kRead[] = {ChipStep::require_images, ChipStep::read_images};
constexpr ChipStep kErase[] = {ChipStep::require_images, ChipStep::erase_entries};

}  // namespace

const ChipFamily kFamily5810{
    .name = "CQN_WIFI_5810",
    .kind = CHIP_KIND_5810,
    .download = kDownload,
    .read = kRead,
    .erase = kErase,
    // This chip checks the whole image with one CRC once all its sectors are written.
    .verify_mode = 1,
    .closing = Closing::chip5810,
    .read_pass_message = true,
    .erase_getbus_timeout = 0,
};
