#include "frontend/run_driver.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "frontend/command_line.h"
#include "frontend/run_steps.h"
#include "job/download.h"

namespace {

constexpr int32_t kDefaultRetryCount = 20;

bool is_subcommand_name(const char* arg) {
    return std::strcmp(arg, "download") == 0 || std::strcmp(arg, "erase") == 0 || std::strcmp(arg, "read") == 0;
}

// Prints the short help of the named subcommand.
void print_custom_help(const char* subcommand) {
    if (std::strcmp(subcommand, "download") == 0) {
        print_download_help();
    } else if (std::strcmp(subcommand, "erase") == 0) {
        print_erase_help();
    } else {
        print_read_help();
    }
}

int dispatch(Download& job, const CommandLine& cli, RunState& state) {
    if (cli.download->parsed()) return run_download_steps(job, *cli.download, state);
    if (cli.erase->parsed()) return run_erase_steps(job, *cli.erase, state);
    if (cli.read->parsed()) return run_read_steps(job, *cli.read, state);
    std::printf("invalid command,please input \"--help\" to check it! \n");
    return 0;
}

}  // namespace

float getbus_timeout_from_text(const std::string& text) {
    const float value = std::strtof(text.c_str(), nullptr);
    // Written so that a text that reads as NaN also ends at the floor.
    return value >= 1.0f ? value : 1.0f;
}

int32_t retry_count_from_text(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        value = INT32_MAX;
    }
    if (value < 0) {
        return kDefaultRetryCount;
    }
    return static_cast<int32_t>(value);
}

int run_command_line(Download& job, int argc, const char* const* argv) {
    RunState state;
    state.prescan = prescan_arguments(argc, argv);

    CommandLine cli = build_command_line(job, state.args);

    // "<subcommand> -h" shows the short help without checking anything else;
    // adding --detail lets the parser show its full help of the subcommand.
    const bool names_subcommand = argc > 2 && argv[1] != nullptr && is_subcommand_name(argv[1]);
    if (names_subcommand && state.prescan.help_seen && !state.prescan.detail_seen) {
        print_custom_help(argv[1]);
        return 0;
    }

    try {
        cli.app->parse(argc, argv);
    } catch (const CLI::Error& e) {
        return cli.app->exit(e, std::cout, std::cerr);
    }

    try {
        if (cli.app->count("--version") != 0) {
            print_version_line();
            return 0;
        }

        state.port_name = "COM" + std::to_string(job.m_port);
        job.m_getbus_timeout = getbus_timeout_from_text(state.args.getbus_timeout_text);
        job.m_retry_count = retry_count_from_text(state.args.retry_text);

        return dispatch(job, cli, state);
    } catch (const CLI::Error& e) {
        return cli.app->exit(e, std::cout, std::cerr);
    }
}
