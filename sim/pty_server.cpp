#include "pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "host_rate.h"
#include "pty_termios.h"

namespace sim {

int64_t PtyServer::now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

PtyServer::~PtyServer() { close(); }

bool PtyServer::open(const std::string& link_path, std::string& error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    m_slave_path = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0 || !tty_set_raw(m_slave, VirtualChip::kRomBaud)) {
        error = "cannot set up " + m_slave_path + ": " + std::strerror(errno);
        close();
        return false;
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // Our own open came before the watch, so only the hosts' opens count.
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0 || inotify_add_watch(m_inotify, m_slave_path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        error = "cannot watch " + m_slave_path + ": " + std::strerror(errno);
        close();
        return false;
    }

    if (!link_path.empty()) {
        struct stat st;
        if (lstat(link_path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            error = link_path + " exists and is not a symbolic link; not replacing it";
            close();
            return false;
        }
        std::string tmp = link_path + ".tesk_sim_tmp";
        ::unlink(tmp.c_str());
        if (symlink(m_slave_path.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link_path.c_str()) != 0) {
            error = "cannot place the link " + link_path + ": " + std::strerror(errno);
            ::unlink(tmp.c_str());
            close();
            return false;
        }
        m_link_path = link_path;
    }
    return true;
}

void PtyServer::close() {
    if (!m_link_path.empty()) {
        char target[256];
        ssize_t n = readlink(m_link_path.c_str(), target, sizeof target - 1);
        if (n >= 0) {
            target[n] = 0;
            if (m_slave_path == target) ::unlink(m_link_path.c_str());
        }
        m_link_path.clear();
    }
    if (m_inotify >= 0) ::close(m_inotify);
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
    m_inotify = m_slave = m_master = -1;
}

void PtyServer::watch_host_opens_and_closes(VirtualChip& chip, int64_t now) {
    alignas(struct inotify_event) char buffer[4096];
    bool closed = false;
    bool first_open = false;
    for (;;) {
        ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0) break;
        for (char* p = buffer; p < buffer + n;) {
            auto* e = reinterpret_cast<struct inotify_event*>(p);
            if (e->mask & IN_OPEN) {
                if (m_host_opens <= 0) first_open = true;
                ++m_host_opens;
            }
            if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                --m_host_opens;
                closed = true;
            }
            p += sizeof(struct inotify_event) + e->len;
        }
    }
    // Judged on everything that happened meanwhile: a host that has already
    // opened again keeps its settings.
    if (closed && m_host_opens <= 0) {
        m_host_opens = 0;
        ioctl(m_slave, TIOCNXCL);
        tcflush(m_slave, TCIFLUSH);
    }
    if (first_open && m_reset_on_open && m_host_opens > 0) chip.reset_to_rom(now);
}

bool PtyServer::serve(VirtualChip& chip, const std::atomic<bool>& stop, const std::function<void(int64_t)>& tick,
                      std::string& error) {
    std::vector<uint8_t> buffer(65536);
    std::deque<Held> held;
    std::vector<uint8_t> unsent;
    HostRate host_rate(tty_get_baud(m_master));

    while (!stop.load()) {
        int64_t now = now_us();
        int timeout_ms = held.empty() ? 20 : 1;
        int64_t next = chip.next_output_at();
        if (next != VirtualChip::kNever) {
            int64_t wait = (next - now + 999) / 1000;
            timeout_ms = int(std::clamp<int64_t>(wait, 0, timeout_ms));
        }
        pollfd fds[2] = {{m_master, short(POLLIN | (unsent.empty() ? 0 : POLLOUT)), 0}, {m_inotify, POLLIN, 0}};
        pollfd& pfd = fds[0];
        int r = poll(fds, 2, timeout_ms);
        if (r < 0 && errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        now = now_us();
        if (r > 0 && (fds[1].revents & POLLIN)) watch_host_opens_and_closes(chip, now);
        host_rate.observe(tty_get_baud(m_master), now);
        const int rate = host_rate.current();

        if (r > 0 && (pfd.revents & POLLIN)) {
            ssize_t n = ::read(m_master, buffer.data(), buffer.size());
            if (n > 0) {
                m_bytes_in += size_t(n);
                chip.receive(buffer.data(), size_t(n), host_rate.sender(chip.uart_baud(), now), now);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                error = std::string("read: ") + std::strerror(errno);
                return false;
            }
        }

        std::vector<uint8_t> out;
        int baud = 0;
        bool rate_switch = false;
        while (chip.take_output(now, out, baud, &rate_switch)) {
            held.push_back({std::move(out), baud, now, rate_switch});
            out.clear();
        }
        while (!held.empty()) {
            Held& h = held.front();
            if (h.baud == rate) {
                unsent.insert(unsent.end(), h.bytes.begin(), h.bytes.end());
            } else if (!h.rate_switch || now - h.since > kHoldUs) {
                m_lost_out += h.bytes.size();
            } else {
                break;
            }
            held.pop_front();
        }
        // With no host on the line nobody hears the chip: an answer to bytes
        // the last host wrote just before it closed must not wait in the
        // line for the next one.
        if (m_host_opens <= 0 && !unsent.empty()) {
            m_lost_out += unsent.size();
            unsent.clear();
        }
        if (!unsent.empty()) {
            ssize_t n = ::write(m_master, unsent.data(), unsent.size());
            if (n > 0) {
                m_bytes_out += size_t(n);
                unsent.erase(unsent.begin(), unsent.begin() + n);
            }
        }
        if (tick) tick(now);
    }
    return true;
}

}  // namespace sim
