#include <memory>

#include "frontend/run_driver.h"
#include "job/download.h"
#include "support/util.h"

int main(int argc, char** argv) {
    install_crash_dump();
    // The 1 ms system timer period a Windows build requests has no POSIX
    // counterpart: sleeps there are already this fine.

    auto job = std::make_unique<Download>();
    const int result = run_command_line(*job, argc, argv);
    job.reset();
    return result;
}
