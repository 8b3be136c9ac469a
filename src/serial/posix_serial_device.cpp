// Serial device on a POSIX tty (Linux: USB bridges, on-board UARTs and
// pseudo-terminals).

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "serial/posix_termios2.h"
#include "serial/serial_device.h"

namespace {

// A UART link works while both ends are within about 2% of each other; a
// driver that reports a rate further off cannot serve the request.
constexpr double kRateTolerance = 0.02;

int64_t now_ns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct timespec to_timespec(int64_t ns) {
    struct timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

void sleep_until(int64_t deadline_ns) {
    for (;;) {
        int64_t left = deadline_ns - now_ns();
        if (left <= 0) return;
        struct timespec ts = to_timespec(left);
        nanosleep(&ts, nullptr);
    }
}

SerialError error_from_errno(int e) {
    switch (e) {
    case 0: return SerialError::Ok;
    case ENOENT:
    case ENODEV:
    case ENXIO: return SerialError::NotFound;
    case EBUSY:
    case EWOULDBLOCK: return SerialError::Busy;
    case EACCES:
    case EPERM: return SerialError::AccessDenied;
    case ENOTTY: return SerialError::NotSerial;
    case EIO: return SerialError::Closed;
    default: return SerialError::Io;
    }
}

class PosixSerialDevice final : public SerialDevice {
public:
    explicit PosixSerialDevice(int fd) : m_fd(fd) {}
    ~PosixSerialDevice() override { close(); }

    SerialError configure(int baud) override;
    void set_read_mode(SerialReadMode mode) override { m_mode = mode; }
    SerialError read(uint8_t* buffer, size_t count, size_t& received) override;
    SerialError write(const uint8_t* data, size_t length) override;
    SerialError purge() override;
    SerialError clear_errors() override { return m_fd < 0 ? SerialError::Closed : SerialError::Ok; }
    SerialError set_dtr(bool on) override { return set_modem_bit(TIOCM_DTR, on); }
    SerialError set_rts(bool on) override { return set_modem_bit(TIOCM_RTS, on); }
    void close() override;

private:
    SerialError fail(int e) {
        m_errno = e;
        return error_from_errno(e);
    }
    SerialError set_modem_bit(int bit, bool on);
    void drain_output();

    int m_fd;
    SerialReadMode m_mode = SerialReadMode::WaitUpTo1ms;
    int m_baud = 0;
};

// Gives queued output the time it needs at the current rate, bounded like a
// write, so a frame sent just before a rate change leaves at the rate it was
// meant for, and a purge never takes back a frame already written.
void PosixSerialDevice::drain_output() {
    int queued = 0;
    if (ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    const int64_t deadline = now_ns() + (10 + 10 * int64_t(queued)) * 1000000;
    while (now_ns() < deadline) {
        if (ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
        struct timespec ts = to_timespec(200000);
        nanosleep(&ts, nullptr);
    }
}

SerialError PosixSerialDevice::configure(int baud) {
    if (m_fd < 0) return SerialError::Closed;
    if (baud <= 0) {
        m_errno = EINVAL;
        return SerialError::BadArgument;
    }
    drain_output();
    Termios2Saved saved;
    if (int e = termios2_save(m_fd, saved)) return fail(e);
    unsigned actual = 0;
    int e = termios2_set_raw_8n1(m_fd, unsigned(baud), actual);
    const double off = actual > 0 ? std::abs(double(actual) - double(baud)) / double(baud) : 1.0;
    if (e != 0 || off > kRateTolerance) {
        termios2_restore(m_fd, saved);
        m_errno = e != 0 ? e : EINVAL;
        if (e == 0 || e == EINVAL) return SerialError::RateRefused;
        return error_from_errno(e);
    }
    m_baud = baud;
    return SerialError::Ok;
}

SerialError PosixSerialDevice::read(uint8_t* buffer, size_t count, size_t& received) {
    received = 0;
    if (m_fd < 0) return SerialError::Closed;
    const bool wait = m_mode == SerialReadMode::WaitUpTo1ms;
    const int64_t deadline = now_ns() + 1000000;
    bool woke_for_data = false;
    for (;;) {
        if (received < count) {
            ssize_t n = ::read(m_fd, buffer + received, count - received);
            if (n > 0) {
                received += size_t(n);
                if (received == count) return SerialError::Ok;
                woke_for_data = false;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno != EAGAIN) {
                // A dead device fails every read at once: wait out the time a
                // read may take so a caller's loop does not spin on it.
                int e = errno;
                if (wait) sleep_until(deadline);
                return fail(e);
            } else if (woke_for_data) {
                // Readable but nothing to read: the line was hung up.
                if (wait) sleep_until(deadline);
                m_errno = EIO;
                return SerialError::Closed;
            }
        }
        if (!wait) return SerialError::Ok;
        const int64_t left = deadline - now_ns();
        if (left <= 0) return SerialError::Ok;
        struct timespec ts = to_timespec(left);
        if (received >= count) {
            // Nothing asked for: just let the time pass.
            nanosleep(&ts, nullptr);
            return SerialError::Ok;
        }
        struct pollfd p = {m_fd, POLLIN, 0};
        int r = ppoll(&p, 1, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            sleep_until(deadline);
            return fail(e);
        }
        if (r == 0) return SerialError::Ok;
        if ((p.revents & POLLIN) == 0) {
            sleep_until(deadline);
            m_errno = EIO;
            return SerialError::Closed;
        }
        woke_for_data = true;
    }
}

SerialError PosixSerialDevice::write(const uint8_t* data, size_t length) {
    if (m_fd < 0) return SerialError::Closed;
    const int64_t deadline = now_ns() + (10 + 10 * int64_t(length)) * 1000000;
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(m_fd, data + done, length - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return fail(errno);
        const int64_t left = deadline - now_ns();
        if (left <= 0) {
            m_errno = ETIMEDOUT;
            return SerialError::TimedOut;
        }
        struct timespec ts = to_timespec(left);
        struct pollfd p = {m_fd, POLLOUT, 0};
        int r = ppoll(&p, 1, &ts, nullptr);
        if (r < 0 && errno != EINTR) return fail(errno);
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
            m_errno = EIO;
            return SerialError::Closed;
        }
    }
    return SerialError::Ok;
}

SerialError PosixSerialDevice::purge() {
    if (m_fd < 0) return SerialError::Closed;
    drain_output();
    return tcflush(m_fd, TCIFLUSH) == 0 ? SerialError::Ok : fail(errno);
}

SerialError PosixSerialDevice::set_modem_bit(int bit, bool on) {
    if (m_fd < 0) return SerialError::Closed;
    if (ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return SerialError::Ok;
    int e = errno;
    m_errno = e;
    // Pseudo-terminals and some virtual ports have no modem lines.
    if (e == ENOTTY || e == EINVAL || e == ENOSYS || e == EOPNOTSUPP) return SerialError::ModemUnsupported;
    return error_from_errno(e);
}

void PosixSerialDevice::close() {
    if (m_fd < 0) return;
    // The exclusive flag lives with the tty, which for a pseudo-terminal
    // outlives this descriptor: drop it so the port can be opened again.
    ioctl(m_fd, TIOCNXCL);
    flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace

std::unique_ptr<SerialDevice> open_posix_serial_device(const std::string& path, SerialError& error,
                                                       int& sys_errno) {
    error = SerialError::Ok;
    sys_errno = 0;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        sys_errno = errno;
        error = error_from_errno(sys_errno);
        return nullptr;
    }
    auto give_up = [&](int e, SerialError err) -> std::unique_ptr<SerialDevice> {
        ::close(fd);
        sys_errno = e;
        error = err;
        return nullptr;
    };
    if (!isatty(fd)) return give_up(ENOTTY, SerialError::NotSerial);
    // The advisory lock also keeps out a second program running as root,
    // which TIOCEXCL does not stop.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        return give_up(e, e == EWOULDBLOCK ? SerialError::Busy : error_from_errno(e));
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        int e = errno;
        return give_up(e, error_from_errno(e));
    }
    return std::make_unique<PosixSerialDevice>(fd);
}
