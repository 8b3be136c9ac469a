#include "sim_options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>

#include "flash_models.h"
#include "virtual_chip.h"

namespace sim {

bool parse_u32(const std::string& text, uint32_t& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || isspace((unsigned char)text[0])) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || !end || *end || v > 0xFFFFFFFFull) return false;
    value = uint32_t(v);
    return true;
}

bool unescape_text(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            if (i + 2 >= text.size()) return false;
            std::string hex = text.substr(i + 1, 2);
            if (hex.size() != 2 || !isxdigit((unsigned char)hex[0]) || !isxdigit((unsigned char)hex[1])) return false;
            out += char(std::strtoul(hex.c_str(), nullptr, 16));
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

namespace {

const char* kFooter = R"(The chip:
  Boot ROM at 115200 baud 8N1 after start and after every reset. It answers
  every command of the boot protocol; unknown commands get no answer. After
  the reboot command (01 E0 FC 02 0E A5) the chip runs its firmware, which
  answers nothing until it receives the reboot text (at --app-baud). A
  pseudo-terminal has no modem lines, so the reset pulse of the in-process
  line does not exist here: the reboot text is the way back, or, with
  --reset-on-open, the next host that opens the line.
  The simulator follows the rate the host sets on the pseudo-terminal (custom
  rates included) and understands the host only while both ends use the same
  rate; bytes at another rate are lost, as on a real line.
  Registers: chip id at --chip-id-place; 0x0080005C system control, 0x00800040
  status (busy bits after control writes, see --status-busy-reads),
  0x00802000, 0x00802700, 0x00800008, 0x00802100 UART configuration (divider
  field 9 in bits 8-20 moves the UART to 2600000 baud); eFuse set A
  (control 0x00800074, data 0x00800078, power 0x00800008 bit 23) and set B
  (control and power bit 31 at 0x44880000, data 0x44880004). Every other
  address reads and writes as plain memory.
  Flash: NOR rules, write enable (06) before every program, erase and status
  write through the SPI pass-through, block protection by the status
  registers, security registers 44/42/48 in 256-byte pages. Status byte of
  flash answers: 0 done, 1 write-protected, 2 outside the flash, 3 bad
  argument, 4 status write without write enable.

State (--state DIR): flash.bin, flash.txt, flash_security.bin, efuse.bin and
registers.txt; loaded at start, saved when the chip changed and the line was
quiet for a moment, and at exit (SIGINT, SIGTERM, SIGHUP).

Faults are counted from the start of the program, leaving out link checks and
the reset magic (how many of those a host sends depends on timing); their
random choices come from --seed, so the same seed and the same traffic give
the same faults.

The first line on standard output is the pseudo-terminal's path; everything
else goes to standard error.)";

bool split_numbers(const std::string& text, std::vector<uint32_t>& out) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string piece = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        uint32_t v;
        if (!parse_u32(piece, v) || v == 0) return false;
        out.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

}  // namespace

int parse_sim_options(int argc, char** argv, SimProgramOptions& o) {
    CLI::App app{"tesk_sim: a virtual Quarn Wi-Fi chip (boot ROM, registers, SPI flash, eFuse) on a pseudo-terminal",
                 "tesk_sim"};
    app.footer(kFooter);
    app.get_formatter()->column_width(34);

    std::string chip_id = "0x5810", id_place = "0x44010004", flash, flash_sr, reboot_text = "reboot\\r\\n";
    std::string efuse_set = "auto", drop, corrupt, bit_errors;
    std::vector<std::string> regs;
    uint32_t seed = 1;
    int efuse_size = 32;

    app.add_option("--link", o.link_path, "Place a symbolic link to the pseudo-terminal at PATH (removed at exit)")->type_name("PATH");
    app.add_option("--state", o.state_dir, "Keep flash, eFuse and registers in DIR between runs")->type_name("DIR");
    app.add_option("--command-log", o.command_log_path, "Append one line per received command to FILE")->type_name("FILE");
    app.add_flag("-v,--verbose", o.verbose, "Print every received command on standard error");
    app.add_flag("--list-flash", o.list_flash, "List the flash models and exit");
    app.add_flag("--reset-on-open", o.reset_on_open,
                 "A host opening the line resets the chip into its boot ROM (stands in for the reset pulse)");

    auto* g_chip = "Chip";
    app.add_option("--chip-id", chip_id, "Chip id (default 0x5810)")->type_name("ID")->group(g_chip);
    app.add_option("--chip-id-place", id_place,
                   "Register that holds the chip id: 0x44010004 (default), 0x34010004 or 0x00800000")
        ->type_name("ADDRESS")->group(g_chip);
    app.add_flag("--chip-id-echo-plus-100", o.chip.chip_id_echo_plus_100,
                 "Answer id reads with the address echo raised by 0x100")
        ->group(g_chip);
    app.add_option("--flash", flash, "Flash model by JEDEC id or name (default GD25Q16B 0x1540C8, or the state's)")
        ->type_name("ID|NAME")->group(g_chip);
    app.add_option("--flash-sr", flash_sr,
                   "Power-on status registers when no state holds them (register 1 in bits 0-7, 2 in 8-15, 3 in 16-23)")
        ->type_name("VALUE")->group(g_chip);
    app.add_option("--efuse-size", efuse_size, "eFuse bytes, 1 to 64 (default 32, or the state's)")->type_name("N")->group(g_chip);
    app.add_option("--efuse-set", efuse_set, "eFuse register set: auto (B on a 5850, else A), A, B or both")
        ->type_name("SET")->group(g_chip);
    app.add_option("--efuse-busy-us", o.chip.efuse_busy_us, "Time an eFuse command keeps its busy bit (default 2000)")
        ->type_name("US")->group(g_chip);
    app.add_option("--status-busy-reads", o.chip.status_busy_reads,
                   "Reads of 0x00800040 showing busy after each write of 0x0080005C (default 0)")
        ->type_name("N")->group(g_chip);
    app.add_option("--reboot-text", reboot_text, "Text that brings the firmware back to the boot ROM (default reboot\\r\\n)")
        ->type_name("TEXT")->group(g_chip);
    app.add_option("--app-baud", o.chip.app_baud, "Rate the firmware listens at (default 115200)")->type_name("BAUD")->group(g_chip);
    app.add_option("--baud-delay-us", o.chip.baud_switch_delay_us,
                   "Delay before the answer to a baud-rate command, at the new rate (default 5000)")
        ->type_name("US")->group(g_chip);
    app.add_option("--reg", regs, "Power-on value of a register, ADDRESS=VALUE (repeatable)")->type_name("ADDRESS=VALUE")->group(g_chip);

    auto* g_time = "Timing";
    app.add_flag("--wire-timing", o.chip.wire_timing, "10 bit times per byte at the current rate, both directions")
        ->group(g_time);
    app.add_flag("--flash-timing", o.chip.flash_timing, "Typical erase and program durations of serial NOR flash")
        ->group(g_time);

    auto* g_fault = "Faults";
    app.add_option("--seed", seed, "Seed of the faults' random choices (default 1)")->type_name("N")->group(g_fault);
    app.add_option("--fault-noise", o.chip.faults.noise_bytes, "Send N random bytes (never 0x04) before every answer")
        ->type_name("N")->group(g_fault);
    app.add_option("--fault-drop-answer", drop, "Do not send these answers (N or N,M,... counted from 1)")
        ->type_name("N[,M...]")->group(g_fault);
    app.add_option("--fault-corrupt-answer", corrupt, "Change one byte of these answers (N or N,M,...)")
        ->type_name("N[,M...]")->group(g_fault);
    app.add_option("--fault-silent-after", o.chip.faults.silent_after_frames,
                   "Stop listening after N frames until a reset or the reboot text")
        ->type_name("N")->group(g_fault);
    app.add_option("--fault-max-baud", o.chip.faults.max_baud, "The line carries no rate above N")->type_name("BAUD")->group(g_fault);
    app.add_flag("--fault-stuck-protect", o.chip.faults.stuck_protect,
                 "Block-protect bits BP0-BP2 are set and cannot be cleared")
        ->group(g_fault);
    app.add_option("--fault-program-bit-error", bit_errors,
                   "Flip one stored bit in these flash programs (N or N,M,... counted from 1)")
        ->type_name("N[,M...]")->group(g_fault);
    app.add_option("--fault-efuse-busy", o.chip.faults.efuse_busy_fault_ms,
                   "Every eFuse command stays busy for MS milliseconds (e.g. 1500)")
        ->type_name("MS")->group(g_fault);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "tesk_sim: %s\n", message.c_str());
        return 2;
    };
    SimConfig& c = o.chip;
    if (!parse_u32(chip_id, c.chip_id)) return fail("--chip-id: not a number: " + chip_id);
    if (!parse_u32(id_place, c.chip_id_address) ||
        (c.chip_id_address != 0x44010004 && c.chip_id_address != 0x34010004 && c.chip_id_address != 0x00800000))
        return fail("--chip-id-place: must be 0x44010004, 0x34010004 or 0x00800000");
    if (!flash.empty()) {
        uint32_t mid = 0;
        const SimFlashModel* m = parse_u32(flash, mid) ? find_flash_model(mid) : find_flash_model_by_name(flash.c_str());
        if (!m) return fail("--flash: unknown flash model " + flash + " (see --list-flash)");
        c.flash_mid = m->mid;
        o.flash_given = true;
    }
    if (!flash_sr.empty() && (!parse_u32(flash_sr, c.flash_status) || c.flash_status > 0xFFFFFF))
        return fail("--flash-sr: not a 24-bit value: " + flash_sr);
    if (efuse_size < 1 || efuse_size > 64) return fail("--efuse-size: must be 1 to 64");
    c.efuse_size = size_t(efuse_size);
    o.efuse_size_given = app.count("--efuse-size") > 0;
    if (efuse_set == "auto") c.efuse_sets = EfuseSets::Auto;
    else if (efuse_set == "A" || efuse_set == "a") c.efuse_sets = EfuseSets::A;
    else if (efuse_set == "B" || efuse_set == "b") c.efuse_sets = EfuseSets::B;
    else if (efuse_set == "both") c.efuse_sets = EfuseSets::Both;
    else return fail("--efuse-set: must be auto, A, B or both");
    if (!unescape_text(reboot_text, c.reboot_text) || c.reboot_text.empty())
        return fail("--reboot-text: empty or bad escape (use \\r \\n \\t \\\\ \\xHH)");
    for (const std::string& r : regs) {
        size_t eq = r.find('=');
        uint32_t a, v;
        if (eq == std::string::npos || !parse_u32(r.substr(0, eq), a) || !parse_u32(r.substr(eq + 1), v))
            return fail("--reg: expected ADDRESS=VALUE, got " + r);
        c.register_overrides.emplace_back(a, v);
    }
    c.faults.seed = seed;
    if (!drop.empty() && !split_numbers(drop, c.faults.drop_answers))
        return fail("--fault-drop-answer: expected N or N,M,... (from 1)");
    if (!corrupt.empty() && !split_numbers(corrupt, c.faults.corrupt_answers))
        return fail("--fault-corrupt-answer: expected N or N,M,... (from 1)");
    if (!bit_errors.empty() && !split_numbers(bit_errors, c.faults.program_bit_errors))
        return fail("--fault-program-bit-error: expected N or N,M,... (from 1)");
    std::string error;
    if (!VirtualChip::validate(c, error)) return fail(error);
    return -1;
}

}  // namespace sim
