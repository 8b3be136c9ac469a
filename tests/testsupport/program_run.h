// Runs a built program (tesk_loader by default) with given arguments and
// captures what it says, the way a user's shell would run it.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
    int exit_code = -1;  // as the shell sees it (0..255); -1 when it did not exit normally
    bool timed_out = false;  // killed after the run's time limit
    std::string out;
    std::string err;
};

struct RunOptions {
    // Working directory of the program; empty keeps the caller's.
    std::string cwd;
    // The program is killed (SIGKILL) after this long; a hung run must not
    // hang the test program with it.
    int timeout_ms = 120000;
};

// program: path of the executable; args without the program path.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const RunOptions& options = {});

#ifdef TESK_LOADER_PATH
inline ProgramResult run_loader(const std::vector<std::string>& args, const RunOptions& options = {}) {
    return run_program(TESK_LOADER_PATH, args, options);
}
#endif
