#include "serial/comm_port.h"

#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "serial/inproc_line.h"
#include "support/log.h"

namespace {

bool path_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

CCommPort::CCommPort() = default;

CCommPort::~CCommPort() { Close(); }

std::string CCommPort::device_path_for_port(int port_number, const std::string& dev_dir) {
    const std::string usb = dev_dir + "/ttyUSB" + std::to_string(port_number);
    if (path_exists(usb)) return usb;
    const std::string acm = dev_dir + "/ttyACM" + std::to_string(port_number);
    if (path_exists(acm)) return acm;
    return usb;
}

void CCommPort::set_device_path(const std::string& path) {
    m_override_path = path;
    m_override_line.reset();
}

void CCommPort::set_in_process_line(std::shared_ptr<InProcessLine> line) {
    m_override_line = std::move(line);
    m_override_path.clear();
}

void CCommPort::clear_device_override() {
    m_override_path.clear();
    m_override_line.reset();
}

int CCommPort::Open(int port_number, int baud, int fast_link) {
    if (m_override_line) return OpenInProcess(m_override_line, baud, fast_link);
    if (!m_override_path.empty()) return OpenPath(m_override_path, baud, fast_link);
    return OpenPath(device_path_for_port(port_number), baud, fast_link);
}

int CCommPort::OpenPath(const std::string& path, int baud, int fast_link) {
    Close();
    SerialError error = SerialError::Ok;
    int sys_errno = 0;
    std::unique_ptr<SerialDevice> device = open_posix_serial_device(path, error, sys_errno);
    return attach(std::move(device), path, error, sys_errno, baud, fast_link);
}

int CCommPort::OpenInProcess(std::shared_ptr<InProcessLine> line, int baud, int fast_link) {
    Close();
    SerialError error = SerialError::Ok;
    std::unique_ptr<SerialDevice> device = open_in_process_serial_device(std::move(line), error);
    return attach(std::move(device), "in-process line", error, 0, baud, fast_link);
}

int CCommPort::attach(std::unique_ptr<SerialDevice> device, const std::string& name, SerialError error,
                      int sys_errno, int baud, int fast_link) {
    m_device_name = name;
    m_last_error = error;
    m_last_errno = sys_errno;
    if (!device) {
        job_log(LOG_DETAIL, "open %s failed: %s (%s)", name.c_str(), serial_error_text(error),
                sys_errno ? strerror(sys_errno) : "-");
        return 0;
    }
    // The boot ROM talks 8N1 at 115200 after reset; a device that cannot
    // even do that is of no use.
    SerialError e = device->configure(115200);
    if (e != SerialError::Ok) {
        m_last_error = e;
        m_last_errno = device->last_errno();
        job_log(LOG_DETAIL, "open %s failed: %s (%s)", name.c_str(), serial_error_text(e),
                m_last_errno ? strerror(m_last_errno) : "-");
        device->close();
        return 0;
    }
    device->set_read_mode(SerialReadMode::Immediate);
    // Opening a tty raises DTR and RTS; the chip must not be held in reset,
    // and the lines change only through explicit calls from here on. A device
    // without modem lines (a pseudo-terminal) refuses both, which is fine.
    device->set_dtr(false);
    device->set_rts(false);
    device->purge();
    device->clear_errors();
    m_device = std::move(device);
    m_baud = 115200;
    m_fast_link = fast_link;
    Configure(baud, fast_link);
    return 1;
}

int CCommPort::Configure(int baud, int fast_link) {
    if (!m_device) return 0;
    if (m_device->configure(baud) != SerialError::Ok) return 0;
    m_device->set_read_mode(fast_link == 1 ? SerialReadMode::Immediate : SerialReadMode::WaitUpTo1ms);
    m_device->purge();
    m_fast_link = fast_link;
    m_baud = baud;
    return 1;
}

int CCommPort::Close() {
    if (!m_device) return 0;
    m_device->set_dtr(false);
    m_device->purge();
    m_device->purge();
    m_device->clear_errors();
    m_device->close();
    m_device.reset();
    return 1;
}

int CCommPort::Read(uint8_t* buffer, int count) {
    if (count < 0) count = 0;
    if (count > 0) memset(buffer, 0, size_t(count));
    if (!m_device) {
        // Same pace as a quiet line, so a caller polling a closed port does
        // not spin.
        if (m_fast_link != 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    }
    m_device->clear_errors();
    size_t received = 0;
    if (m_device->read(buffer, size_t(count), received) != SerialError::Ok) m_device->clear_errors();
    return int(received);
}

bool CCommPort::write_frame(const uint8_t* frame, size_t length) {
    if (!m_device) return false;
    if (m_device->write(frame, length) == SerialError::Ok) return true;
    m_device->clear_errors();
    return false;
}

void CCommPort::do_reset_signal() {
    if (!m_device) return;
    m_device->set_dtr(false);
    m_device->set_rts(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m_device->set_rts(false);
}

int CCommPort::Purge() {
    if (!m_device) return 0;
    return m_device->purge() == SerialError::Ok ? 1 : 0;
}

void CCommPort::ClearError() {
    if (m_device) m_device->clear_errors();
}

int CQuarnUartPort::open_debug_log(const std::string& path) {
    m_dump = 1;
    if (!traffic_log_is_open()) traffic_log_open(path);
    return 1;
}
