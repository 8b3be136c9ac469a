// The two user files that describe the device data a download writes besides
// the firmware images: the safe-json document (--safe-json) and the eFuse
// configuration file (--efuse-file).
//
// Every record field stays text here; the consumers read the numbers inside
// (addresses and lengths are hexadecimal texts).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One "user_operate" record: OTP words, chip registers, flash bytes or flash
// security registers, chosen by the name.
struct UserOperateRecord {
    std::string name;
    std::string mode;
    std::string permission;       // "ro" when the document has none
    std::string start_addr;
    std::string last_valid_addr;  // "0" when the document has none
    std::string byte_len;
    std::string data;             // as written (not lower-cased)
    std::string data_type;
    std::string extra;            // never filled by the loader
    std::string status;

    bool operator==(const UserOperateRecord&) const = default;
};

// One "security_data" record: key words written into chip registers.
struct SecurityDataRecord {
    std::string name;
    std::string mode;
    std::string permission;       // "ro" when the document has none
    std::string start_addr;
    std::string last_valid_addr;  // "0" when the document has none
    std::string byte_len;
    std::string data;             // as written (not lower-cased)
    std::string data_type;
    std::string status;

    bool operator==(const SecurityDataRecord&) const = default;
};

// One "efuse" record: eFuse bytes to burn or to read.
struct EfuseRecord {
    std::string mode;
    std::string byte_addr;
    std::string last_valid_addr;  // "0" when the document has none
    std::string length;
    std::string data;             // as written (not lower-cased)
    std::string status;

    bool operator==(const EfuseRecord&) const = default;
};

// The loaded safe-json document.
struct SecurityConfig {
    // The step switches, as written; their consumers compare them with
    // "true" and "false" exactly. Empty when the document lacks them.
    std::string user_operate_enable;
    std::string efuse_enable;
    std::string security_ctrl_enable;
    std::string security_data_enable;

    // eFuse parameters of the connected chip. Not read from the document: the
    // chip families fill them in before the user-operate engine runs.
    std::string efuse_size;
    std::string enable_bit;
    std::string efuse_ctrl_reg;
    std::string efuse_power_reg;
    std::string aux_ctrl_reg;

    std::vector<UserOperateRecord> user_operate;
    std::vector<EfuseRecord> efuse;
    std::vector<SecurityDataRecord> security_data;

    // Members of the first element of "security_ctrl": lower-cased name to
    // value as written, ordered by name.
    std::map<std::string, std::string> security_ctrl;

    bool operator==(const SecurityConfig&) const = default;
};

// Loads the safe-json document at path into config. On failure prints the
// reason on standard output and returns false; config is then left as it was.
bool load_safe_json(const std::string& path, SecurityConfig& config);

// The 32 bytes burnt into the chip's eFuse.
constexpr size_t kEfuseImageSize = 32;
using EfuseImage = std::array<uint8_t, kEfuseImageSize>;

// Fills all 32 bytes of image from section "efuse_cfg" of the eFuse
// configuration file. Missing keys read as 0; the file has no failure of its
// own (callers check that it exists).
void read_efuse_config(const std::string& path, EfuseImage& image);
