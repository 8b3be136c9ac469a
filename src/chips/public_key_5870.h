// The 5870's public-key step: the chip's device id is compared with the one
// expected, then the 16 public-key words are written into the key registers
// and read back.
#pragma once

#include <string>

class Download;
struct FlashWaits;

// 1 written; 0 the device id differs, the key text is empty, a word reads
// back differently, or an input cannot be used (checked before any register
// is touched); -1 to -4 a register access failed.
[[nodiscard]] int write_public_key_5870(Download* job, const std::string& efuse_file, const FlashWaits& waits);
