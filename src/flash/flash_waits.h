// How long the flash procedures wait: the fixed pauses they make, the time
// FlashProtect gives a flash to take a new protection state, and the bound of
// the busy poll after a whole-chip erase.
//
// The fixed pauses go through one sleep routine so that tests can shorten or
// record them; the program leaves it empty and really sleeps. The routine may
// be called from the whole-chip erase workers, two threads at once.
#pragma once

#include <cstdint>
#include <functional>

struct FlashWaits {
    // Called instead of sleeping when set (milliseconds asked for).
    std::function<void(uint32_t ms)> sleep;
    // FlashProtect gives up when the wanted state is not read back within this.
    double protect_limit_seconds = 5.0;
    // After the fixed wait of a whole-chip erase, the busy bit of status
    // register 1 is polled at this interval until it clears or the bound
    // passes. The largest supported parts take up to 200 s to erase whole.
    uint32_t busy_poll_interval_ms = 50;
    double busy_limit_seconds = 200.0;

    // One fixed pause.
    void pause(uint32_t ms) const;
};
