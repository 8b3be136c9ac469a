// Command line of the tesk_sim program.
#pragma once

#include <string>

#include "sim_config.h"

namespace sim {

struct SimProgramOptions {
    SimConfig chip;
    std::string link_path;
    std::string state_dir;
    std::string command_log_path;
    bool verbose = false;
    bool reset_on_open = false;
    bool list_flash = false;
    bool flash_given = false;
    bool efuse_size_given = false;
};

// Parses argv. Returns -1 when the program is to run, otherwise the exit code
// (0 after --help, non-zero after an error, with the message printed).
int parse_sim_options(int argc, char** argv, SimProgramOptions& options);

// Text with \r, \n, \t, \\ and \xHH escapes turned into bytes; false on a bad escape.
bool unescape_text(const std::string& text, std::string& out);

// Decimal or 0x-prefixed hexadecimal, the whole text; false otherwise.
bool parse_u32(const std::string& text, uint32_t& value);

}  // namespace sim
