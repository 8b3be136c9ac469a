// Small routines shared by the front end and the device procedures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Reads decimal or 0x-prefixed hex text; stops at the first non-digit. A
// doubled "0x" prefix (one added by a caller in front of user text that
// already had one) is tolerated.
int64_t parse_number(const std::string& text);

std::string to_lower(const std::string& text);

// Splits on a delimiter; an empty trailing part is dropped, inner and leading
// empty parts are kept.
std::vector<std::string> split(const std::string& text, const std::string& delimiter);

bool file_exists(const std::string& path);

// Reads `length` bytes from the start of the file (the whole file when length
// is 0, and length is set to the file size). Returns null and sets length to 0
// when the file cannot be opened.
std::unique_ptr<uint8_t[]> read_file(const std::string& path, size_t& length);

// Creates the directory part of path (one level) when it does not exist.
bool create_parent_directory(const std::string& path);

// Reflected CRC-32 (polynomial 0xEDB88320), initial value 0xFFFFFFFF, no final
// inversion: the complement of the common CRC-32.
uint32_t crc32(const uint8_t* data, size_t length);

std::string mac_to_text(const uint8_t bytes[6]);
std::string text_to_hex(const std::string& text);
std::string int_to_bytes_text(uint32_t value);

// INI-style key lookup; "0" when the section or key is missing. A key counts
// only at the start of a line.
std::string ini_get(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& line_end);
std::string ini_read_value(const std::string& path, const std::string& section, const std::string& key);
bool ini_read_list(const std::string& path, const std::string& section, const std::string& key_prefix,
                   std::vector<std::string>& values);

std::string scramble_text(const std::string& text);
std::string unscramble_text(const std::string& text);
// Cuts a key text into words; may resolve \n and \0 escapes in `text` itself.
int key_text_to_words(const std::string& name, std::string& text, int decode, std::vector<std::string>& words);
std::vector<std::string> ini_read_key_words(const std::string& path, const std::string& section,
                                            const std::string& key, size_t word_size);

// Busy-waits on the process clock.
void delay_ms(unsigned milliseconds);

// Sleeps (not busy); used for waits where the original slept.
void sleep_ms(unsigned milliseconds);

// Installs the handler that writes "CrashDump.dmp" on a fatal signal.
void install_crash_dump();

// Directory of the running executable ("" when it cannot be found).
std::string program_directory();
