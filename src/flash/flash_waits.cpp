#include "flash/flash_waits.h"

#include <chrono>
#include <thread>

void FlashWaits::pause(uint32_t ms) const {
    if (sleep) {
        sleep(ms);
        return;
    }
    if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
