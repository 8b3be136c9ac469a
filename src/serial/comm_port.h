// The COM port through which the chip's boot ROM is reached: opened by port
// number (or by device path), 8N1 raw without flow control, with the modem
// lines that reset the chip into its boot ROM.
//
// The port also carries the receive state of the transaction in flight and
// the event ring; the boot-protocol engine (CBootIntf) works on those fields
// directly, so consecutive protocol objects on the same port share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/serial_device.h"
#include "serial/timers.h"

class InProcessLine;

// One queued short-form event: its payload starts with the opcode.
struct EventSlot {
    static constexpr uint32_t kCapacity = 4200;
    uint32_t length = 0;
    uint8_t payload[kCapacity];
};

class CCommPort {
public:
    static constexpr int kEventSlots = 16;

    CCommPort();
    virtual ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // Device behind a port number: /dev/ttyUSB<N>, or /dev/ttyACM<N> when
    // that does not exist.
    static std::string device_path_for_port(int port_number, const std::string& dev_dir = "/dev");

    // Makes Open(port_number, ...) use this device path instead of the
    // number's mapping (the --device option); every reconnect goes there too.
    void set_device_path(const std::string& path);
    // Makes Open(port_number, ...) attach to this in-process line instead.
    void set_in_process_line(std::shared_ptr<InProcessLine> line);
    void clear_device_override();

    // 1 = open and configured, 0 = failure (see last_error()). An open port
    // is closed first. Afterwards DTR and RTS are cleared and both queues are
    // empty.
    int Open(int port_number, int baud, int fast_link);
    int OpenPath(const std::string& path, int baud, int fast_link);
    int OpenInProcess(std::shared_ptr<InProcessLine> line, int baud, int fast_link);

    // 1 = done (m_baud = baud), 0 = refused or not open; a refusal leaves the
    // port as it was. fast_link 1: reads return at once; 0: reads wait up to 1 ms.
    int Configure(int baud, int fast_link);
    // 1 = closed, 0 = nothing was open. Clears DTR on the way out.
    int Close();
    // Zeroes `count` bytes of the buffer, then reads; returns the bytes read
    // (0 when nothing came within the read time-out, on error, or when closed).
    int Read(uint8_t* buffer, int count);
    // The write step of a command frame. The caller does not act on the
    // result: a frame that could not be written shows up as a missing answer.
    bool write_frame(const uint8_t* frame, size_t length);
    // Reset pulse into the boot ROM: DTR low, RTS high for 200 ms, RTS low.
    // A device without modem lines is not an error.
    void do_reset_signal();
    // Drops everything queued in both directions.
    int Purge();
    void ClearError();

    bool is_open() const { return m_device != nullptr; }
    int fast_link() const { return m_fast_link; }
    // Why the last Open failed.
    SerialError last_error() const { return m_last_error; }
    int last_errno() const { return m_last_errno; }
    // Device of the last Open (a path, or "in-process line").
    const std::string& device_name() const { return m_device_name; }

    // ---- event ring (used by the event parser of CBootIntf) --------------
    EventSlot m_ring[kEventSlots];
    uint32_t m_ring_read = 0;
    uint32_t m_ring_write = 0;
    uint32_t m_ring_pos = 0;
    int m_parse_state = 0;
    // The event being parsed is collected here and queued only when whole,
    // so a full ring keeps its 16 newest events intact meanwhile.
    EventSlot m_parse_slot;

    // ---- line and transaction state ---------------------------------------
    int32_t m_baud = 0;
    int32_t m_expect_len = 0;
    int32_t m_recv_len = 0;
    uint8_t* m_resp_buf = nullptr;
    double m_timeout = 0.0;
    // Receive latches of the normal and of the link-check path: 1 once the
    // 04 that starts an answer has been seen.
    int m_start_seen = 0;
    int m_link_start_seen = 0;

private:
    int attach(std::unique_ptr<SerialDevice> device, const std::string& name, SerialError error, int sys_errno,
               int baud, int fast_link);

    std::unique_ptr<SerialDevice> m_device;
    int m_fast_link = 0;
    SerialError m_last_error = SerialError::Ok;
    int m_last_errno = 0;
    std::string m_device_name;
    std::string m_override_path;
    std::shared_ptr<InProcessLine> m_override_line;
};

class CQuarnUartPort : public CCommPort {
public:
    CQuarnUartPort() = default;
    ~CQuarnUartPort() override = default;

    // Turns the traffic dump on (for good) and opens the traffic log when it
    // is not open yet. Returns 1.
    int open_debug_log(const std::string& path);

    // 1 = write an "OUT" traffic line per command frame and an "IN" line per
    // completed answer.
    int32_t m_dump = 0;
    // Stopwatch of the transaction in flight, started when a command is sent.
    MTimer m_timer;
};
