// The few operations the COM port needs from a serial device, so that the
// port logic runs unchanged on a real tty and on the in-process line that
// tests (and the in-process virtual chip) use.
//
// Line format is always 8 data bits, no parity, one stop bit, raw bytes, no
// flow control. Nothing here throws; every operation reports a SerialError and
// keeps the system error number of the last failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class InProcessLine;

enum class SerialError {
    Ok = 0,
    NotFound,          // no such device
    Busy,              // another user holds the device
    AccessDenied,      // no permission
    NotSerial,         // the path is not a terminal device
    RateRefused,       // the device cannot run at the requested rate
    ModemUnsupported,  // the device has no modem lines (a pseudo-terminal)
    TimedOut,          // a write did not complete within its time-out
    Closed,            // the device is closed or was hung up
    BadArgument,
    Io,                // any other failure; see the error number
};

const char* serial_error_text(SerialError error);

// How long a read may wait for the bytes it asks for.
enum class SerialReadMode {
    Immediate,    // return at once with what is queued (fast link 1)
    WaitUpTo1ms,  // wait until all bytes are there, at most 1 ms (fast link 0)
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Raw 8N1 at `baud`, no flow control. Output still queued is sent at the
    // old rate first. On refusal the device keeps its previous settings.
    virtual SerialError configure(int baud) = 0;
    virtual void set_read_mode(SerialReadMode mode) = 0;

    // Reads up to `count` bytes; `received` is set to the number read, also
    // when an error is reported. A read of 0 bytes in WaitUpTo1ms mode still
    // waits up to 1 ms, so a caller looping on it never spins.
    virtual SerialError read(uint8_t* buffer, size_t count, size_t& received) = 0;
    // Writes all bytes, waiting at most 10 ms per byte plus 10 ms.
    virtual SerialError write(const uint8_t* data, size_t length) = 0;
    // Drops what has arrived and not been read. Output already written is
    // let go, never dropped: every write is a whole command the chip must
    // get, and on a pseudo-terminal dropping output reaches into the peer's
    // input and can take a command written moments before.
    virtual SerialError purge() = 0;
    virtual SerialError clear_errors() = 0;
    virtual SerialError set_dtr(bool on) = 0;
    virtual SerialError set_rts(bool on) = 0;
    virtual void close() = 0;

    // System error number of the last failed operation (0 when none).
    int last_errno() const { return m_errno; }

protected:
    int m_errno = 0;
};

// Opens a tty exclusively (TIOCEXCL and an advisory lock). Returns null on
// failure with `error` and `sys_errno` set.
std::unique_ptr<SerialDevice> open_posix_serial_device(const std::string& path, SerialError& error,
                                                       int& sys_errno);

// Attaches to the host side of an in-process line; only one device may be
// attached to a line at a time. Returns null (error Busy) when one already is.
std::unique_ptr<SerialDevice> open_in_process_serial_device(std::shared_ptr<InProcessLine> line,
                                                            SerialError& error);
