// The run driver's steps between a successful parse and the job's run
// operation: each subcommand's own conversions, then the common tail (logs,
// image list, eFuse inputs) that ends in the run.
#pragma once

#include <string>

#include "frontend/command_line.h"
#include "job/image_entry.h"

class Download;

// State of one run between parsing and the job's operation.
struct RunState {
    ParsedArgs args;
    PrescanResult prescan;
    std::string port_name;        // "COM<N>", names the log files
    ImageEntry current_image;     // the single file or range of the run
    bool is_read = false;
    bool is_erase = false;
    bool secure_ctrl_on = false;  // the safe-json document enables the security control
};

// Each returns the exit code of the run.
int run_download_steps(Download& job, const CLI::App& sub, RunState& state);
int run_erase_steps(Download& job, const CLI::App& sub, RunState& state);
int run_read_steps(Download& job, const CLI::App& sub, RunState& state);
