// The 5810, the oldest chip of the family: its operations hand the job to the
// shared flows with no flash model, protection or eFuse steps of their own.

#include "chips/chip_5810.h"

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

bool CQN_WIFI_5810::download() { return run_family_operation(*this, m_job, kFamily5810, FamilyOperation::download); }
bool CQN_WIFI_5810::read() { return run_family_operation(*this, m_job, kFamily5810, FamilyOperation::read); }
bool CQN_WIFI_5810::erase() { return run_family_operation(*this, m_job, kFamily5810, FamilyOperation::erase); }
