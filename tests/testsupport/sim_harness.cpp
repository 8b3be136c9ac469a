#include "sim_harness.h"

#include <algorithm>

int64_t SimHarness::now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

SimHarness::SimHarness(InProcessLine& line, const sim::SimConfig& config, bool start_now) : m_line(&line) {
    m_chip = sim::VirtualChip::create(config, m_error);
    if (m_chip && start_now) start();
}

SimHarness::~SimHarness() { stop(); }

void SimHarness::start() {
    if (m_running || !m_chip) return;
    m_stop = false;
    m_running = true;
    m_line->set_modem_listener([this](bool dtr, bool rts) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_chip->set_modem_lines(dtr, rts, now_us());
    });
    m_thread = std::thread([this] { run(); });
}

void SimHarness::stop() {
    if (!m_running) return;
    m_stop = true;
    m_line->wake_far();
    m_thread.join();
    m_line->set_modem_listener(nullptr);
    m_running = false;
}

void SimHarness::run() {
    std::vector<uint8_t> buffer(8192);
    std::vector<uint8_t> out;
    while (!m_stop.load()) {
        int64_t next;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            next = m_chip->next_output_at();
        }
        int64_t now = now_us();
        int wait_ms = 20;
        if (next != sim::VirtualChip::kNever) wait_ms = int(std::clamp<int64_t>((next - now) / 1000, 0, 20));
        int baud = 0;
        size_t n = m_line->far_read(buffer.data(), buffer.size(), wait_ms, &baud);
        if (n == 0 && wait_ms == 0 && next != sim::VirtualChip::kNever && next > now)
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<int64_t>(next - now, 200)));

        std::vector<std::pair<std::vector<uint8_t>, int>> sends;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            now = now_us();
            if (n) m_chip->receive(buffer.data(), n, baud, now);
            int out_baud = 0;
            while (m_chip->take_output(now, out, out_baud)) {
                sends.emplace_back(std::move(out), out_baud);
                out.clear();
            }
        }
        for (auto& [bytes, rate] : sends) m_line->far_write(bytes.data(), bytes.size(), rate);
        ++m_rounds;
    }
}

void SimHarness::settle() {
    if (!m_running) return;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (m_line->far_pending() > 0 && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The round that read the last bytes may still be handling them.
    const uint64_t seen = m_rounds.load();
    while (m_rounds.load() < seen + 2 && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::vector<uint8_t> SimHarness::flash_bytes(uint32_t address, size_t length) {
    return with_chip([&](sim::VirtualChip& c) {
        const std::vector<uint8_t>& d = c.flash().contents();
        size_t end = std::min<size_t>(d.size(), size_t(address) + length);
        return address < d.size() ? std::vector<uint8_t>(d.begin() + address, d.begin() + end) : std::vector<uint8_t>{};
    });
}

void SimHarness::set_flash_bytes(uint32_t address, const std::vector<uint8_t>& bytes) {
    with_chip([&](sim::VirtualChip& c) {
        std::vector<uint8_t>& d = c.flash().contents();
        for (size_t i = 0; i < bytes.size() && address + i < d.size(); ++i) d[address + i] = bytes[i];
    });
}

std::vector<uint8_t> SimHarness::efuse_bytes() {
    return with_chip([](sim::VirtualChip& c) { return c.efuse().bytes(); });
}

uint32_t SimHarness::register_value(uint32_t address) {
    return with_chip([&](sim::VirtualChip& c) { return c.registers().peek(address); });
}

std::vector<sim::CommandRecord> SimHarness::commands() {
    settle();
    return with_chip([](sim::VirtualChip& c) { return c.command_log().records(); });
}

std::vector<sim::EraseEvent> SimHarness::erases() {
    settle();
    return with_chip([](sim::VirtualChip& c) { return sim::erase_events(c.command_log().records()); });
}

sim::ChipMode SimHarness::mode() {
    return with_chip([](sim::VirtualChip& c) { return c.mode(); });
}

int SimHarness::uart_baud() {
    return with_chip([](sim::VirtualChip& c) { return c.uart_baud(); });
}
