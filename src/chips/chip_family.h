// A chip family as data: the named steps its download, read and erase run,
// in order, with the parameters that differ between families. Each step is
// written once (chip_family.cpp); a family's file only lists its steps.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class CQN_WIFI_CHIPSET;
class Download;
struct ChipRow;

enum class ChipStep : uint8_t {
    // Gates at the start of an operation.
    require_images,  // an empty image list fails at once, with no message
    nothing_to_do,   // download: no image and all four switches "false" fails quietly
    check_inputs,    // download: the document and the eFuse sources are refused here, before any write
    // Flash checks.
    flash_model,        // the flash id must be in the model table
    th25q,              // the TH25Q_16HB detection and high-temperature patch
    image_size,         // every selected image fits the flash
    flash_id_once,      // erase: one flash-id read, then the model check
    flash_id_retrying,  // erase: flash-id reads with reconnects, then the model check
    // Writing.
    unprotect,      // block protection off
    images,         // the common image download (with the family's verify mode)
    efuse_burn,     // --efuse: burn the assembled image, even an all-zero one
    efuse_guarded,  // --efuse with a file or a key list: burn it; no source, no burn
    efuse_params,   // hand the row's five eFuse parameter texts to the engine
    user_operate,   // the row's user-operate engine
    protect,        // block protection back on
    repair,         // chip_scratch_test_th25q: the TH25Q configuration repair
    read_images,    // the common read flow
    erase_entries,  // the erase-entry loop
    // The 5870.
    layout_register,  // reads 0x802740: restricted unless 0x1E00; a failed read ends without closing
    layout_rules,     // restricted parts: images only at 0x11000 and before the RF region
    public_key,       // --secureboot: device id check, then the 16 public-key words
    // The 5850.
    secure_writer,      // --sm-dl: erase, engine, upload and start the writer; restarts come back here
    images_or_restart,  // the image download; a failure starts the attempt over (bounded)
    otp_keys,           // --otp: the OTP key writer
    efuse_secure_boot,  // --efuse: burn with the row's set, then the secure-boot enable bits
    writer_done,        // with a secure writer the download ends here
};

// How an operation ends (the closing sequence).
enum class Closing : uint8_t {
    standard,  // reboot when asked, close, reopen at 115200, close
    chip5810,  // reboot when asked, close; after a failure reopen, reboot, close
};

struct ChipFamily {
    const char* name;  // the class name, for messages
    uint8_t kind;      // its row of the chip table
    std::span<const ChipStep> download;
    std::span<const ChipStep> read;
    std::span<const ChipStep> erase;
    int verify_mode;          // 1: one CRC per image, 0: a CRC per sector
    Closing closing;
    bool read_pass_message;   // "ReadFlash ->pass" after a good read
    float erase_getbus_timeout;  // flash_id_retrying's reconnects; 0: the job's own
};

enum class FamilyOperation : uint8_t { download, read, erase };

// Runs one operation of a family on `chip`: builds the job record, runs the
// steps until one fails, and closes. Returns the operation's success.
bool run_family_operation(CQN_WIFI_CHIPSET& chip, Download* job, const ChipFamily& family, FamilyOperation op);

// Empty when the family's steps make sense with its chip-table row (for
// example: protection comes off before the first writing step and back on
// after the last); otherwise what is wrong.
std::string check_family(const ChipFamily& family, const ChipRow& row);

// The name of a step, for messages.
const char* chip_step_name(ChipStep step);
