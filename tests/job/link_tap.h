// A tap in the serial line between the host and the virtual chip: it passes
// bytes and modem lines on both ways and can fake two troubles the chip does
// not make itself: a link lost right at a given command, until the next reset
// pulse, and a flash that reports another JEDEC id.
//
// The tap passes bytes at the rate they were sent at; it does not follow a
// baud switch whose answer arrives before the host's next frame, so tests
// through it keep the link at one rate.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/inproc_line.h"

class LinkTap {
public:
    using Bytes = std::vector<uint8_t>;

    // host_line is the line the job's port opens; chip_line the one the chip serves.
    LinkTap(std::shared_ptr<InProcessLine> host_line, InProcessLine& chip_line)
        : m_host(std::move(host_line)), m_chip(chip_line) {
        m_host->set_modem_listener([this](bool dtr, bool rts) {
            if (rts) m_cut = false;  // a reset pulse brings the chip back
            m_chip.host_set_modem(dtr, rts);
        });
        m_thread = std::thread([this] { run(); });
    }
    ~LinkTap() {
        m_stop = true;
        m_host->wake_far();
        m_thread.join();
        m_host->set_modem_listener(nullptr);
    }
    LinkTap(const LinkTap&) = delete;
    LinkTap& operator=(const LinkTap&) = delete;

    // The first host frame holding these bytes, and everything after it up to
    // the next reset pulse, never reach the chip.
    void cut_at(const Bytes& frame) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cut_frame = frame;
    }
    // Answers starting with `header` get `replacement` from byte `offset` on.
    void rewrite_answer(const Bytes& header, size_t offset, const Bytes& replacement) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_rewrite_header = header;
        m_rewrite_offset = offset;
        m_rewrite_bytes = replacement;
    }
    // Every host chunk holding these bytes is dropped, each time.
    void drop_frames(const Bytes& frame) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_drop_frame = frame;
    }
    int cuts() const { return m_cuts; }

private:
    static bool contains(const Bytes& hay, const Bytes& needle) {
        return !needle.empty() && std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
    }

    void run() {
        Bytes buffer(8192);
        while (!m_stop) {
            int baud = 0;
            size_t n = m_host->far_read(buffer.data(), buffer.size(), 1, &baud);
            if (n) {
                Bytes chunk(buffer.begin(), buffer.begin() + long(n));
                bool dropped = false;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (!m_cut && contains(chunk, m_cut_frame)) {
                        m_cut = true;
                        m_cut_frame.clear();
                        ++m_cuts;
                    }
                    dropped = contains(chunk, m_drop_frame);
                }
                if (!m_cut && !dropped) {
                    m_chip.host_set_baud(baud);
                    m_chip.host_write(chunk.data(), chunk.size());
                }
            }
            size_t m = m_chip.host_read(buffer.data(), buffer.size(), 0);
            if (m) {
                Bytes answer(buffer.begin(), buffer.begin() + long(m));
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (!m_rewrite_header.empty() && answer.size() >= m_rewrite_offset + m_rewrite_bytes.size() &&
                        std::equal(m_rewrite_header.begin(), m_rewrite_header.end(), answer.begin()))
                        std::copy(m_rewrite_bytes.begin(), m_rewrite_bytes.end(), answer.begin() + long(m_rewrite_offset));
                }
                m_host->far_write(answer.data(), answer.size(), m_chip.host_baud());
            }
        }
    }

    std::shared_ptr<InProcessLine> m_host;
    InProcessLine& m_chip;
    std::mutex m_mutex;
    Bytes m_cut_frame;
    Bytes m_drop_frame;
    Bytes m_rewrite_header;
    size_t m_rewrite_offset = 0;
    Bytes m_rewrite_bytes;
    std::atomic<bool> m_cut{false};
    std::atomic<int> m_cuts{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
