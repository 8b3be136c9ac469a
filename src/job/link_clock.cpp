// Clock set-up for the 3000000 setting: the DCO calibration through the
// system control word, the clock steps after it, and the UART divider that
// moves the chip and the port to 2600000.

#include "job/chip_table.h"
#include "job/download.h"
#include "job/link_counters.h"
#include "protocol/boot_intf.h"
#include "serial/timers.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint32_t kSysCtrlWord = 0x0080005C;
constexpr uint32_t kStatusWord = 0x00800040;
constexpr uint32_t kPeriClkMux = 0x00802000;
constexpr uint32_t kSpiCtrl = 0x00802700;
constexpr uint32_t kSysClkSet = 0x00800008;
constexpr uint32_t kUartCfg = 0x00802100;

constexpr int kDcoFrequency = 120000000;
constexpr int kDividerBaud = 2600000;
constexpr uint32_t kUartDivider = 9;

// Time the link check after the divider switch may take to come back.
constexpr double kLinkAfterDividerSeconds = 0.1;

}  // namespace

uint32_t Download::sctrl_read(uint8_t kind) {
    CBootIntf intf(&m_uart);
    const DcoParams params = dco_params(kind);
    LinkCounters& counters = link_counters();
    for (;;) {
        const uint32_t status = ReadRegisterValue(intf, kStatusWord);
        if ((status & params.busy_mask) == 0) return ReadRegisterValue(intf, kSysCtrlWord);
        if (++counters.control_read_busy % 5 == 0) return 0;
    }
}

bool Download::sctrl_write(uint32_t value, uint8_t kind) {
    CBootIntf intf(&m_uart);
    const DcoParams params = dco_params(kind);
    LinkCounters& counters = link_counters();
    if (WriteRegister(intf, kSysCtrlWord, value) != 1) return false;
    uint32_t status = ReadRegisterValue(intf, kStatusWord);
    while ((status & params.busy_mask) != 0) {
        if (++counters.control_write_busy % 5 == 0) return false;
        status = ReadRegisterValue(intf, kStatusWord);
    }
    return true;
}

bool Download::sctrl_dco_cali(uint8_t kind) {
    const DcoParams params = dco_params(kind);
    // The control word never reads 0 on a working chip: 0 is a failed read,
    // and writing a value built from it would stop the chip's clocks.
    auto update = [&](uint32_t clear, uint32_t set) {
        const uint32_t value = sctrl_read(kind);
        if (value == 0) return false;
        sctrl_write((value & ~clear) | set, kind);
        return true;
    };

    uint32_t value = sctrl_read(kind);
    if (value == 0) return false;
    if (!sctrl_write(value & ~params.clear_mask, kind)) return false;

    if (!update((params.field_mask << params.shift) | 0x00D80000, 0x01270000)) return false;
    // Toggling bit 25 and then bit 15 starts the calibration.
    if (!update(0x02000000, 0)) return false;
    if (!update(0, 0x02000000)) return false;
    if (!update(0, 0x8000)) return false;
    if (!update(0x8000, 0)) return false;
    return true;
}

int Download::calibrate_dco(const JobRecord* record, uint8_t kind) {
    for (int round = 0; round < 5; ++round) {
        if (sctrl_dco_cali(kind)) return 1;
        job_log(LOG_INFO, "sctrl_dco_cali fail - ( %d )", round);
        if (SWDL_ConnectRetry(record) == 0) return 0;
        if (sctrl_dco_cali(kind)) return 1;
    }
    return 0;
}

void Download::run_clock_steps(const ChipRow& row) {
    SetPeriClkMux();
    SetSpiClkDiv();
    if (row.sys_clk_step) SetSysClk();
}

bool Download::SetPeriClkMux() {
    CBootIntf intf(&m_uart);
    uint32_t value = 0;
    const bool read = read_register_retried(intf, kPeriClkMux, value);
    job_log(LOG_INFO, "ICU_PERI_CLK_MUX=0x%x", value);
    if (read && (value & 0x40) != 0) {
        WriteRegister(intf, kPeriClkMux, value & ~0x40u);
        job_log(LOG_INFO, "ICU_PERI_CLK_MUX=0x%x", ReadRegisterValue(intf, kPeriClkMux));
    }
    return true;
}

bool Download::SetSpiClkDiv() {
    CBootIntf intf(&m_uart);
    uint32_t value = 0;
    const bool read = read_register_retried(intf, kSpiCtrl, value);
    job_log(LOG_INFO, "REG_SPI_CTRL=0x%x, div=%d", value, 3);
    // Divider 3 in bits 8 to 15.
    const uint32_t wanted = (value & ~0xFC00u) | 0x300u;
    if (read && wanted != value) {
        WriteRegister(intf, kSpiCtrl, wanted);
        job_log(LOG_INFO, "REG_SPI_CTRL=0x%x", ReadRegisterValue(intf, kSpiCtrl));
    }
    return true;
}

bool Download::SetSysClk() {
    CBootIntf intf(&m_uart);
    uint32_t value = 0;
    const bool read = read_register_retried(intf, kSysClkSet, value);
    job_log(LOG_INFO, "REG_SYS_CTRL_CLK_SET_ADDR=0x%x", value);
    const uint32_t wanted = (value & ~3u) | 0x10u;
    if (read && wanted != value) {
        WriteRegister(intf, kSysClkSet, wanted);
        job_log(LOG_INFO, "REG_SYS_CTRL_CLK_SET_ADDR -> 0x%x", wanted);
        job_log(LOG_INFO, "REG_SYS_CTRL_CLK_SET_ADDR=0x%x", ReadRegisterValue(intf, kSysClkSet));
    }
    return true;
}

int Download::uart_set_baudrate_ext_a(int fast_link) {
    CBootIntf intf(&m_uart);
    uint32_t value = 0;
    const bool read = read_register_retried(intf, kUartCfg, value);
    job_log(LOG_INFO, "REG_APB3_UART_CFG = 0x%x", value);
    if (!read) {
        // A divider built on a failed read would clear the UART's other settings.
        job_log(LOG_INFO, "REG_APB3_UART_CFG set failed");
        return -1;
    }
    job_log(LOG_INFO, "dco_freq %d, baudrate %d, div %d", kDcoFrequency, kDividerBaud, int(kUartDivider));
    const uint32_t wanted = (value & 0xFFE009FFu) | (kUartDivider << 8);
    job_log(LOG_INFO, "REG_APB3_UART_CFG -> 0x%x", wanted);
    intf.WriteReg(kUartCfg, wanted, 0.005);
    sleep_ms(10);

    job_log(LOG_INFO, "actual_baud %d", kDividerBaud);
    m_uart.Configure(kDividerBaud, fast_link);
    sleep_ms(10);

    const uint32_t now = ReadRegisterValue(intf, kUartCfg);
    job_log(LOG_INFO, "tmp = 0x%x", now);
    if (now != wanted) {
        job_log(LOG_INFO, "REG_APB3_UART_CFG set failed");
        return -1;
    }
    sleep_ms(5);
    // One link check reads once; its answer may need a little longer than
    // that, so check again for a short while before calling the link lost.
    CalcTimer timer;
    timer.start();
    int result = intf.LinkCheck(0.005);
    while (result != BOOT_OK && !timer.has_elapsed(kLinkAfterDividerSeconds)) result = intf.LinkCheck(0.005);
    if (result == BOOT_OK) {
        job_log(LOG_INFO, "<<<< Exit");
        return 0;
    }
    job_log(LOG_INFO, "<<<< LinkCheck Failed after set div");
    return result;
}
