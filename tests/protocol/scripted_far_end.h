// The far end of an in-process line played by a small script: after the host
// has sent a given number of bytes, send these answer pieces (each after a
// pause, at a given rate). Records every byte the host sent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/inproc_line.h"

using Bytes = std::vector<uint8_t>;

// "04 0E 05 01" -> bytes; the frames in the tests are typed out this way.
inline Bytes hex(const std::string& text) {
    Bytes out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(uint8_t(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return out;
}

inline Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ScriptedFarEnd {
public:
    struct Piece {
        Bytes bytes;
        int delay_ms = 0;
        // 0: the rate the host sent its frame at. Otherwise this rate, sent
        // only once the host has switched to it (as a chip answering after a
        // baud change).
        int baud = 0;
    };

    explicit ScriptedFarEnd(std::shared_ptr<InProcessLine> line)
        : m_line(std::move(line)), m_thread([this] { run(); }) {}
    ~ScriptedFarEnd() {
        m_stop = true;
        m_line->wake_far();
        m_thread.join();
    }

    // After `frame_length` more bytes from the host, send `pieces`.
    void on_frame(size_t frame_length, std::vector<Piece> pieces) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_steps.push_back({frame_length, std::move(pieces)});
    }
    void answer(size_t frame_length, const Bytes& bytes) { on_frame(frame_length, {Piece{bytes}}); }

    // What the host sent so far; waits up to 1 s for at least `at_least` bytes.
    Bytes received(size_t at_least = 0) {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_received.size() >= at_least) return m_received;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    struct Step {
        size_t frame_length;
        std::vector<Piece> pieces;
    };

    void run() {
        size_t pending = 0;  // bytes received toward the current step
        int rate = 115200;
        while (!m_stop) {
            uint8_t buf[8192];
            int baud = 0;
            size_t n = m_line->far_read(buf, sizeof buf, 5, &baud);
            Step step;
            bool fire = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.insert(m_received.end(), buf, buf + n);
                if (n > 0) rate = baud;
                pending += n;
                if (!m_steps.empty() && pending >= m_steps.front().frame_length) {
                    pending -= m_steps.front().frame_length;
                    step = std::move(m_steps.front());
                    m_steps.pop_front();
                    fire = true;
                }
            }
            if (!fire) continue;
            for (const Piece& piece : step.pieces) {
                if (piece.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(piece.delay_ms));
                int send_rate = rate;
                if (piece.baud != 0) {
                    send_rate = piece.baud;
                    for (int i = 0; i < 2000 && !m_stop && m_line->host_baud() != piece.baud; ++i)
                        std::this_thread::sleep_for(std::chrono::microseconds(500));
                }
                m_line->far_write(piece.bytes.data(), piece.bytes.size(), send_rate);
            }
        }
    }

    std::shared_ptr<InProcessLine> m_line;
    std::mutex m_mutex;
    std::deque<Step> m_steps;
    Bytes m_received;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
