// Getting hold of the chip: open the port, reset the chip into its boot ROM,
// knock until the ROM answers, identify the chip, raise the line speed and
// read the flash id; the reconnect every later stage uses when the link is
// lost; and the reboot at the end of a run.

#include <cstring>
#include <string>

#include "flash/flash_models.h"
#include "job/chip_table.h"
#include "job/current_chip.h"
#include "job/download.h"
#include "job/job_record.h"
#include "job/link_counters.h"
#include "protocol/boot_intf.h"
#include "serial/timers.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr int kRomBaud = 115200;
constexpr double kLinkCheckTimeout = 0.005;
// Unanswered link checks between two reboot texts.
constexpr int kKnocksPerRebootText = 200;
// Flash address where only the images of a 5810-family chip start.
constexpr uint32_t kUnknownChipImageStart = 0x11000;

constexpr uint32_t kChipIdPlaces[3] = {0x44010004, 0x34010004, 0x00800000};

// Counts the GetBus calls running inside each other.
class DepthGuard {
public:
    explicit DepthGuard(int& depth) : m_depth(depth) { ++m_depth; }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& m_depth;
};

bool has_image_at(const JobRecord* record, uint32_t start) {
    if (!record) return false;
    for (const ImageEntry& entry : record->images)
        if (entry.start == start) return true;
    return false;
}

// "\r\n" typed as four characters becomes CR LF.
void unescape_line_ends(std::string& text) {
    size_t at = 0;
    while ((at = text.find("\\r\\n", at)) != std::string::npos) {
        text.replace(at, 4, "\r\n");
        at += 2;
    }
}

}  // namespace

int Download::Connect(int port) {
    if (m_uart.Open(port, kRomBaud, m_fast_link) != 1) {
        job_log(LOG_INFO, "Current port : COM%d + BaudRate : %d connect failed", port, kRomBaud);
        return 0;
    }
    LinkCounters& counters = link_counters();
    if (counters.connects == 0)
        job_log(LOG_INFO, "Current port : COM%d + BaudRate : %d connect success", port, kRomBaud);
    ++counters.connects;
    return 1;
}

int Download::Boot_Reboot() {
    CBootIntf intf(&m_uart);
    for (int i = 0; i < 3; ++i) {
        intf.RebootCommand();
        sleep_ms(10);
    }
    return 1;
}

int Download::SafeBaudRate() const { return (m_uart_type == 1 || m_uart_type == 2) ? 921600 : 115200; }

void Download::send_reboot_text(CBootIntf& intf) {
    if (m_swrst_cmd.empty()) {
        static const uint8_t text[8] = {'r', 'e', 'b', 'o', 'o', 't', '\r', '\n'};
        intf.ResetMagic();
        intf.SendCommand(text, sizeof text, nullptr, 0, 0.001);
        return;
    }
    // The converted text is kept, so later rounds send it as it is.
    unescape_line_ends(m_swrst_cmd);
    intf.SendCommand(reinterpret_cast<const uint8_t*>(m_swrst_cmd.c_str()), std::strlen(m_swrst_cmd.c_str()),
                     nullptr, 0, 0.001);
}

int Download::knock_for_bus(CBootIntf& intf, int retry) {
    LinkCounters& counters = link_counters();
    m_uart.do_reset_signal();
    if (counters.getbus_timeouts == 0) {
        job_log(LOG_INFO, "do_reset_signal");
        job_log(LOG_INFO, "Getting Bus...");
    }
    if (retry == 1) job_log(LOG_INFO, "Getting Bus...");

    CalcTimer timer;
    timer.start();
    intf.ResetMagic();
    int result = intf.LinkCheck(kLinkCheckTimeout);
    int knocks = 1;
    while (result != BOOT_OK) {
        if (timer.elapsed() > double(m_getbus_timeout)) {
            if (counters.getbus_timeouts != 0) job_log(LOG_ERROR, "LinkCheck Timeout");
            ++counters.getbus_timeouts;
            return 0;
        }
        if (knocks > kKnocksPerRebootText) {
            knocks = 0;
            send_reboot_text(intf);
        }
        // A port that did not open reads nothing at once; do not spin on it.
        if (!m_uart.is_open()) sleep_ms(1);
        ++knocks;
        result = intf.LinkCheck(kLinkCheckTimeout);
    }
    return 1;
}

uint32_t Download::read_chip_id(CBootIntf& intf) {
    uint32_t id = 0;
    for (int attempt = 0; attempt < m_retry_count; ++attempt) {
        // A read that fails leaves id as it was; the check may narrow id to
        // its upper 16 bits, where some chips keep their number.
        for (uint32_t place : kChipIdPlaces) {
            intf.ReadRegChecked(place, id);
            if (is_known_chip_id(id)) return id;
        }
        if (attempt == m_retry_count - 1) job_log(LOG_INFO, "GetChipId fail!");
    }
    return id;
}

int Download::GetBus(const JobRecord* record, int retry) {
    DepthGuard depth(m_getbus_depth);
    CBootIntf intf(&m_uart);

    if (!knock_for_bus(intf, retry)) return 0;
    job_log(LOG_INFO, "Gotten Bus...");
    m_uart.Purge();
    m_uart.ClearError();

    const uint32_t chip_id = read_chip_id(intf);

    // Chip selection.
    const ChipRow* row = chip_row_for_id(chip_id);
    if (!row) {
        if (has_image_at(record, kUnknownChipImageStart)) {
            // Such images belong to a family this chip was not recognised as;
            // running it as a 5810N would write them to the wrong chip.
            m_chip_kind = CHIP_KIND_NONE;
            set_current_chip(nullptr);
            job_log(LOG_ERROR, "unknown chip id 0x%x with an image at 0x%x: no chip family to run it", chip_id,
                    kUnknownChipImageStart);
            return 0;
        }
        row = &chip_row_for_unknown_id();
    }
    m_chip_kind = row->kind;
    if (!row->has_family()) {
        set_current_chip(nullptr);
        job_log(LOG_ERROR, "chip 0x%x (kind %d) has no chip family", chip_id, row->kind);
        return 0;
    }
    std::unique_ptr<ChipOperations> chip = make_chip(*row, *this);
    if (chip) chip->retry_limit = m_retry_count;
    set_current_chip(std::move(chip));

    if (row->baud_switch == BaudSwitch::Direct) {
        // Whether the chip took the rate shows in the flash-id read.
        intf.SetBaudRate(m_baudrate, m_fast_link);
    } else if (!switch_baud_negotiated(intf, record, retry, *row)) {
        return 0;
    }
    job_log(LOG_INFO, "Current baudrate : %d seccess", m_baudrate);

    return read_flash_id(intf, record, row->kind);
}

int Download::switch_baud_negotiated(CBootIntf& intf, const JobRecord* record, int retry, const ChipRow& row) {
    const bool with_dco = m_baudrate == 3000000 && m_disable_dco == 0;
    if (with_dco && m_chip_erase == 0) {
        job_log(LOG_INFO, "Start Set DCO");
        if (!calibrate_dco(record, row.kind)) return 0;
        run_clock_steps(row);
        job_log(LOG_INFO, "End Set DCO");
    }
    if (with_dco) {
        if (!calibrate_dco(record, row.kind)) return 0;
        run_clock_steps(row);
        if (uart_set_baudrate_ext_a(m_fast_link) != 0) {
            job_log(LOG_INFO, "uart_set_baudrate_ext_a fail");
            return 0;
        }
        return 1;
    }
    if (m_baudrate == kRomBaud) return 1;

    // A rate the chip's UART cannot make is replaced; the job keeps the substitute.
    m_baudrate = row.substitute_rate(m_baudrate);
    // At least one attempt: without one the link would stay at 115200 while
    // the run reports the rate asked for.
    const int attempts = m_retry_count > 0 ? m_retry_count : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (intf.SetBaudRate(m_baudrate, m_fast_link) == BOOT_OK) return 1;
        if (retry == 0) {
            job_log(LOG_INFO, "enter loop mode : ConnectRetry and SetBR [ %d ]", attempt);
            if (SWDL_ConnectRetry(record) != 0 && intf.SetBaudRate(m_baudrate, m_fast_link) == BOOT_OK) {
                job_log(LOG_INFO, "[%d] SWDL_ConnectRetry ->pass", attempt);
                return 1;
            }
        }
        if (attempt == attempts - 1) {
            job_log(LOG_INFO, "SWDL_SetBR5810N fail");
            return 0;
        }
    }
    return 0;
}

int Download::read_flash_id(CBootIntf& intf, const JobRecord* record, int kind) {
    auto read_ok = [&](int result) { return result == BOOT_OK && m_flash_mid != 0; };

    int result = intf.GetFlashMid(m_flash_mid);
    if (read_ok(result) && find_flash_model(m_flash_mid)) return kind;

    for (int attempt = 0; attempt < m_retry_count; ++attempt) {
        result = intf.GetFlashMid(m_flash_mid);
        if (!read_ok(result)) {
            if (SWDL_ConnectRetry(record) != 0 && read_ok(intf.GetFlashMid(m_flash_mid))) return kind;
            if (attempt == m_retry_count - 1) {
                job_log(LOG_INFO, "GetFlashMid fail!");
                return 0;
            }
            continue;
        }
        if (find_flash_model(m_flash_mid)) return kind;
    }
    // An id missing from the table is reported by the chip procedure.
    return kind;
}

int Download::SWDL_ConnectRetry(const JobRecord* record) {
    if (m_getbus_depth >= kMaxGetBusDepth) {
        job_log(LOG_DETAIL, "SWDL_ConnectRetry: not inside a reconnect (depth %d)", m_getbus_depth);
        return 0;
    }
    Boot_Reboot();
    m_uart.Close();
    // A port that did not open makes the GetBus below time out.
    Connect(m_port);
    return GetBus(record, 1);
}

bool Download::GetBusOrRetry(const JobRecord* record) {
    int result = GetBus(record, 0);
    if (result == 0) result = SWDL_ConnectRetry(record);
    return result != 0;
}
