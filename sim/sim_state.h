// Keeps a virtual chip's flash, eFuse and registers in a directory between
// runs:
//   flash.bin           the flash contents, exactly the part's capacity
//   flash.txt           the flash id and the status registers ("mid 0x1540C8", "sr1 0x00" ...)
//   flash_security.bin  security-register pages that are not blank: 4-byte page index, 256 bytes
//   efuse.bin           the eFuse bytes
//   registers.txt       one "0xADDRESS 0xVALUE" line per register word that holds a value
// Files are written under a temporary name and renamed, so a crash leaves the
// old or the new file, never half of one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "virtual_chip.h"

namespace sim {

struct StateInfo {
    bool has_flash = false;
    uint32_t flash_mid = 0;
    bool has_efuse = false;
    size_t efuse_size = 0;
};

// What a state directory holds, to choose the flash model and eFuse size
// before the chip is made. A missing directory or file is no error.
bool read_state_info(const std::string& dir, StateInfo& info, std::string& error);

// Loads what the directory holds into the chip; refuses files that do not fit
// it (another flash model, another eFuse size) without changing anything.
bool load_state(const std::string& dir, VirtualChip& chip, std::string& error);

// Creates the directory when needed and writes every file.
bool save_state(const std::string& dir, VirtualChip& chip, std::string& error);

// An exclusive advisory lock on the directory, so two simulators cannot share it.
class StateDirLock {
public:
    StateDirLock() = default;
    ~StateDirLock();
    StateDirLock(const StateDirLock&) = delete;
    StateDirLock& operator=(const StateDirLock&) = delete;
    bool acquire(const std::string& dir, std::string& error);

private:
    int m_fd = -1;
};

}  // namespace sim
