// Transaction engine and event queue of the boot protocol.

#include <chrono>
#include <cstring>

#include "protocol/boot_intf.h"
#include "serial/comm_port.h"
#include "support/log.h"

namespace {

// Largest read of one receive step; the biggest answer (a 4 KiB flash read,
// 4111 bytes) fits.
constexpr int kChunkSize = 8100;

// WaitEvent returns "quiet" after this long of bytes that complete no
// matching event, so a line flooded with noise cannot hold its caller forever.
constexpr auto kEventReadBudget = std::chrono::milliseconds(100);

}  // namespace

int CBootIntf::SendCommand(const uint8_t* frame, size_t length, uint8_t* response_buffer, int expected_length,
                           double timeout_seconds) {
    if (!m_port) return 1;
    CQuarnUartPort& port = *m_port;
    // The time-out runs from here, so the frame's own time on the line counts.
    port.m_timer.start();
    port.m_expect_len = response_buffer ? expected_length : 0;
    port.m_resp_buf = response_buffer;
    port.m_recv_len = 0;
    port.m_timeout = timeout_seconds;
    port.write_frame(frame, length);
    if (port.m_dump) log_hex_dump(frame, "OUT", length);
    return 1;
}

int CBootIntf::PollResponse() { return poll_step(false); }

int CBootIntf::PollLinkResponse() { return poll_step(true); }

int CBootIntf::poll_step(bool link_path) {
    if (!m_port) return -1;
    CQuarnUartPort& port = *m_port;
    int& start_seen = link_path ? port.m_link_start_seen : port.m_start_seen;
    auto timed_out = [&] {
        return port.m_timer.m_frequency <= 0 || port.m_timer.elapsed() >= port.m_timeout;
    };

    if (link_path && timed_out()) {
        start_seen = 0;
        return -1;
    }
    int want = port.m_resp_buf ? port.m_expect_len - port.m_recv_len : 0;
    if (want < 0) want = 0;
    if (want > kChunkSize) want = kChunkSize;
    uint8_t chunk[kChunkSize];
    const int got = port.Read(chunk, want);
    if (!link_path && timed_out()) {
        start_seen = 0;
        return -1;
    }
    if (got <= 0) return 0;

    int from = 0;
    if (!start_seen) {
        const void* start = memchr(chunk, 0x04, size_t(got));
        if (!start) return 0;
        from = int(static_cast<const uint8_t*>(start) - chunk);
        start_seen = 1;
    }
    const int kept = got - from;
    memcpy(port.m_resp_buf + port.m_recv_len, chunk + from, size_t(kept));
    port.m_recv_len += kept;
    if (port.m_recv_len < port.m_expect_len) return 0;

    if (port.m_dump) log_hex_dump(port.m_resp_buf, "IN", size_t(port.m_recv_len));
    start_seen = 0;
    return 1;
}

int CBootIntf::poll_until_done() {
    int r;
    while ((r = PollResponse()) == 0) {
    }
    return r;
}

void CBootIntf::FeedEventParser(const uint8_t* bytes, size_t count) {
    if (!m_port) return;
    CQuarnUartPort& port = *m_port;
    EventSlot& parsing = port.m_parse_slot;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (port.m_parse_state) {
        case 0:
            port.m_parse_state = b == 0x04 ? 1 : 0;
            break;
        case 1:
            port.m_parse_state = b == 0x0E ? 2 : b == 0x04 ? 1 : 0;
            break;
        case 2:
            if (b < 4 || b == 0xFF) {
                port.m_parse_state = 0;  // long-form events are not queued
            } else {
                parsing.length = uint32_t(b) - 3;
                port.m_ring_pos = 0;
                port.m_parse_state = 3;
            }
            break;
        case 3:
        case 4:
        case 5: {
            static const uint8_t expect[3] = {0x01, 0xE0, 0xFC};
            if (b == expect[port.m_parse_state - 3])
                port.m_parse_state += 1;
            else
                port.m_parse_state = b == 0x04 ? 1 : 0;
            break;
        }
        default:
            if (port.m_ring_pos < EventSlot::kCapacity) parsing.payload[port.m_ring_pos] = b;
            port.m_ring_pos += 1;
            if (port.m_ring_pos >= parsing.length) {
                EventSlot& slot = port.m_ring[port.m_ring_write % CCommPort::kEventSlots];
                slot.length = parsing.length;
                memcpy(slot.payload, parsing.payload, parsing.length);
                port.m_parse_state = 0;
                port.m_ring_pos = 0;
                port.m_ring_write += 1;
                // A full ring drops its oldest event.
                if (port.m_ring_write - port.m_ring_read > uint32_t(CCommPort::kEventSlots)) port.m_ring_read += 1;
            }
            break;
        }
    }
}

int CBootIntf::WaitEvent(uint8_t opcode, uint8_t* out, int capacity) {
    if (!m_port) return 0;
    CQuarnUartPort& port = *m_port;
    const auto give_up_at = std::chrono::steady_clock::now() + kEventReadBudget;
    for (;;) {
        // Free-running counts: their difference is the number queued.
        while (port.m_ring_write - port.m_ring_read != 0) {
            const EventSlot& slot = port.m_ring[port.m_ring_read % CCommPort::kEventSlots];
            if (slot.length == 0) {
                port.m_ring_read += 1;
                continue;
            }
            if (capacity < 0 || slot.length > uint32_t(capacity)) return -2;
            memcpy(out, slot.payload, slot.length);
            port.m_ring_read += 1;
            if (slot.payload[0] == opcode) return int(slot.length);
        }
        if (std::chrono::steady_clock::now() >= give_up_at) return 0;
        uint8_t buf[1024];
        const int got = port.Read(buf, sizeof buf);
        if (got <= 0) return 0;
        FeedEventParser(buf, size_t(got));
    }
}
