// The 5850's OTP key writer: the secure-boot keys, the chip model word and
// the OTA key and initialisation vector, written into the chip's OTP key
// registers and (for the keys) read back.
//
// Every word is one-time, so the writer reads and checks all of its inputs
// before it powers the OTP block: a bad input fails with its message and
// code and leaves the chip untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Download;
struct FlashWaits;

// One item of the key map, ready to be written.
struct SecureBootKeyItem {
    const char* name;
    uint32_t first_register;
    std::vector<uint32_t> words;  // in register order
    bool read_back;
    bool pause_after_word;  // 50 ms after each word
    int write_code, read_code, mismatch_code;
    int mismatch_line;  // 0: the short mismatch line, else the line number of the long one
};

struct SecureBootKeys {
    std::vector<SecureBootKeyItem> items;  // in the order they are written
};

// Collects every item from the eFuse file (when `efuse_file` names an
// existing file) or else from the job's key options, converted to register
// words, and checks presence, word counts, formats and that no item runs
// into the registers of the next. 1, or the code of the first bad input
// (with its message).
[[nodiscard]] int collect_secure_boot_keys(const Download& job, const std::string& efuse_file, SecureBootKeys& keys);

// Powers the OTP block, writes every item, powers it down. 1, or the code of
// the failing access (the block is then left powered, as it is found).
[[nodiscard]] int write_secure_boot_keys(Download* job, const SecureBootKeys& keys, const FlashWaits& waits);

// Both, as the download runs them (with "SWDL_Link2UartPort" and -1 when the
// job has no open port).
[[nodiscard]] int write_secure_boot(Download* job, const std::string& efuse_file, const FlashWaits& waits);
