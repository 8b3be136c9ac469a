// What a whole-chip erase does per flash model: how long it waits after the
// erase-all command before the flash is used again, and how its progress
// line is paced.
#pragma once

#include <cstdint>

struct ChipEraseTiming {
    // Fixed wait after the erase-all command was answered (0 = none).
    uint32_t wait_ms = 0;
    // Whether the progress line is printed during the erase.
    bool progress = false;
    // Pause per 4 KiB step of the progress line (0 = none).
    uint32_t step_pause_ms = 0;
};

// The row of the given flash id; ids without a row wait nothing and show no progress.
ChipEraseTiming chip_erase_timing(uint32_t mid);
