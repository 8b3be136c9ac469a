// Runs the tesk_sim program as a child process for end-to-end tests: starts
// it with the given arguments, takes the pseudo-terminal path from the first
// line of its output, and stops it with SIGTERM (which makes it save its state).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // program: path of tesk_sim (TESK_SIM_PATH in tests). False when it did
    // not start or printed no path within timeout_ms; error() says why.
    bool start(const std::string& program, const std::vector<std::string>& args, int timeout_ms = 10000);
    // SIGTERM, then wait up to timeout_ms (SIGKILL after that). Returns the exit status, -1 if killed.
    int stop(int timeout_ms = 10000);

    const std::string& pty_path() const { return m_path; }
    const std::string& error() const { return m_error; }
    bool running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_path;
    std::string m_error;
};

// Raw host-side access to the pseudo-terminal's slave, for tests that talk
// to the simulator without the host's serial port.
class PtyHost {
public:
    PtyHost() = default;
    ~PtyHost();
    PtyHost(const PtyHost&) = delete;
    PtyHost& operator=(const PtyHost&) = delete;

    bool open(const std::string& path, int baud);
    void close();
    bool set_baud(int baud);
    bool write(const std::vector<uint8_t>& bytes);
    // Reads until count bytes came or timeout_ms passed.
    std::vector<uint8_t> read(size_t count, int timeout_ms);
    // Drops whatever is waiting to be read.
    void drain(int quiet_ms = 20);

private:
    int m_fd = -1;
};
