// What a job with one small image costs in memory: the slots hold only what
// they need, so the whole process stays far below one 16 MiB buffer per slot.
//
// The measurement runs in a fresh copy of this test program (the probe
// below), so the peak is the job's and not what earlier tests left behind.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "job/download.h"
#include "job_test_support.h"

namespace {

constexpr long kLimitKiB = 40 * 1024;
const char kProbeImage[] = "TESK_JOB_MEMORY_PROBE_IMAGE";
const char kProbeResult[] = "TESK_JOB_MEMORY_PROBE_RESULT";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Runs only in the copy started by the test below.
TEST(JobMemoryProbe, LoadOneImage) {
    const char* image = std::getenv(kProbeImage);
    const char* result = std::getenv(kProbeResult);
    if (!image || !result) GTEST_SKIP() << "started by JobMemory only";
    long peak = -1;
    {
        auto job = std::make_unique<Download>();
        ImageEntry entry;
        ASSERT_EQ(job->add_image(image, 0, entry), 1);
        // Read every slot the way the download flow does.
        uint8_t sector[4096];
        for (int s = 0; s < Download::kImageSlots; ++s)
            for (size_t at = 0; at < 0x100000; at += sizeof sector) job->m_slots[s].read(at, sector, sizeof sector);
        struct rusage usage {};
        ASSERT_EQ(getrusage(RUSAGE_SELF, &usage), 0);
        peak = usage.ru_maxrss;
    }
    std::ofstream(result) << peak;
}

TEST(JobMemory, OneMegabyteImageStaysFarBelowTheOldBuffers) {
    ScratchDir dir;
    const std::string image = dir.write("one_mib.bin", pattern_bytes(0x100000));
    const std::string result = dir.file("peak.txt");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv(kProbeImage, image.c_str(), 1);
        setenv(kProbeResult, result.c_str(), 1);
        const char* argv[] = {"/proc/self/exe", "--gtest_filter=JobMemoryProbe.LoadOneImage", nullptr};
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    long peak = -1;
    std::ifstream(result) >> peak;
    ASSERT_GT(peak, 0);
    std::printf("peak resident size of a job with one 1 MiB image: %ld KiB (limit %ld KiB%s)\n", peak, kLimitKiB,
                kSanitized ? ", not applied under the address sanitizer" : "");
    RecordProperty("peak_kib", int(peak));
    if (!kSanitized) {
        EXPECT_LT(peak, kLimitKiB);
    }
}

}  // namespace
