#include "frontend/run_steps.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frontend/arg_formats.h"
#include "frontend/security_config.h"
#include "job/download.h"
#include "job/run_operations.h"
#include "support/log.h"
#include "support/util.h"

namespace {

int add_image_of(Download& job, const std::string& path, int index, ImageEntry& entry) {
    return job.add_image(path, index, entry, 0, 0);
}

// "data@address-length" of --mac or --dev-name: the data, and the address
// and length when the text has them. -16 when there is no "@" or the data
// does not fit its field (`fits` prints why), 1 otherwise.
int take_placement(const std::string& text, int (*fits)(const std::string&), std::string& data, uint32_t& address,
                   uint32_t& length) {
    Placement placement;
    if (!parse_placement(text, placement)) {
        std::printf("\ncannot found @\n");
        return -16;
    }
    if (fits(placement.data) != 1) return -16;
    data = placement.data;
    if (placement.has_range) {
        address = placement.address;
        length = placement.length;
    }
    return 1;
}

int take_mac(Download& job, const std::string& text) {
    job.m_mac_set = 1;
    job.m_mac_reserved = 0;
    std::string data;
    if (take_placement(text, check_mac_data, data, job.m_mac_addr, job.m_mac_len) != 1) return -16;
    mac_data_to_bytes(data, job.m_mac);
    return 1;
}

int take_dev_name(Download& job, const std::string& text) {
    job.m_dev_name_set = 1;
    std::string data;
    if (take_placement(text, check_dev_name, data, job.m_dev_name_addr, job.m_dev_name_len) != 1) return -16;
    dev_name_to_field(data, job.m_dev_name);
    return 1;
}

// -16 when a download's end address lies before its start.
int check_end_after_start(const StartRange& range) {
    if (range.second != 0 && range.second < range.first) {
        std::printf("\nflashWriteEndAddr 0x%x, startAddr 0x%x\n", range.second, range.first);
        return -16;
    }
    return 1;
}

// The single file's range of an erase or read (-i with -s start-length); a
// range without a length is left to the image list step.
void take_single_range(Download& job, RunState& state, const std::string& path, const StartRange& range) {
    state.current_image.path = path;
    state.current_image.selected = true;
    state.current_image.start = range.first;
    state.current_image.length = static_cast<int32_t>(range.second);
    job.m_image_spec_set = 1;
    if (state.current_image.length != 0) job.m_images.push_back(state.current_image);
}

// Appends the ranges of -f; false (the list printed why) ends the run with 0.
bool take_range_list(Download& job, RunState& state, RangeKind kind) {
    RangeListResult list = parse_range_list(state.args.range_text, kind, state.args.target_bin);
    if (list.items > 0) job.m_image_spec_set = 1;
    for (const ImageEntry& entry : list.entries) job.m_images.push_back(entry);
    return list.ok;
}

// Opens the run log and, for -d 999, the traffic log. Returns 1, or the exit
// code when the program's own directory cannot be found.
int open_logs(Download& job, RunState& state) {
    const ParsedArgs& args = state.args;
    if (args.debug_level > 0) {
        std::string path;
        if (!args.output_dir.empty()) {
            path = args.output_dir + "/tesk_loader_" + state.port_name + ".log";
        } else {
            std::string dir = program_directory();
            if (dir.empty()) {
                std::fprintf(stderr, "%s: %s\n", "获取路径失败", std::strerror(errno ? errno : ENOENT));
                return 1;
            }
            path = dir + "/tesk_loader_" + state.port_name + ".log";
        }
        log_open(path);
        log_printf("cmdline: |%s|\n", state.prescan.command_line_text.c_str());
        std::printf("cmdline: |%s|\n", state.prescan.command_line_text.c_str());
        print_version_line();
        std::printf("\n");
    }
    if (args.debug_level == 999) {
        job.m_uart.open_debug_log("Debug_tesk_loader_" + state.port_name + "_.log");
        std::printf("Already open debug mode\n");
        log_printf("Already open debug mode\n");
    }
    return 1;
}

// The image list of the run when no range or entry was taken yet.
int take_images(Download& job, RunState& state) {
    const ParsedArgs& args = state.args;
    const bool single_read = !args.infile.empty() && state.is_read && state.current_image.length != 0;
    if (single_read || !args.range_text.empty() || !job.m_images.empty()) return 1;

    if (!args.infile.empty() && file_exists(args.infile)) {
        if (add_image_of(job, args.infile, 0, state.current_image) < 1) {
            std::printf("the size of bin file is invalid :%s \n", args.infile.c_str());
            return -16;
        }
    } else if (!args.main_bin_multi.empty()) {
        int result = parse_image_list(args.main_bin_multi, [&job](const std::string& path, int index,
                                                                  ImageEntry& entry) {
            return add_image_of(job, path, index, entry);
        });
        if (result < 1) return result;
    } else if (job.m_force_create != 1 && state.secure_ctrl_on && !args.safe_json.empty()) {
        std::printf("bin file not exist\n");
        std::printf("%s", args.infile.c_str());
        return -14;
    }
    return 1;
}

// Logs, image list, eFuse inputs, then the run itself.
int run_common_tail(Download& job, RunState& state) {
    const ParsedArgs& args = state.args;
    job.m_uart_type = uart_type_code(args.uart_type_text);
    if (!job.m_device_path.empty()) job.m_uart.set_device_path(job.m_device_path);

    int result = open_logs(job, state);
    if (result != 1) return result;

    result = take_images(job, state);
    if (result != 1) return result;

    if (!args.safe_infile.empty()) {
        if (file_exists(args.safe_infile)) {
            if (add_image_of(job, args.safe_infile, 0, state.current_image) < 1) {
                std::printf("the size of bin file is invalid :%s \n", args.safe_infile.c_str());
                return -16;
            }
        } else {
            std::printf("bin file not exist\n");
            std::printf("%s", args.safe_infile.c_str());
            return -14;
        }
    }

    if (job.m_efuse_enable || job.m_otp_enable || job.m_secure_boot) {
        if (args.efuse_file.empty() || !file_exists(args.efuse_file))
            std::printf("efuse file not found\n");
        else
            job.m_efuse_file = args.efuse_file;
    }
    if (job.m_secureboot == 1) job.m_secure_boot = 1;
    if (!args.efuse_key.empty()) job.m_efuse_key = args.efuse_key;

    job_log(LOG_INFO, "start thread... \r");
    if (state.is_read) return run_read_job(job);
    if (state.is_erase) return run_erase_job(job);
    return run_download_job(job);
}

}  // namespace

int run_download_steps(Download& job, const CLI::App& sub, RunState& state) {
    const ParsedArgs& args = state.args;
    if (!args.safe_json.empty()) {
        if (!load_safe_json(args.safe_json, job.m_security)) return 0;
        state.secure_ctrl_on = job.m_security.security_ctrl_enable == "true";
    }
    if (args.infile.empty() && args.safe_infile.empty() && args.main_bin_multi.empty() && args.safe_json.empty() &&
        !state.secure_ctrl_on) {
        std::printf("--infile or --safe-infile is required,please check it! \n");
        return 0;
    }

    if (!args.infile.empty()) {
        StartRange range = parse_start_range(args.start_address);
        state.current_image.start = range.first;
        job.m_image_spec_set = 1;
        if (check_end_after_start(range) != 1) return -16;
    } else if (args.main_bin_multi.empty()) {
        job.m_image_spec_set = 1;
    } else if (args.safe_infile.empty()) {
        if (check_end_after_start(parse_start_range(args.start_address)) != 1) return -16;
        job.m_image_spec_set = 1;
    }

    if (!args.mac_text.empty() && take_mac(job, args.mac_text) != 1) return -16;
    if (!args.dev_name_text.empty() && take_dev_name(job, args.dev_name_text) != 1) return -16;

    job.m_disable_dco = flag_count(sub, "--disable-dco");
    job.m_chip_erase = flag_count(sub, "--chip-erase");
    job.m_secureboot = flag_count(sub, "--secureboot");
    job.m_enable_sec_boot = flag_count(sub, "--enable-Sec-boot");
    job.m_enable_sec_boot_log = flag_count(sub, "--enable-Sec-boot-log");
    job.m_big_endian = flag_count(sub, "--big-endian") != 0;
    job.m_efuse_enable = flag_count(sub, "--efuse") != 0;
    job.m_otp_enable = flag_count(sub, "--otp") != 0;
    return run_common_tail(job, state);
}

int run_erase_steps(Download& job, const CLI::App& sub, RunState& state) {
    state.is_erase = true;
    const ParsedArgs& args = state.args;
    if (!args.infile.empty()) {
        take_single_range(job, state, args.infile, parse_start_range(args.start_address));
    } else if (!args.main_bin_multi.empty()) {
        state.current_image.length = 0;
    } else {
        job.m_chip_erase = flag_count(sub, "--chip-erase");
        job.m_disable_dco = flag_count(sub, "--disable-dco");
        if (job.m_chip_erase == 1) {
            ImageEntry whole;
            whole.selected = true;
            whole.start = 0;
            whole.length = 1;
            state.current_image = whole;
            job.m_image_spec_set = 1;
            job.m_images.push_back(whole);
        } else if (!take_range_list(job, state, RangeKind::erase)) {
            return 0;
        }
    }
    return run_common_tail(job, state);
}

int run_read_steps(Download& job, const CLI::App& sub, RunState& state) {
    state.is_read = true;
    const ParsedArgs& args = state.args;
    job.m_force_create = args.force_create;
    if (!args.infile.empty()) {
        const bool exists = file_exists(args.infile);
        if (!exists) {
            if (args.force_create == 0) {
                std::printf("%s is not exist.", args.infile.c_str());
                return 0;
            }
            if (!create_parent_directory(args.infile)) return 0;
        }
        std::string target = args.infile;
        if (!args.target_bin.empty()) {
            if (!create_parent_directory(args.target_bin)) return 0;
            target = args.target_bin;
        }
        StartRange range = parse_start_range(args.start_address);
        if (!range.has_second && !exists && args.force_create == 1) {
            std::printf("%s is not exist,but startaddress must be 2 args,such as '0-10000'.\r\n", args.infile.c_str());
            return 0;
        }
        take_single_range(job, state, target, range);
    } else if (!args.main_bin_multi.empty()) {
        state.current_image.length = 0;
    } else if (!take_range_list(job, state, RangeKind::read)) {
        return 0;
    }
    job.m_disable_dco = flag_count(sub, "--disable-dco");
    return run_common_tail(job, state);
}
