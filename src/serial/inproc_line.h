// A serial line inside one process: two byte queues and the modem lines,
// joining the host's in-process serial device to a peer that a test (or the
// virtual chip's driver) runs on the far end.
//
// Each byte carries the baud rate its sender was set to. A receiver set to a
// different rate gets nothing for it, as a real UART would get only framing
// errors; the dropped bytes are counted so tests can see them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class InProcessLine {
public:
    struct ModemEvent {
        bool dtr;
        bool rts;
        std::chrono::steady_clock::time_point when;
    };

    // ---- host side -------------------------------------------------------
    void host_set_baud(int baud) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_host_baud = baud;
    }
    int host_baud() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_host_baud;
    }
    void host_write(const uint8_t* data, size_t length) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < length; ++i) m_to_far.push_back({data[i], m_host_baud});
        }
        m_far_cv.notify_all();
    }
    // Waits at most wait_ms for the first byte; returns what is queued then.
    size_t host_read(uint8_t* buffer, size_t count, int wait_ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (wait_ms > 0 && m_to_host.empty())
            m_host_cv.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return !m_to_host.empty(); });
        size_t n = 0;
        while (n < count && !m_to_host.empty()) {
            Tagged t = m_to_host.front();
            m_to_host.pop_front();
            if (t.baud != m_host_baud) {
                ++m_dropped_at_host;
                continue;
            }
            buffer[n++] = t.byte;
        }
        return n;
    }
    // Collects up to count bytes, waiting until all are there or the deadline
    // passes; returns what it got.
    size_t host_read_until(uint8_t* buffer, size_t count, std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (;;) {
            while (n < count && !m_to_host.empty()) {
                Tagged t = m_to_host.front();
                m_to_host.pop_front();
                if (t.baud != m_host_baud) {
                    ++m_dropped_at_host;
                    continue;
                }
                buffer[n++] = t.byte;
            }
            if (n >= count) return n;
            if (m_host_cv.wait_until(lock, deadline) == std::cv_status::timeout) {
                if (m_to_host.empty()) return n;
            }
        }
    }
    void host_purge() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_to_host.clear();
    }
    void host_set_modem(bool dtr, bool rts) {
        std::function<void(bool, bool)> listener;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (dtr == m_dtr && rts == m_rts && !m_modem_events.empty()) return;
            m_dtr = dtr;
            m_rts = rts;
            m_modem_events.push_back({dtr, rts, std::chrono::steady_clock::now()});
            listener = m_modem_listener;
        }
        if (listener) listener(dtr, rts);
        m_far_cv.notify_all();
    }

    // Sets the host's rate unless it is above the limit a test imposed (a
    // bridge that cannot make the rate); the host keeps its old rate then.
    bool host_try_set_baud(int baud) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (baud <= 0 || (m_host_baud_limit > 0 && baud > m_host_baud_limit)) return false;
        m_host_baud = baud;
        return true;
    }
    // Only one host device at a time, like an exclusively opened port.
    bool host_attach() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_host_attached) return false;
        m_host_attached = true;
        return true;
    }
    void host_detach() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_host_attached = false;
    }

    // ---- far side --------------------------------------------------------
    // Reads bytes the host sent at one baud rate (reported in *baud); waits at
    // most wait_ms for the first one.
    size_t far_read(uint8_t* buffer, size_t count, int wait_ms, int* baud) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (wait_ms > 0 && m_to_far.empty())
            m_far_cv.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return !m_to_far.empty(); });
        size_t n = 0;
        int rate = m_to_far.empty() ? m_host_baud : m_to_far.front().baud;
        while (n < count && !m_to_far.empty() && m_to_far.front().baud == rate) {
            buffer[n++] = m_to_far.front().byte;
            m_to_far.pop_front();
        }
        if (baud) *baud = rate;
        return n;
    }
    // Bytes the host sent that the far side has not read yet.
    size_t far_pending() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_to_far.size();
    }
    void far_write(const uint8_t* data, size_t length, int baud) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < length; ++i) m_to_host.push_back({data[i], baud});
        }
        m_host_cv.notify_all();
    }
    void set_modem_listener(std::function<void(bool dtr, bool rts)> listener) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_modem_listener = std::move(listener);
    }
    std::vector<ModemEvent> modem_events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_modem_events;
    }
    bool dtr() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dtr;
    }
    bool rts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_rts;
    }
    size_t dropped_at_host() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dropped_at_host;
    }
    // Highest rate the host side accepts (0 = any).
    void set_host_baud_limit(int max_baud) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_host_baud_limit = max_baud;
    }
    bool host_attached() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_host_attached;
    }
    // Wakes a far side blocked in far_read (used when shutting a peer down).
    void wake_far() { m_far_cv.notify_all(); }

private:
    struct Tagged {
        uint8_t byte;
        int baud;
    };
    mutable std::mutex m_mutex;
    std::condition_variable m_host_cv;
    std::condition_variable m_far_cv;
    std::deque<Tagged> m_to_far;
    std::deque<Tagged> m_to_host;
    int m_host_baud = 115200;
    bool m_dtr = false;
    bool m_rts = false;
    size_t m_dropped_at_host = 0;
    int m_host_baud_limit = 0;
    bool m_host_attached = false;
    std::vector<ModemEvent> m_modem_events;
    std::function<void(bool, bool)> m_modem_listener;
};
