// What a job with one small image costs in memory: the slots hold only what
// they need, so the whole process stays far below one 16 MiB buffer per slot.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "job/download.h"
#include "job_test_support.h"

namespace {

constexpr long kLimitKiB = 40 * 1024;

// Runs the job in a fresh child so the peak is the job's, not the test
// program's so far; returns the child's peak resident size in KiB, or -1.
long child_peak_kib(const std::string& image_path) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        close(fds[0]);
        long peak = -1;
        {
            auto job = std::make_unique<Download>();
            ImageEntry entry;
            if (job->add_image(image_path, 0, entry) == 1) {
                // Touch every slot the way the download flow reads them.
                uint8_t sector[4096];
                for (int s = 0; s < Download::kImageSlots; ++s) job->m_slots[s].read(0, sector, sizeof sector);
                struct rusage usage {};
                if (getrusage(RUSAGE_SELF, &usage) == 0) peak = usage.ru_maxrss;
            }
        }
        ssize_t written = write(fds[1], &peak, sizeof peak);
        _exit(written == sizeof peak ? 0 : 1);
    }
    close(fds[1]);
    long peak = -1;
    if (read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return peak;
}

TEST(JobMemory, OneMegabyteImageStaysFarBelowTheOldBuffers) {
    ScratchDir dir;
    const std::string path = dir.write("one_mib.bin", pattern_bytes(0x100000));
    const long peak = child_peak_kib(path);
    ASSERT_GT(peak, 0);
    std::printf("peak resident size of a job with one 1 MiB image: %ld KiB (limit %ld KiB)\n", peak, kLimitKiB);
    RecordProperty("peak_kib", int(peak));
    EXPECT_LT(peak, kLimitKiB);
}

}  // namespace
