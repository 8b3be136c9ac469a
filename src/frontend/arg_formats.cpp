#include "frontend/arg_formats.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "support/util.h"

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

const char* const kEraseListEmpty =
    "--freedom-erase, at least need 2 parameters ,such as [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";
const char* const kReadListEmpty =
    "--freedom-read, at least need 2 parameters ,such as [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";
const char* const kEraseItemBad =
    "--freedom-erase, at least need 2 parameters ,such as  [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";
const char* const kReadItemBad =
    "--freedom-read, at least need 2 parameters ,such as  [-f 0-10000 or -f 0-10000,10000-1000],please check it! \n";

// A space typed after a comma or around "-" must not turn an address into 0:
// the number parser stops at the first character that is not a digit.
std::string trim(const std::string& text) {
    const char* const blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Hexadecimal with or without the user's own prefix; "0X" is taken like "0x"
// so that an upper-case prefix cannot silently read as address 0.
uint32_t read_hex(const std::string& text) {
    std::string digits = trim(text);
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
    }
    return static_cast<uint32_t>(parse_number("0x" + digits));
}

// Range files without a name of their own are kept beside the program.
std::string program_directory_prefix() {
    std::string dir = program_directory();
    if (!dir.empty() && dir.back() != '/' && dir.back() != kPathSeparator) {
        dir += kPathSeparator;
    }
    return dir;
}

// Size without reading the file; 0 when it cannot be determined.
uint64_t file_size_or_zero(const std::string& path) {
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

int32_t clamp_length(uint64_t value) {
    return static_cast<int32_t>(std::min<uint64_t>(value, std::numeric_limits<int32_t>::max()));
}

}  // namespace

StartRange parse_start_range(const std::string& text) {
    StartRange range;
    size_t dash = text.find('-');
    if (dash == std::string::npos) {
        range.first = read_hex(text);
        range.second = 0;
        return range;
    }
    range.first = read_hex(text.substr(0, dash));
    range.second = read_hex(text.substr(dash + 1));
    range.has_second = true;
    return range;
}

RangeListResult parse_range_list(const std::string& text, RangeKind kind, const std::string& target_bin) {
    RangeListResult result;
    const bool is_read = kind == RangeKind::read;
    std::vector<std::string> items = split(text, ",");
    if (items.empty()) {
        printf("%s", is_read ? kReadListEmpty : kEraseListEmpty);
        return result;
    }
    const std::string program_dir = program_directory_prefix();

    for (size_t index = 0; index < items.size(); ++index) {
        const int k = static_cast<int>(index) + 1;
        const std::string item = trim(items[index]);
        ImageEntry entry;
        bool has_name = false;
        std::string rest = item;

        if (!is_read) {
            size_t at = item.find('@');
            if (at != std::string::npos) {
                rest = item.substr(at + 1);
                if (at > 0) {
                    std::string name = trim(item.substr(0, at));
                    has_name = true;
                    entry.path = file_exists(name) ? name : program_dir + name + ".bin";
                }
            }
        } else {
            size_t tag = item.find(".bin@");
            if (tag != std::string::npos && tag > 0) {
                std::string name = trim(item.substr(0, tag + 4));
                rest = item.substr(tag + 5);
                has_name = true;
                if (file_exists(name)) {
                    if (!target_bin.empty() && !create_parent_directory(target_bin)) {
                        return result;
                    }
                    entry.path = name;
                } else if (target_bin.empty()) {
                    entry.path = program_dir + name + ".bin";
                } else {
                    if (!create_parent_directory(target_bin)) {
                        return result;
                    }
                    entry.path = target_bin;
                }
            }
        }

        size_t dash = rest.find('-');
        if (dash == std::string::npos) {
            printf("%s", is_read ? kReadItemBad : kEraseItemBad);
            return result;
        }
        entry.length = static_cast<int32_t>(read_hex(rest.substr(dash + 1)));
        entry.start = read_hex(rest.substr(0, dash));

        if (!has_name) {
            if (is_read && !target_bin.empty()) {
                if (!create_parent_directory(target_bin)) {
                    return result;
                }
                entry.path = target_bin;
            } else {
                entry.path = program_dir + "x" + std::to_string(k) + ".bin";
            }
        }

        entry.selected = true;
        ++result.items;
        if (entry.length != 0) {
            result.entries.push_back(entry);
        }
    }
    result.ok = true;
    return result;
}

int parse_image_list(const std::string& text, const AddImageFn& add_image) {
    std::vector<std::string> items = split(text, ",");
    if (items.empty()) {
        printf("the format of bin file is invalid :%s \n", text.c_str());
        return -16;
    }
    for (size_t index = 0; index < items.size(); ++index) {
        const std::string item = trim(items[index]);
        size_t tag = item.find(".bin@");
        if (tag == std::string::npos) {
            tag = item.find(".BIN@");
        }
        if (tag == std::string::npos) {
            printf("the format of bin file is invalid :%s \n", item.c_str());
            return -16;
        }
        const std::string path = item.substr(0, tag + 4);
        const size_t address_begin = tag + 5;
        const size_t last_at = item.rfind('@');
        const size_t last_dash = item.rfind('-');
        const bool has_length = last_dash != std::string::npos && last_dash > last_at;

        // A missing file is reported as such, not first as a length mismatch.
        if (!file_exists(path)) {
            printf("the bin file isn`t exist :%s \n", path.c_str());
            return -14;
        }
        const uint64_t real_size = file_size_or_zero(path);

        ImageEntry entry;
        std::string address_text;
        if (has_length) {
            uint32_t wanted = read_hex(item.substr(last_dash + 1));
            if (real_size < wanted) {
                printf("iRealLength is %d,but input file length is %d", static_cast<int>(real_size),
                       static_cast<int>(wanted));
                entry.length = clamp_length(real_size);
            } else {
                entry.length = clamp_length(wanted);
            }
            address_text = item.substr(address_begin, last_dash - address_begin);
        } else {
            entry.length = clamp_length(real_size);
            address_text = item.substr(address_begin);
        }
        entry.selected = true;
        entry.start = read_hex(address_text);

        if (add_image(path, static_cast<int>(index), entry) < 1) {
            printf("the size of bin file is invalid :%s \n", path.c_str());
            return -16;
        }
    }
    return 1;
}

bool parse_placement(const std::string& text, Placement& placement) {
    size_t at = text.find('@');
    if (at == std::string::npos) {
        return false;
    }
    placement.data = text.substr(0, at);
    placement.has_range = false;
    std::string where = text.substr(at + 1);
    size_t dash = where.find('-');
    if (dash != std::string::npos) {
        placement.address = static_cast<uint32_t>(parse_number(trim(where.substr(0, dash))));
        placement.length = read_hex(where.substr(dash + 1));
        placement.has_range = true;
    }
    return true;
}

int check_mac_data(const std::string& data) {
    std::string digits = trim(data);
    if (digits.size() > kMacMaxDigits) {
        printf("\nthe mac data is too long :%s (%zu hex digits, at most %zu)\n", digits.c_str(), digits.size(),
               kMacMaxDigits);
        return -16;
    }
    return 1;
}

int check_dev_name(const std::string& data) {
    if (data.size() > kDevNameMaxChars) {
        printf("\nthe device name is too long :%s (%zu characters, at most %zu)\n", data.c_str(), data.size(),
               kDevNameMaxChars);
        return -16;
    }
    return 1;
}

int mac_data_to_bytes(const std::string& data, uint8_t mac[6]) {
    std::string digits = trim(data);
    size_t count = std::min<size_t>(digits.size() / 2, 6);
    for (size_t i = 0; i < count; ++i) {
        char pair[3] = {digits[2 * i], digits[2 * i + 1], '\0'};
        mac[i] = static_cast<uint8_t>(strtoul(pair, nullptr, 16));
    }
    return static_cast<int>(count);
}

void dev_name_to_field(const std::string& data, char field[kDevNameMaxChars + 1]) {
    memset(field, 0, kDevNameMaxChars + 1);
    memcpy(field, data.data(), std::min(data.size(), kDevNameMaxChars));
}

int uart_type_code(const std::string& text) {
    if (text.find("CH340") != std::string::npos) {
        return 1;
    }
    if (text.find("CP210") != std::string::npos) {
        return 2;
    }
    if (text.find("OTHER") != std::string::npos) {
        return 3;
    }
    return 1;
}
