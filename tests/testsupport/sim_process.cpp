#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <thread>

#include "pty_termios.h"

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

SimProcess::~SimProcess() {
    if (m_pid > 0) stop(2000);
}

bool SimProcess::start(const std::string& program, const std::vector<std::string>& args, int timeout_ms) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        m_error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> all = args;
    all.insert(all.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        return false;
    }
    if (pid == 0) {
        dup2(pipefd[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ::close(pipefd[1]);
    m_pid = pid;
    m_out = pipefd[0];

    // The first line is the path.
    std::string line;
    int64_t end = now_ms() + timeout_ms;
    while (line.find('\n') == std::string::npos) {
        int left = int(end - now_ms());
        pollfd pfd{m_out, POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, left) <= 0) {
            m_error = "no path from " + program;
            stop(2000);
            return false;
        }
        char buf[256];
        ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0) {
            m_error = program + " ended before printing its path";
            stop(2000);
            return false;
        }
        line.append(buf, size_t(n));
    }
    m_path = line.substr(0, line.find('\n'));
    return true;
}

int SimProcess::stop(int timeout_ms) {
    if (m_pid <= 0) return -1;
    kill(m_pid, SIGTERM);
    int status = 0;
    int64_t end = now_ms() + timeout_ms;
    pid_t r = 0;
    while ((r = waitpid(m_pid, &status, WNOHANG)) == 0 && now_ms() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (r == 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        status = -1;
    }
    m_pid = -1;
    if (m_out >= 0) ::close(m_out);
    m_out = -1;
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

PtyHost::~PtyHost() { close(); }

bool PtyHost::open(const std::string& path, int baud) {
    close();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) return false;
    return sim::tty_set_raw(m_fd, baud);
}

void PtyHost::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool PtyHost::set_baud(int baud) { return m_fd >= 0 && sim::tty_set_baud(m_fd, baud); }

bool PtyHost::write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

std::vector<uint8_t> PtyHost::read(size_t count, int timeout_ms) {
    std::vector<uint8_t> out;
    int64_t end = now_ms() + timeout_ms;
    while (out.size() < count) {
        int left = int(end - now_ms());
        if (left <= 0) break;
        pollfd pfd{m_fd, POLLIN, 0};
        if (poll(&pfd, 1, left) <= 0) continue;
        uint8_t buf[8192];
        size_t want = std::min(sizeof buf, count - out.size());
        ssize_t n = ::read(m_fd, buf, want);
        if (n > 0) out.insert(out.end(), buf, buf + n);
    }
    return out;
}

void PtyHost::drain(int quiet_ms) {
    while (!read(4096, quiet_ms).empty()) {
    }
}
