// Clearing and setting the block protection of the SPI flash through its
// status registers, as the flash model table describes them.
#pragma once

#include <cstdint>

#include "flash/flash_waits.h"

class CBootIntf;
class Download;

enum FlashProtectResult : int {
    FLASH_PROTECT_OK = 1,            // the flash is in the wanted state
    FLASH_PROTECT_UNKNOWN_FLASH = -1,  // the id is in no row of the table
    FLASH_PROTECT_TIMEOUT = -2,      // the state was not read back in time
};

// protect 0 clears the protection (before writing), 1 sets it (after
// writing). Reads the status registers, and while they do not show the wanted
// state, enables writes and writes the state, until it is read back or
// waits.protect_limit_seconds (5 s) pass. A round whose status reads did not
// all answer is not judged: a dead link is never taken for an unprotected
// flash.
int FlashProtect(CBootIntf& link, uint32_t mid, int protect, const FlashWaits& waits = FlashWaits{});

// The same through a protocol object bound to the job's port.
int FlashProtect(Download& job, uint32_t mid, int protect, const FlashWaits& waits = FlashWaits{});
