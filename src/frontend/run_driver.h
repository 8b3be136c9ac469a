// From the raw arguments to the exit code: parses the command line, fills the
// job and runs the job's operation for the chosen subcommand.
#pragma once

#include <cstdint>
#include <string>

class Download;

// Returns the process exit code: 0 after help, version or a missing
// subcommand, the parser's code when it rejects the command line, otherwise
// the code of the subcommand's run.
int run_command_line(Download& job, int argc, const char* const* argv);

// Get-bus time-out in seconds from its option text; below 1 second, or not a
// number at all, gives 1 second.
float getbus_timeout_from_text(const std::string& text);

// Retry count from its option text: decimal, 0 when the text is no number,
// 20 for a negative value, and held within 32 bits.
int32_t retry_count_from_text(const std::string& text);
