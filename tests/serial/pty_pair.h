// A pseudo-terminal pair for tests: the port under test opens the slave path,
// the test plays the far end on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0) return;
        if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) return;
        const char* name = ptsname(m_master);
        if (name) m_slave_path = name;
    }
    ~PtyPair() { close_master(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && !m_slave_path.empty(); }
    int master() const { return m_master; }
    const std::string& slave_path() const { return m_slave_path; }
    void close_master() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

    void write_far(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
    }
    // Reads what the host sent, waiting up to wait_ms for `want` bytes.
    std::vector<uint8_t> read_far(size_t want, int wait_ms = 1000) {
        std::vector<uint8_t> out;
        while (out.size() < want) {
            struct pollfd p = {m_master, POLLIN, 0};
            if (poll(&p, 1, wait_ms) <= 0) break;
            uint8_t buf[4096];
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int m_master = -1;
    std::string m_slave_path;
};
