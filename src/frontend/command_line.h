// The command line: one application with the subcommands download, erase and
// read, their options, the short custom help texts and the version line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace CLI {
class App;
}

class Download;

// Option values that are converted by the run driver before they reach the
// job. Values set here are what the fields hold when the option is absent.
struct ParsedArgs {
    int32_t debug_level = 1;
    bool detail = false;
    std::string infile;
    std::string safe_infile;
    std::string start_address = "0";
    std::string boot_text = "reboot";
    std::string enable_text = "2";
    std::string getbus_timeout_text = "15";
    std::string retry_text = "20";
    std::string efuse_key;
    std::string efuse_file;
    int32_t spi_clk_div = 0;
    std::string mac_text;
    std::string dev_name_text;
    std::string main_bin_multi;
    std::string output_dir;
    std::string safe_json;
    std::string uart_type_text;
    std::string range_text;  // -f of erase and read
    int32_t force_create = 0;
    std::string target_bin;
};

// The parser and its three subcommands. The options are bound to the job and
// ParsedArgs given to build_command_line, which must outlive this object.
struct CommandLine {
    CommandLine();
    ~CommandLine();
    CommandLine(CommandLine&&) noexcept;
    CommandLine& operator=(CommandLine&&) noexcept;

    std::unique_ptr<CLI::App> app;
    CLI::App* download = nullptr;
    CLI::App* erase = nullptr;
    CLI::App* read = nullptr;
};

CommandLine build_command_line(Download& job, ParsedArgs& args);

// Times the flag `name` was given to the parsed subcommand `sub` (0 when
// absent). Asking for a name `sub` does not define throws CLI::OptionNotFound.
int flag_count(const CLI::App& sub, const std::string& name);

struct PrescanResult {
    bool detail_seen = false;
    bool help_seen = false;
    std::string command_line_text;  // every argument followed by one space
};

// Looks at the raw arguments, program path included, before the parser does.
PrescanResult prescan_arguments(int argc, const char* const* argv);

// "tesk_loader version 2.1.4.0: build @<date> <time>" on standard output
// without a line break, and into the run log when it is open.
void print_version_line();

// Short fixed help texts shown for "<subcommand> -h" (without --detail).
void print_download_help();
void print_erase_help();
void print_read_help();
