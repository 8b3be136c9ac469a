// The small value languages of the command line: start addresses and ranges,
// range lists, image lists, MAC and device-name placement, bridge type.
//
// Hexadecimal texts may carry their own "0x" (or "0X"); spaces around list
// items and around numbers are ignored, so "0-1000, 20000-1000" reads the
// second range from 0x20000 and never from 0. Every message goes to standard
// output; the caller turns a failure into the run's exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "job/image_entry.h"

// `-s`: "start" or "start-second", both hexadecimal. The second number is an
// end address for a download and a length for erase and read.
struct StartRange {
    uint32_t first = 0;
    uint32_t second = 0;
    bool has_second = false;  // the text had a "-"
};
StartRange parse_start_range(const std::string& text);

enum class RangeKind { erase, read };

struct RangeListResult {
    bool ok = false;
    // Items read before the end or the failure, zero-length ones included.
    int items = 0;
    // The ranges with a non-zero length, in list order.
    std::vector<ImageEntry> entries;
};

// `-f`: "[name@]start-length,..." (read: "[name.bin@]start-length,...").
// On a malformed list the reason is printed and ok is false; when the parent
// directory of target_bin cannot be created, ok is false and only the
// directory routine's own message has been printed. Entries taken before the
// failing item stay in the result.
RangeListResult parse_range_list(const std::string& text, RangeKind kind, const std::string& target_bin);

// The job's image loader: (path, position in the list from 0, entry) -> 1 or
// more when the image was accepted.
using AddImageFn = std::function<int(const std::string& path, int index, ImageEntry& entry)>;

// `--mainBin-multi`: "file.bin@start[-length],...". Hands each image to
// add_image in list order. Returns 1 when all were accepted, otherwise prints
// why and returns -16 (bad item or refused image) or -14 (missing file).
// Images accepted before a failure stay with the job.
int parse_image_list(const std::string& text, const AddImageFn& add_image);

// `-m,--mac` and `--dev-name`: "data@address-length". The address is read as
// written (decimal unless it has a 0x prefix), the length as hexadecimal.
struct Placement {
    std::string data;
    bool has_range = false;  // the part after "@" had a "-"
    uint32_t address = 0;
    uint32_t length = 0;
};
// False when the text has no "@" (the caller reports it).
bool parse_placement(const std::string& text, Placement& placement);

// A MAC is 6 bytes; a device name field is 32 bytes with a terminating zero.
constexpr size_t kMacMaxDigits = 12;
constexpr size_t kDevNameMaxChars = 31;

// 1 when the MAC data fits in 6 bytes; otherwise prints why and returns -16.
int check_mac_data(const std::string& data);
// 1 when the device name fits its field; otherwise prints why and returns -16.
int check_dev_name(const std::string& data);

// Stores the hex pairs of the MAC data into mac in text order (an unreadable
// pair gives 0, an odd last digit is ignored); bytes beyond the data keep
// their values. Returns the number of bytes stored.
int mac_data_to_bytes(const std::string& data, uint8_t mac[6]);

// Copies at most kDevNameMaxChars characters into the zero-filled field.
void dev_name_to_field(const std::string& data, char field[kDevNameMaxChars + 1]);

// `--uart_type`: 1 CH340 (and anything unrecognised), 2 CP210, 3 OTHER.
int uart_type_code(const std::string& text);
