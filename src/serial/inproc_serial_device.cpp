// Serial device on the host side of an in-process line.

#include <chrono>
#include <thread>

#include "serial/inproc_line.h"
#include "serial/serial_device.h"

namespace {

class InProcessSerialDevice final : public SerialDevice {
public:
    explicit InProcessSerialDevice(std::shared_ptr<InProcessLine> line) : m_line(std::move(line)) {}
    ~InProcessSerialDevice() override { close(); }

    SerialError configure(int baud) override {
        if (!m_line) return SerialError::Closed;
        if (baud <= 0) return SerialError::BadArgument;
        return m_line->host_try_set_baud(baud) ? SerialError::Ok : SerialError::RateRefused;
    }
    void set_read_mode(SerialReadMode mode) override { m_mode = mode; }

    SerialError read(uint8_t* buffer, size_t count, size_t& received) override {
        received = 0;
        const bool wait = m_mode == SerialReadMode::WaitUpTo1ms;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
        if (!m_line) {
            if (wait) std::this_thread::sleep_until(deadline);
            return SerialError::Closed;
        }
        if (!wait) {
            received = m_line->host_read(buffer, count, 0);
        } else if (count == 0) {
            std::this_thread::sleep_until(deadline);
        } else {
            received = m_line->host_read_until(buffer, count, deadline);
        }
        return SerialError::Ok;
    }

    SerialError write(const uint8_t* data, size_t length) override {
        if (!m_line) return SerialError::Closed;
        m_line->host_write(data, length);
        return SerialError::Ok;
    }
    SerialError purge() override {
        if (!m_line) return SerialError::Closed;
        m_line->host_purge();
        return SerialError::Ok;
    }
    SerialError clear_errors() override { return m_line ? SerialError::Ok : SerialError::Closed; }
    SerialError set_dtr(bool on) override {
        if (!m_line) return SerialError::Closed;
        m_line->host_set_modem(on, m_line->rts());
        return SerialError::Ok;
    }
    SerialError set_rts(bool on) override {
        if (!m_line) return SerialError::Closed;
        m_line->host_set_modem(m_line->dtr(), on);
        return SerialError::Ok;
    }
    void close() override {
        if (!m_line) return;
        m_line->host_detach();
        m_line.reset();
    }

private:
    std::shared_ptr<InProcessLine> m_line;
    SerialReadMode m_mode = SerialReadMode::WaitUpTo1ms;
};

}  // namespace

std::unique_ptr<SerialDevice> open_in_process_serial_device(std::shared_ptr<InProcessLine> line,
                                                            SerialError& error) {
    if (!line) {
        error = SerialError::BadArgument;
        return nullptr;
    }
    if (!line->host_attach()) {
        error = SerialError::Busy;
        return nullptr;
    }
    error = SerialError::Ok;
    return std::make_unique<InProcessSerialDevice>(std::move(line));
}
