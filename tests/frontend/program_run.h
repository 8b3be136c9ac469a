// Runs the built tesk_loader with given arguments and captures what it says.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
    int exit_code = -1;  // as the shell sees it (0..255); -1 when it did not exit normally
    std::string out;
    std::string err;
};

ProgramResult run_loader(const std::vector<std::string>& args);
