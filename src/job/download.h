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
#include "job/chip_table.h"
#include "job/image_entry.h"
#include "job/image_slot.h"
#include "serial/comm_port.h"

class CBootIntf;
struct ChipRow;
struct JobRecord;

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

    // ---- image loading ------------------------------------------------------
    // Loads a plain image or every record of a packaged file into the image
    // slots and the image list. Returns 1 when accepted, 0 when refused (a
    // refusal says why in the log, except for a file that cannot be opened).
    // replace 1 with append 0 stores the entries at list positions index...
    // instead of appending them.
    int add_image(const std::string& path, int index, ImageEntry& entry, int replace = 0, int append = 0);

    // ---- register access with retries ---------------------------------------
    // Each binds intf to the job's port first.
    // 1, or -1 after three timed-out attempts.
    int ReadRegister(CBootIntf& intf, uint32_t addr, uint32_t& value);
    // The value, or 0 after five failed attempts.
    uint32_t ReadRegisterValue(CBootIntf& intf, uint32_t addr);
    // 1, or -1 after five failed attempts.
    int WriteRegister(CBootIntf& intf, uint32_t addr, uint32_t value);

    // ---- link ----------------------------------------------------------------
    // Opens the port at 115200: 1, or 0 when it cannot be opened.
    int Connect(int port);
    // Three reboot commands, 10 ms apart. Returns 1.
    int Boot_Reboot();
    // Reset, knock until the boot ROM answers, identify the chip, switch to
    // m_baudrate and read the flash id. The chip kind (1 to 10), or 0. retry
    // is 1 when called by SWDL_ConnectRetry. Only the record's image list is
    // read; it may be null.
    int GetBus(const JobRecord* record, int retry);
    // Reboot, reopen the port and GetBus again; what GetBus returns. Refused
    // (0) when the reconnect would nest deeper than kMaxGetBusDepth.
    int SWDL_ConnectRetry(const JobRecord* record);
    // GetBus, and one SWDL_ConnectRetry when it fails.
    bool GetBusOrRetry(const JobRecord* record);
    // A rate every supported USB-serial bridge carries.
    int SafeBaudRate() const;

    // DCO calibration through the system control word.
    bool sctrl_dco_cali(uint8_t kind);
    // The system control word once the status word is not busy; 0 when
    // unreadable or busy too often.
    uint32_t sctrl_read(uint8_t kind);
    // Writes the system control word and waits for the status word.
    bool sctrl_write(uint32_t value, uint8_t kind);
    // Clock steps after the calibration; each logs the register and
    // returns true.
    bool SetPeriClkMux();
    bool SetSpiClkDiv();
    bool SetSysClk();
    // Moves the chip's UART and the port to 2600000 (the 3000000 setting):
    // 0, or -1 when the divider was not taken or the link check failed.
    int uart_set_baudrate_ext_a(int fast_link);

    // GetBus levels that may run inside each other: a reconnect inside a
    // reconnect's GetBus is refused, so a dead chip ends in bounded time.
    static constexpr int kMaxGetBusDepth = 2;

private:
    // GetBus steps. Each returns 1 to go on, 0 when GetBus gives up.
    int knock_for_bus(CBootIntf& intf, int retry);
    uint32_t read_chip_id(CBootIntf& intf);
    int switch_baud_negotiated(CBootIntf& intf, const JobRecord* record, int retry, const ChipRow& row);
    int calibrate_dco(const JobRecord* record, uint8_t kind);
    void run_clock_steps(const ChipRow& row);
    int read_flash_id(CBootIntf& intf, const JobRecord* record, int kind);
    void send_reboot_text(CBootIntf& intf);
    // ReadRegisterValue that also tells whether the read succeeded (value 0 then).
    bool read_register_retried(CBootIntf& intf, uint32_t addr, uint32_t& value);

    // GetBus calls running now (a reconnect runs one inside another).
    int m_getbus_depth = 0;
};
