// tesk_sim: a virtual chip served on a pseudo-terminal.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "flash_models.h"
#include "pty_server.h"
#include "sim_options.h"
#include "sim_state.h"
#include "virtual_chip.h"

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int) { g_stop.store(true); }

void install_signals() {
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: poll returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void list_flash() {
    size_t count = 0;
    const sim::SimFlashModel* models = sim::flash_models(&count);
    std::printf("%-10s %-15s %-6s %9s  %s\n", "id", "name", "vendor", "KiB", "status registers");
    for (size_t i = 0; i < count; ++i)
        std::printf("0x%06X   %-15s %-6s %9u  %u\n", models[i].mid, models[i].name, models[i].vendor,
                    models[i].size_bytes / 1024, models[i].status_regs);
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimProgramOptions options;
    int rc = sim::parse_sim_options(argc, argv, options);
    if (rc >= 0) return rc;
    if (options.list_flash) {
        list_flash();
        return 0;
    }

    std::string error;
    sim::StateDirLock lock;
    if (!options.state_dir.empty()) {
        sim::StateInfo info;
        if (!lock.acquire(options.state_dir, error) || !sim::read_state_info(options.state_dir, info, error)) {
            std::fprintf(stderr, "tesk_sim: %s\n", error.c_str());
            return 1;
        }
        // The state decides what was not asked for explicitly.
        if (info.has_flash && !options.flash_given) options.chip.flash_mid = info.flash_mid;
        if (info.has_efuse && !options.efuse_size_given) options.chip.efuse_size = info.efuse_size;
    }
    std::unique_ptr<sim::VirtualChip> chip = sim::VirtualChip::create(options.chip, error);
    if (!chip || (!options.state_dir.empty() && !sim::load_state(options.state_dir, *chip, error))) {
        std::fprintf(stderr, "tesk_sim: %s\n", error.c_str());
        return 1;
    }

    FILE* command_log = nullptr;
    if (!options.command_log_path.empty()) {
        command_log = std::fopen(options.command_log_path.c_str(), "a");
        if (!command_log) {
            std::fprintf(stderr, "tesk_sim: cannot open %s\n", options.command_log_path.c_str());
            return 1;
        }
    }
    const int64_t t0 = sim::PtyServer::now_us();
    bool verbose = options.verbose;
    chip->command_log().set_keep_records(false);
    chip->command_log().set_observer([command_log, verbose, t0](const sim::CommandRecord& r) {
        std::string line = r.describe();
        double t = double(r.time_us - t0) / 1e6;
        if (command_log) {
            std::fprintf(command_log, "%.6f %s\n", t, line.c_str());
            std::fflush(command_log);
        }
        if (verbose) std::fprintf(stderr, "%10.6f %s\n", t, line.c_str());
    });

    install_signals();
    sim::PtyServer server;
    server.set_reset_on_open(options.reset_on_open);
    if (!server.open(options.link_path, error)) {
        std::fprintf(stderr, "tesk_sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", server.slave_path().c_str());
    std::fflush(stdout);
    const sim::SimFlashModel& model = chip->flash().model();
    std::fprintf(stderr, "tesk_sim: chip 0x%X on %s%s%s, flash %s 0x%06X (%u KiB), eFuse %zu bytes\n",
                 options.chip.chip_id, server.slave_path().c_str(), options.link_path.empty() ? "" : " linked at ",
                 options.link_path.c_str(), model.name, model.mid, model.size_bytes / 1024, chip->efuse().size());

    // Save once the chip changed and the line was quiet for half a second,
    // and at least every five seconds while it keeps changing.
    uint64_t saved_changes = chip->change_count();
    uint64_t seen_changes = saved_changes;
    int64_t last_change = 0, last_save = t0;
    bool save_failed = false;
    auto save = [&](int64_t now) {
        if (options.state_dir.empty()) return;
        if (!sim::save_state(options.state_dir, *chip, error)) {
            if (!save_failed) std::fprintf(stderr, "tesk_sim: %s\n", error.c_str());
            save_failed = true;
            return;
        }
        save_failed = false;
        saved_changes = chip->change_count();
        last_save = now;
    };
    auto tick = [&](int64_t now) {
        uint64_t changes = chip->change_count();
        if (changes != seen_changes) {
            seen_changes = changes;
            last_change = now;
        }
        if (changes != saved_changes && (now - last_change > 500000 || now - last_save > 5000000)) save(now);
    };

    bool ok = server.serve(*chip, g_stop, tick, error);
    if (!ok) std::fprintf(stderr, "tesk_sim: %s\n", error.c_str());
    save(sim::PtyServer::now_us());
    server.close();
    if (command_log) std::fclose(command_log);
    return ok && !save_failed ? 0 : 1;
}
