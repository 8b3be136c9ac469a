#include "chips/secure_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint32_t kLoadAddress = 0x30020000;
constexpr size_t kChunkBytes = 244;
constexpr uint8_t kMemoryWriteOpcode = 0x21;
constexpr int kMaxRelinks = 5;
constexpr uint8_t kStatusOpcode = 0xFE;
constexpr uint8_t kStatusMagic[3] = {0xFE, 0x95, 0x27};
constexpr int kStatusLooks = 3;
// A writer announces itself right after its start; on a busy host or a
// bridge that holds bytes its event can come some milliseconds after the
// first look, and a chip that works must not be taken for one that does not.
constexpr auto kReadyPatience = std::chrono::milliseconds(500);

// One look for a status event: its status byte, or 0.
uint8_t look_for_status(CBootIntf& link) {
    uint8_t event[4] = {};
    const int r = link.WaitEvent(kStatusOpcode, event, sizeof event);
    if (r >= 4 && std::memcmp(event, kStatusMagic, 3) == 0) return event[3];
    return 0;
}

}  // namespace

int secure_writer_start(Download* job) {
    CBootIntf link(&job->m_uart);
    static const uint8_t run[9] = {0x01, 0xE0, 0xFC, 0x05, 0x25, 0x00, 0x00, 0x02, 0x30};
    static const uint8_t zero[1] = {0x00};
    static const uint8_t baud[10] = {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x00, 0xC2, 0x01, 0x00, 0x0F};
    link.SendCommand(run, sizeof run, nullptr, 0, 0.5);
    link.SendCommand(zero, sizeof zero, nullptr, 0, 0.5);
    link.SendCommand(zero, sizeof zero, nullptr, 0, 0.5);
    // The writer talks at 115200; its answer to the rate frame is not awaited.
    uint8_t ignored[12];
    link.SendCommand(baud, sizeof baud, ignored, sizeof ignored, 0.035);
    job->m_uart.m_resp_buf = nullptr;
    job->m_uart.Configure(115200, job->m_fast_link);
    sleep_ms(10);

    const auto give_up = std::chrono::steady_clock::now() + kReadyPatience;
    do {
        const uint8_t status = look_for_status(link);
        if (status != 0) return status == SECURE_WRITER_READY ? 1 : 0;
    } while (std::chrono::steady_clock::now() < give_up);
    return 0;
}

int secure_writer_upload(Download* job, const JobRecord* record, const std::vector<uint8_t>& program) {
    int relinks = 0;
    size_t offset = 0;
    while (offset < program.size()) {
        const size_t chunk = std::min(kChunkBytes, program.size() - offset);
        if (job->m_retry_count <= 0) return 0;
        CBootIntf link(&job->m_uart);
        if (link.MemoryWrite(kMemoryWriteOpcode, kLoadAddress + uint32_t(offset), program.data() + offset,
                             int(chunk + 5)) == BOOT_OK) {
            offset += chunk;
            continue;
        }
        if (job->m_retry_count == 1 || relinks > kMaxRelinks) return 0;
        if (job->SWDL_ConnectRetry(record) == 0) {
            job_log(LOG_INFO, "SWDL_ConnectRetry fail!");
            return 0;
        }
        ++relinks;
    }
    return secure_writer_start(job);
}

uint8_t secure_writer_status(Download* job) {
    CBootIntf link(&job->m_uart);
    // At least three looks, as long as the writer may still be on its way.
    const auto give_up = std::chrono::steady_clock::now() + kReadyPatience;
    for (int look = 0; look < kStatusLooks || std::chrono::steady_clock::now() < give_up; ++look) {
        const uint8_t status = look_for_status(link);
        if (status != 0) return status;
    }
    return 0;
}
