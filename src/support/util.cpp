#include "support/util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

int64_t parse_number(const std::string& input) {
    std::string text = input;
    // A caller put "0x" in front of user text that already had one.
    size_t first = text.find("0x");
    if (first != std::string::npos && text.find("0x", first + 1) != std::string::npos) text.erase(0, 2);

    int64_t sign = 1;
    size_t pos = 0;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        if (text[0] == '-') sign = -1;
        pos = 1;
    }
    int base = 10;
    if (text.size() >= pos + 2 && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    uint64_t value = 0;  // unsigned: overlong input wraps instead of being undefined
    for (; pos < text.size(); ++pos) {
        char c = text[pos];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return static_cast<int64_t>(value * static_cast<uint64_t>(sign));
}

std::string to_lower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string> split(const std::string& text, const std::string& delimiter) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    if (delimiter.empty() || text.find(delimiter) == std::string::npos) {
        parts.push_back(text);
        return parts;
    }
    std::string rest = text;
    size_t p;
    while ((p = rest.find(delimiter)) != std::string::npos) {
        parts.push_back(rest.substr(0, p));
        rest = rest.substr(p + delimiter.size());
    }
    if (!rest.empty()) parts.push_back(rest);
    return parts;
}

bool file_exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    std::fclose(f);
    return true;
}

std::unique_ptr<uint8_t[]> read_file(const std::string& path, size_t& length) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        length = 0;
        return nullptr;
    }
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        length = 0;
        return nullptr;
    }
    if (length == 0) length = static_cast<size_t>(size);
    // Bytes the file does not have read as zero rather than as leftovers.
    auto buffer = std::make_unique<uint8_t[]>(length ? length : 1);
    size_t got = length ? std::fread(buffer.get(), 1, length, f) : 0;
    (void)got;
    std::fclose(f);
    return buffer;
}

bool create_parent_directory(const std::string& path) {
    size_t cut = path.find_last_of('/');
    // A bare file name lives in the current directory: there is nothing to
    // create, and making a directory of the file's own name would block it.
    if (cut == std::string::npos) return true;
    std::string dir = path.substr(0, cut);
    if (dir.empty()) return true;  // a path directly under "/"
    struct stat st{};
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    if (mkdir(dir.c_str(), 0777) != 0) {
        std::printf("%s : create directory fail\r\n", dir.c_str());
        return false;
    }
    return true;
}

namespace {

const std::array<uint32_t, 256>& crc_table() {
    // Built once, thread-safe by the language's static initialisation.
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length) {
    const auto& table = crc_table();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFF];
    return crc;
}

std::string mac_to_text(const uint8_t bytes[6]) {
    char out[6 * 3 + 1];
    for (int i = 0; i < 6; ++i) std::snprintf(out + i * 3, 4, "%02X ", bytes[i]);
    return std::string(out, 18);
}

std::string text_to_hex(const std::string& text) {
    std::string out;
    char pair[8];
    for (char c : text) {
        if (c == '(') {
            out += "0a";
        } else if (c == ')') {
            out += "00";
        } else {
            std::snprintf(pair, sizeof pair, "%2hhx", static_cast<unsigned char>(c));
            out += pair;
        }
    }
    return out;
}

std::string int_to_bytes_text(uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((value >> (8 * i)) & 0xFF);
        if (c == '\0') break;
        out += c;
    }
    return out;
}

namespace {

// True when only blanks stand between pos and the start of its line (or the
// start of the searched body).
bool starts_line(const std::string& text, size_t pos, size_t body_start) {
    while (pos > body_start && (text[pos - 1] == ' ' || text[pos - 1] == '\t')) --pos;
    return pos == body_start || text[pos - 1] == '\n' || text[pos - 1] == '\r';
}

}  // namespace

std::string ini_get(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& line_end) {
    size_t body_start = 0;
    size_t body_end = text.size();
    if (!section.empty()) {
        size_t header = text.find("[" + section + "]");
        if (header == std::string::npos) return "0";
        body_start = header + section.size() + 2;
        size_t next = text.find('[', body_start);
        if (next != std::string::npos) body_end = next;
    }
    // The key must start its line: a plain substring search would let "UID="
    // match inside "disWriteUID=" and burn the flag's value as the UID.
    const std::string needle = key + "=";
    size_t at = text.find(needle, body_start);
    while (at != std::string::npos && at < body_end && !starts_line(text, at, body_start))
        at = text.find(needle, at + 1);
    if (at == std::string::npos || at >= body_end) return "0";
    size_t value_start = at + key.size() + 1;
    size_t value_end = line_end.empty() ? std::string::npos : text.find(line_end, value_start);
    if (value_end == std::string::npos) value_end = text.size();
    return text.substr(value_start, value_end - value_start);
}

namespace {

bool read_text_file(const std::string& path, std::string& text) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    text.clear();
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return true;
}

std::string detect_line_end(const std::string& text) {
    for (const char* candidate : {"\r\n", "\n\r", "\n", "\r"})
        if (text.find(candidate) != std::string::npos) return candidate;
    return "";
}

}  // namespace

std::string ini_read_value(const std::string& path, const std::string& section, const std::string& key) {
    std::string text;
    if (!read_text_file(path, text)) text.clear();  // an unreadable file reads as empty text
    return ini_get(text, section, key, detect_line_end(text));
}

bool ini_read_list(const std::string& path, const std::string& section, const std::string& key_prefix,
                   std::vector<std::string>& values) {
    std::string text;
    std::string line_end;
    bool ready = false;
    for (int attempt = 0; attempt < 20 && !ready; ++attempt) {
        if (attempt) sleep_ms(1);
        if (read_text_file(path, text)) {
            line_end = detect_line_end(text);
            ready = !line_end.empty();
        }
    }
    if (!ready) return false;
    for (int n = 0; n <= 23; ++n) {
        std::string value = ini_get(text, section, key_prefix + std::to_string(n), line_end);
        if (value != "0") values.push_back(value);
    }
    return true;
}

std::string scramble_text(const std::string& text) {
    uint16_t k = 0x2E6B;
    std::string out;
    size_t count = std::min<size_t>(text.size(), 255);
    for (size_t i = 0; i < count; ++i) {
        uint8_t p = static_cast<uint8_t>(text[i]);
        uint8_t e = static_cast<uint8_t>(p ^ static_cast<uint8_t>(k >> 8));
        k = static_cast<uint16_t>(k + e);
        out += static_cast<char>('a' + e / 26);
        out += static_cast<char>('a' + e % 26);
    }
    return out;
}

std::string unscramble_text(const std::string& text) {
    std::vector<uint8_t> values;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        int e = ((text[i] - 'a') * 26 + (text[i + 1] - 'a')) & 0xFF;
        if (e != 0) values.push_back(static_cast<uint8_t>(e));
    }
    uint16_t k = 0x2E6B;
    std::string out;
    for (uint8_t e : values) {
        if (out.size() == 255) break;
        out += static_cast<char>(e ^ static_cast<uint8_t>(k >> 8));
        k = static_cast<uint16_t>(k + e);
    }
    return out;
}

namespace {

std::vector<std::string> cut_words(const std::string& s, size_t word_size) {
    std::vector<std::string> words;
    if (word_size == 0) return words;
    for (size_t i = 0; i < s.size(); i += word_size) words.push_back(s.substr(i, word_size));
    return words;
}

}  // namespace

int key_text_to_words(const std::string& name, std::string& text, int decode, std::vector<std::string>& words) {
    std::string s = text;
    if (!s.empty()) {
        if (s.size() > 6 && s.find("aes_key") != std::string::npos) s.erase(0, 4);
        if (decode == 1) s = unscramble_text(s);
    }
    size_t word_size = (name == "ota_key" || name == "ota_iv") ? 4 : (decode == 1 ? 8 : 4);
    if (s.find("\\n") != std::string::npos || s.find("\\0") != std::string::npos) {
        // "(" and ")" stand for an escaped line feed and zero byte; text_to_hex turns them back.
        std::string resolved;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '0' || text[i + 1] == 'n')) {
                resolved += text[i + 1] == '0' ? ')' : '(';
                ++i;
            } else {
                resolved += text[i];
            }
        }
        text = resolved;
        s = text;
    }
    words = cut_words(s, word_size);
    return 1;
}

std::vector<std::string> ini_read_key_words(const std::string& path, const std::string& section,
                                            const std::string& key, size_t word_size) {
    std::string value = ini_read_value(path, section, key);
    bool all_same = true;
    for (char c : value)
        if (c != value[0]) {
            all_same = false;
            break;
        }
    if (!all_same) {
        if (key.size() > 6 && key.find("aes_key") != std::string::npos && value.size() >= 4) value.erase(0, 4);
        value = unscramble_text(value);
    }
    return cut_words(value, word_size);
}

void delay_ms(unsigned milliseconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
    }
}

void sleep_ms(unsigned milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::string program_directory() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    path[n] = '\0';
    std::string full(path);
    size_t cut = full.find_last_of('/');
    return cut == std::string::npos ? std::string() : full.substr(0, cut);
}
