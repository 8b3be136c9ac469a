// CPU cost of waiting for an answer on a quiet line: a PollResponse loop in
// fast link 0 runs for 2 s against a pseudo-terminal (and the in-process
// line) that never answers. Prints CPU seconds per wall second; a waiting
// loop must stay below 0.1.

#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "protocol/boot_intf.h"
#include "serial/comm_port.h"
#include "serial/inproc_line.h"

namespace {

double clock_seconds(clockid_t id) {
    struct timespec ts;
    clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Returns CPU seconds per wall second, or a negative value on failure.
double measure(CQuarnUartPort& port, double seconds, long& steps) {
    CBootIntf intf(&port);
    static const uint8_t link_check[5] = {0x01, 0xE0, 0xFC, 0x01, 0x00};
    uint8_t response[8];
    const double wall0 = clock_seconds(CLOCK_MONOTONIC);
    const double cpu0 = clock_seconds(CLOCK_PROCESS_CPUTIME_ID);
    intf.SendCommand(link_check, sizeof link_check, response, sizeof response, seconds);
    int r;
    steps = 0;
    do {
        r = intf.PollResponse();
        ++steps;
    } while (r == 0);
    const double wall = clock_seconds(CLOCK_MONOTONIC) - wall0;
    const double cpu = clock_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    if (r != -1) return -1.0;
    return cpu / wall;
}

}  // namespace

int main() {
    int status = 0;

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    const char* slave = (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) ? ptsname(master) : nullptr;
    if (slave) {
        CQuarnUartPort port;
        if (port.OpenPath(slave, 115200, 0) == 1) {
            long steps = 0;
            double ratio = measure(port, 2.0, steps);
            std::printf("pseudo-terminal, fast link 0: %.4f CPU s per wall s over 2 s (%ld receive steps)\n", ratio,
                        steps);
            if (ratio < 0 || ratio >= 0.1) status = 1;
        } else {
            std::printf("pseudo-terminal: open failed\n");
            status = 1;
        }
    } else {
        std::printf("pseudo-terminal: not available\n");
        status = 1;
    }
    if (master >= 0) close(master);

    {
        CQuarnUartPort port;
        port.OpenInProcess(std::make_shared<InProcessLine>(), 115200, 0);
        long steps = 0;
        double ratio = measure(port, 2.0, steps);
        std::printf("in-process line, fast link 0: %.4f CPU s per wall s over 2 s (%ld receive steps)\n", ratio,
                    steps);
        if (ratio < 0 || ratio >= 0.1) status = 1;
    }
    return status;
}
