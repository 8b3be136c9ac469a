// Chip-level steps that the chip classes share by name: the closings of a
// job operation, the checks before a download, the eFuse image, its burn and
// read-back, and the flash-id acquisition before an erase.
#pragma once

#include <cstdint>

#include "job/chip_table.h"
#include "job/job_record.h"

struct FlashWaits;
#include "frontend/security_config.h"

class CQN_WIFI_CHIPSET;
class Download;

// ---- closings -------------------------------------------------------------
// Ends a job operation of every chip but the 5810: reboot (when asked for),
// close, reopen at 115200, close. Returns `result`.
bool close_job(Download* job, bool result);
// The 5810's own ending: reboot and close; after a failure also reopen,
// reboot once more and close. Returns `result`.
bool close_job_5810(Download* job, bool result);

// ---- download checks ------------------------------------------------------
// True when a download has nothing at all to do: no image and every one of
// the four enable texts of the configuration exactly "false".
bool nothing_to_do(const JobRecord& record);
// False (with its messages) when a selected image is larger than the flash
// the job found, or the flash is not a known model.
bool check_image_sizes(const Download* job, const JobRecord& record);

// ---- eFuse ----------------------------------------------------------------
// Largest number of words an eFuse key list may give (the image holds eight).
constexpr size_t kEfuseKeyWords = 8;

// Builds the 32 bytes to burn: from the eFuse file when the record names an
// existing one, else from the job's word list (byte 31 then set to 0x20),
// else all zero. False (with a message, image all zero) for a word list
// longer than the image.
bool assemble_efuse_image(const Download* job, const JobRecord& record, EfuseImage& image);

// Burns the non-zero bytes of the image. 1 on success; -1 no port or power
// register read failed, -2 power register or command write failed, -3
// start-command write failed, -5 busy for more than 1 s, -6 control register
// read failed while waiting, -7 byte read failed, -8 a byte never read back
// as burnt.
int efuse_burn(Download* job, const EfuseImage& image, const EfuseRegisterSet& set);
// Reads one eFuse byte. 1 on success; -1 no port, -3 command write failed,
// -5 busy for more than 1 s, -6 control register read failed, -7 data
// register read failed, -8 the data register's valid bit is clear.
int efuse_read_byte(Download* job, uint32_t address, uint8_t& value, const EfuseRegisterSet& set);

// The secure-boot enable bits of eFuse byte 30 (bit 0 secure boot, bit 1
// its log, bit 2 fast boot), from the eFuse file's security_boot section
// when it opens, else from the job's switches. Burns them when secure boot
// is asked for; true when nothing had to be burnt or the burn went through.
bool burn_secure_boot_bits(Download* job, const JobRecord& record, const FlashWaits& waits);

// ---- flash id ---------------------------------------------------------------
// Reads the flash id until the job holds a known model, re-establishing the
// link (with the given get-bus time-out) after failed reads. False (with its
// message) when the id cannot be read or is not a supported flash.
bool acquire_flash_id(CQN_WIFI_CHIPSET& chip, Download* job, JobRecord* record, float getbus_timeout);
