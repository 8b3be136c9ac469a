// The job: one object per process holding everything a run is told to do.
//
// The front end fills the option fields from the command line; the run
// operations read them. Defaults here are what a run uses when the user does
// not say otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "frontend/security_config.h"
#include "job/image_entry.h"
#include "job/image_slot.h"
#include "serial/comm_port.h"

// Chip kinds chosen from the chip id (0: none found yet).
enum ChipKind : uint8_t {
    CHIP_KIND_NONE = 0,
};

class Download {
public:
    Download() = default;
    virtual ~Download() = default;

    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    // Found by the link: JEDEC id of the flash and the chip kind.
    uint32_t m_flash_mid = 0;
    uint8_t m_chip_kind = CHIP_KIND_NONE;

    // The job's one serial port, used by every protocol object of the run.
    CQuarnUartPort m_uart;

    // Link and transport settings.
    float m_getbus_timeout = 15.0f;  // seconds to wait for the boot ROM to answer
    int32_t m_fast_link = 0;          // 1: reads return at once with what is queued
    int32_t m_retry_count = 20;       // attempts of the link, baud, flash-id and sector loops
    int32_t m_stay_in_rom = 1;
    int32_t m_chip_erase = 0;         // whole-chip erase asked for
    int32_t m_uart_type = 1;          // 1 CH340, 2 CP210, 3 other
    int32_t m_port = 0;               // port number; also names the log files ("COM<N>")
    int32_t m_baudrate = 1500000;     // working baud rate after the link is up
    int32_t m_disable_dco = 0;        // skip the oscillator calibration
    int32_t m_reboot = 1;             // reboot the chip when the job is done
    int32_t m_force_create = 0;       // read: create missing output files

    // Counts of the secure-boot flags of a download.
    int32_t m_secureboot = 0;
    int32_t m_enable_sec_boot = 0;
    int32_t m_enable_sec_boot_log = 0;

    // Run options that every chip operation copies into its job record.
    uint8_t m_image_spec_set = 0;  // a start address, range or whole-chip erase was given
    uint8_t m_secure_boot = 0;
    uint8_t m_big_endian = 0;
    uint8_t m_efuse_enable = 0;
    uint8_t m_otp_enable = 0;

    // MAC address placed in flash: bytes, flash address and length.
    uint8_t m_mac_set = 0;
    uint8_t m_mac_reserved = 0;
    uint8_t m_mac[6] = {};
    uint32_t m_mac_addr = 0;
    uint32_t m_mac_len = 0;

    // Device name placed in flash: zero-terminated text, flash address and length.
    uint8_t m_dev_name_set = 0;
    char m_dev_name[32] = {};
    uint32_t m_dev_name_addr = 0;
    uint32_t m_dev_name_len = 0;

    // Texts taken as typed from the command line.
    std::string m_efuse_key;
    std::string m_efuse_file;
    std::string m_public_key;
    std::string m_public_key_file;
    std::string m_device_id;
    std::string m_app_public_key;
    std::string m_aes_key;
    std::string m_schipmodel;
    std::string m_ota_key;
    std::string m_ota_iv;
    std::string m_swrst_cmd;   // software-reboot command text sent to running firmware
    std::string m_sm_dl_file;  // secure writer program run on the chip

    // Serial device to open instead of the one derived from m_port (empty: derive it).
    std::string m_device_path;

    // The loaded safe-json document (download only).
    SecurityConfig m_security;

    // Images or ranges of the run, in the order they were taken; entry i
    // uses image slot i.
    std::vector<ImageEntry> m_images;
    static constexpr int kImageSlots = 16;
    ImageSlot m_slots[kImageSlots];

    // Shared with the whole-chip erase workers; each has a single writer.
    std::atomic<int32_t> m_stop{1};  // 0 while a run operation runs; non-zero makes flash loops give up
    std::atomic<int32_t> m_chip_erase_done{0};
    std::atomic<int32_t> m_erase_progress_stop{0};
};
