#include "frontend/command_line.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <sstream>

#include "job/download.h"
#include "support/log.h"

namespace {

constexpr const char* kVersion = "2.1.4.0";

// Option column of the generated help; the formatter is shared by the
// application and its subcommands, so setting it once on any of them is enough.
constexpr std::size_t kHelpColumn = 60;

constexpr const char* kPortDesc = "input a serialport number";
constexpr const char* kBaudDesc = "input a serialport baudrate";
constexpr const char* kInfileDesc = "input a bin file path";
constexpr const char* kStartRangeDesc = R"(input startaddress,Hex data,such as "0" or "0-10000")";
constexpr const char* kDebugDesc = "set debug mode,use to record log and detail information";
constexpr const char* kRangeDesc =
    R"(input freedom address and file length,Hex data,such as " [-f 0-10000] | [-f x-1.bin@0-10000] | [-f D:\all.bin@0x10000-0x1000, 20000-10000]")";
constexpr const char* kUartTypeDesc = R"(input uart_type,such as "CH340 | CP210 | OTHER")";
constexpr const char* kMultiBinDesc =
    R"(input some bin files path,such as "bootloader.bin@0,bsp.bin@11000",the first file name is bootlaoder.bin,startaddress is 0x00 and second file name is bsp.bin,startaddress is 0x11000)";
constexpr const char* kMultiBinListDesc =
    R"(input some bin files path,such as "bootloader.bin@0,bsp.bin@11000,",the first file name is bootlaoder.bin,startaddress is 0x00 and second file name is bsp.bin,startaddress is 0x11000)";
constexpr const char* kSwrstDesc = "input software_reboot_cli,such as \"\r\nreset reboot\r\n\"";
constexpr const char* kDeviceDesc = "open this serial device instead of the port number's device";

// A flag without a holder: the run driver asks how often it was given.
CLI::Option* add_count_flag(CLI::App& app, const std::string& name, const std::string& description) {
    return app.add_flag(name, description);
}

CLI::Option* add_port(CLI::App& sub, Download& job) {
    return sub.add_option("-p,--portinfo", job.m_port, kPortDesc)->required()->check(CLI::Range(0, 255));
}

CLI::Option* add_baudrate(CLI::App& sub, Download& job, int upper) {
    return sub.add_option("-b,--baudrate", job.m_baudrate, kBaudDesc)->check(CLI::Range(0, upper));
}

CLI::Option* add_fast_link(CLI::App& sub, Download& job) {
    return sub.add_option("--fast_link", job.m_fast_link, "set fast link mode")->check(CLI::Range(0, 1));
}

CLI::Option* add_output(CLI::App& sub, ParsedArgs& args) {
    return sub.add_option("-o,--output", args.output_dir, "set output log path")->check(CLI::ExistingDirectory);
}

CLI::Option* add_device(CLI::App& sub, Download& job) {
    return sub.add_option("--device", job.m_device_path, kDeviceDesc)->type_name("PATH");
}

void add_download_options(CLI::App& sub, Download& job, ParsedArgs& args) {
    add_port(sub, job);
    add_baudrate(sub, job, 3000000);
    auto* infile = sub.add_option("-i,--infile", args.infile, kInfileDesc)->check(CLI::ExistingFile);
    sub.add_option("--safe-infile", args.safe_infile, "input a safe bin file path")
        ->check(CLI::ExistingFile)
        ->excludes(infile);
    sub.add_option("-s,--startaddress", args.start_address, "input startaddress,Hex data")->default_val("0");
    sub.add_option("-d,--debug", args.debug_level, kDebugDesc);
    sub.add_option("--boot", args.boot_text, "set enter boot command")->default_val("reboot");
    sub.add_option("-r,--reboot", job.m_reboot, "set reboot mode,auto reboot when download finished")
        ->check(CLI::Range(0, 1));
    sub.add_option("--enable", args.enable_text, "set enable option")->default_val("2");
    sub.add_option("-g,--getbus-timeout", args.getbus_timeout_text, "set getbus timeout")->default_val("15");
    sub.add_option("--retrycnt", args.retry_text, "set retry counts")->default_val("20");
    add_count_flag(sub, "--stay-in-rom", "set stay in rom");
    add_count_flag(sub, "--secureboot", "set write secureboot information,except enable is true or false");
    add_count_flag(sub, "--enable-Sec-boot", "set secureboot enable");
    auto* efuse_key = sub.add_option("--efuse-key", args.efuse_key, "input efuse key");
    sub.add_option("--efuse-file", args.efuse_file, "input efuse file path")
        ->check(CLI::ExistingFile)
        ->excludes(efuse_key);
    auto* public_key = sub.add_option("--publicKey", job.m_public_key, "input publickey");
    sub.add_option("--publicKey-file", job.m_public_key_file, "input publickey file path")
        ->check(CLI::ExistingFile)
        ->excludes(public_key);
    sub.add_option("--deviceID", job.m_device_id, "set deviceID manufacture information");
    add_count_flag(sub, "-c,--chip-erase", "set erase all");
    add_count_flag(sub, "--disable-dco", "set disable-dco");
    sub.add_option("--spi-clk-div", args.spi_clk_div, "set spi-clk-div");
    sub.add_option("-m,--mac", args.mac_text,
                   "set mac information,include : [data@startAddress-length],such as : "
                   "--mac=aabbccddeeff@0x1e000-6");
    sub.add_option("--dev-name", args.dev_name_text,
                   "set device name,include : [data@startAddress-length],such as : "
                   "--dev-name=TeskOS@0x2e000-5");
    add_count_flag(sub, "--big-endian", "write device ID(MAC),set big-endian");
    add_count_flag(sub, "--otp", "enable otp");
    sub.add_option("--app_public_key", job.m_app_public_key, "input app_public_key");
    sub.add_option("--aes_key", job.m_aes_key, "input aes_key");
    sub.add_option("--schipmodel", job.m_schipmodel, "input schipmodel");
    sub.add_option("--ota_key", job.m_ota_key, "input ota_key");
    sub.add_option("--ota_iv", job.m_ota_iv, "input ota_iv");
    sub.add_option("--mainBin-multi", args.main_bin_multi, kMultiBinDesc);
    add_count_flag(sub, "--enable-Sec-boot-log", "set secure boot print log enable");
    add_count_flag(sub, "--efuse", "enable efuse");
    add_output(sub, args);
    sub.add_option("--safe-json", args.safe_json, "input safe-json file path")->check(CLI::ExistingFile);
    sub.add_option("--swrst", job.m_swrst_cmd, kSwrstDesc);
    sub.add_option("--sm-dl", job.m_sm_dl_file, "input safe-mode bin file path")->check(CLI::ExistingFile);
    add_fast_link(sub, job);
    sub.add_option("--uart_type", args.uart_type_text, kUartTypeDesc);
    sub.add_flag("--detail", args.detail, "show detail help");
    add_device(sub, job);
}

void add_erase_options(CLI::App& sub, Download& job, ParsedArgs& args) {
    add_port(sub, job);
    add_baudrate(sub, job, 3000000);
    auto* range = sub.add_option("-f,--freedom-erase", args.range_text, kRangeDesc);
    auto* infile = sub.add_option("-i,--infile", args.infile, kInfileDesc)->check(CLI::ExistingFile)->excludes(range);
    sub.add_option("-s,--startaddress", args.start_address, kStartRangeDesc)->default_val("0")->needs(infile);
    add_count_flag(sub, "-c,--chip-erase", "set erase all");
    add_count_flag(sub, "--disable-dco", "set disable-dco");
    sub.add_option("--spi-clk-div", args.spi_clk_div, "set spi-clk-div");
    sub.add_option("-d,--debug", args.debug_level, kDebugDesc);
    add_count_flag(sub, "--stay-in-rom", "set stay in rom");
    sub.add_option("--mainBin-multi", args.main_bin_multi, kMultiBinListDesc);
    add_output(sub, args);
    add_fast_link(sub, job);
    sub.add_option("--uart_type", args.uart_type_text, kUartTypeDesc);
    add_device(sub, job);
}

void add_read_options(CLI::App& sub, Download& job, ParsedArgs& args) {
    add_port(sub, job);
    add_baudrate(sub, job, 1500000);
    auto* range = sub.add_option("-f,--freedom-read", args.range_text, kRangeDesc);
    // The file of a read is its output, so it need not exist yet.
    auto* infile = sub.add_option("-i,--infile", args.infile, kInfileDesc);
    sub.add_option("-s,--startaddress", args.start_address, kStartRangeDesc)
        ->default_val("0")
        ->needs(infile)
        ->excludes(range);
    sub.add_option("-d,--debug", args.debug_level, kDebugDesc);
    add_count_flag(sub, "--stay-in-rom", "set stay in rom");
    add_count_flag(sub, "--disable-dco", "set disable-dco");
    sub.add_option("-c,--force_create", args.force_create,
                   "create default file path and file , from user input content");
    sub.add_option("--mainBin-multi", args.main_bin_multi, kMultiBinListDesc);
    add_output(sub, args);
    sub.add_option("-t,--target-bin", args.target_bin, "set target bin path");
    add_fast_link(sub, job);
    sub.add_option("--uart_type", args.uart_type_text, kUartTypeDesc);
    add_device(sub, job);
}

CLI::App* add_subcommand(CLI::App& app, const char* name, const char* description) {
    CLI::App* sub = app.add_subcommand(name, description);
    // Arguments the subcommand does not know go to the application, so -v
    // after the subcommand's options still asks for the version.
    sub->fallthrough();
    sub->get_formatter()->column_width(kHelpColumn);
    return sub;
}

struct HelpEntry {
    const char* option;
    const char* description;
};

constexpr const char* kHelpPort = "-p,--portinfo INT:INT in [0 - 255] REQUIRED";
constexpr const char* kHelpBaud = "-b,--baudrate INT:INT in [0 - 3000000]";
constexpr const char* kHelpInfile = "-i,--infile TEXT:FILE Excludes: --safe-infile";
constexpr const char* kHelpRangeDesc =
    R"(input freedom address and file length,Hex data,such as  "[-f 0-10000] | [-f x-1.bin@0-10000] | [-f D:\all.bin@0x10000-0x1000, 20000-10000]")";

// The option text starts with a line break, so its right alignment pads the
// end of the previous line; the description follows on the same line.
void print_custom_help(const char* title, const char* usage, const HelpEntry* entries, std::size_t count) {
    std::ostringstream out;
    out << title << "\n" << usage << "\n" << "Options:";
    for (std::size_t i = 0; i < count; ++i) {
        out << std::right << std::setw(60) << (std::string("\n  ") + entries[i].option);
        out << std::right << std::setw(20) << entries[i].description;
    }
    std::cout << out.str() << std::flush;
}

}  // namespace

CommandLine::CommandLine() = default;
CommandLine::~CommandLine() = default;
CommandLine::CommandLine(CommandLine&&) noexcept = default;
CommandLine& CommandLine::operator=(CommandLine&&) noexcept = default;

CommandLine build_command_line(Download& job, ParsedArgs& args) {
    CommandLine cli;
    // No application name: the parser names the program after argv[0].
    cli.app = std::make_unique<CLI::App>("tesk_loader");
    add_count_flag(*cli.app, "-v,--version", "tesk_loader version");

    cli.download = add_subcommand(*cli.app, "download", "download flash");
    add_download_options(*cli.download, job, args);
    cli.erase = add_subcommand(*cli.app, "erase", "erase flash");
    add_erase_options(*cli.erase, job, args);
    cli.read = add_subcommand(*cli.app, "read", "read flash");
    add_read_options(*cli.read, job, args);
    return cli;
}

int flag_count(const CLI::App& sub, const std::string& name) {
    return static_cast<int>(sub.count(name));
}

PrescanResult prescan_arguments(int argc, const char* const* argv) {
    PrescanResult result;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i] != nullptr ? argv[i] : "";
        if (arg == "--detail") {
            result.detail_seen = true;
        }
        if (arg == "--help" || arg == "-H" || arg == "-h") {
            result.help_seen = true;
        }
        result.command_line_text += arg;
        result.command_line_text += ' ';
    }
    return result;
}

void print_version_line() {
    char line[100];
    std::snprintf(line, sizeof line, "tesk_loader version %s: build @%s %s", kVersion, __DATE__, __TIME__);
    std::printf("%s", line);
    log_printf("%s \n", line);
}

void print_download_help() {
    static const HelpEntry entries[] = {
        {kHelpPort, kPortDesc},
        {kHelpBaud, kBaudDesc},
        {"-s,--startaddress TEXT [0]", "input startaddress,Hex data"},
        {"-c,--chip-erase", "set erase all"},
        {kHelpInfile, kInfileDesc},
    };
    print_custom_help("download flash Help", "Usage: download [OPTIONS]", entries, std::size(entries));
}

void print_erase_help() {
    static const HelpEntry entries[] = {
        {kHelpPort, kPortDesc},
        {kHelpBaud, kBaudDesc},
        {"-s,--startaddress TEXT [0]  Needs: --infile", kStartRangeDesc},
        {"-c,--chip-erase", "set erase all"},
        {"-f,--freedom-erase TEXT Excludes: --startaddress", kHelpRangeDesc},
        {kHelpInfile, kInfileDesc},
    };
    print_custom_help("erase flash Help", "Usage: erase [OPTIONS]", entries, std::size(entries));
}

void print_read_help() {
    static const HelpEntry entries[] = {
        {kHelpPort, kPortDesc},
        {kHelpBaud, kBaudDesc},
        {"-s,--startaddress TEXT [0]  Needs: --infile Excludes: --freedom-read", kStartRangeDesc},
        {"-f,--freedom-read TEXT Excludes: --startaddress", kHelpRangeDesc},
        {kHelpInfile, kInfileDesc},
    };
    print_custom_help("read flash Help", "Usage: read [OPTIONS]", entries, std::size(entries));
}
