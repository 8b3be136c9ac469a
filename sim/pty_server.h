// Serves a virtual chip on a pseudo-terminal. The host opens the slave side
// like a serial port; the simulator reads the rate the host set there (the
// master side reports the slave's settings) and understands the host only
// while both ends use the same rate.
//
// When the last host closes the slave, the line is left as a serial port is
// after its last close: exclusive use (TIOCEXCL) ends, unread input is
// discarded, and what the chip sends while no host has the line is lost. A pseudo-terminal would otherwise keep the exclusive flag as long
// as the simulator runs, and refuse every later host that is not root.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "virtual_chip.h"

namespace sim {

class PtyServer {
public:
    // The answer to a baud-rate command waits up to this long for the host to
    // switch its side (it does so 2 ms after sending the command, but a
    // loaded machine may take much longer to get there); a host that never
    // switches never sees it. Any other output at a rate the host is not set
    // to is lost at once, as on a real line.
    static constexpr int64_t kHoldUs = 1000000;

    PtyServer() = default;
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the pseudo-terminal at 115200 raw; with link_path, places a
    // symbolic link there to the slave (replacing an older link, never a file).
    bool open(const std::string& link_path, std::string& error);
    const std::string& slave_path() const { return m_slave_path; }

    // A host opening the line (when no other host has it open) resets the
    // chip into its boot ROM, standing in for the reset pulse that a
    // pseudo-terminal cannot carry. Off by default.
    void set_reset_on_open(bool on) { m_reset_on_open = on; }

    // Runs until stop is set (or an unrecoverable error, false with the reason).
    // tick is called on every round with the current time.
    bool serve(VirtualChip& chip, const std::atomic<bool>& stop, const std::function<void(int64_t)>& tick,
               std::string& error);

    // Removes the link when it still points to this pseudo-terminal, closes both sides.
    void close();

    size_t bytes_received() const { return m_bytes_in; }
    size_t bytes_sent() const { return m_bytes_out; }
    size_t bytes_lost_to_rate() const { return m_lost_out; }

    static int64_t now_us();

private:
    struct Held {
        std::vector<uint8_t> bytes;
        int baud;
        int64_t since;
        bool rate_switch;
    };

    void watch_host_opens_and_closes(VirtualChip& chip, int64_t now);

    int m_master = -1;
    int m_slave = -1;  // kept open so the line keeps its settings and never hangs up
    int m_inotify = -1;
    int m_host_opens = 0;  // opens of the slave by others, minus their closes
    bool m_reset_on_open = false;
    std::string m_slave_path;
    std::string m_link_path;
    size_t m_bytes_in = 0;
    size_t m_bytes_out = 0;
    size_t m_lost_out = 0;
};

}  // namespace sim
