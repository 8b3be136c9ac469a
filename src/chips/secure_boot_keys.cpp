#include "chips/secure_boot_keys.h"

#include <cctype>

#include "flash/flash_waits.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint32_t kPowerReg = 0x44880000;  // bit 31 powers the eFuse and OTP block
constexpr uint32_t kPowerBit = 0x80000000;
constexpr uint32_t kOtpEnableReg = 0x4B00800C;  // bit 0 enables OTP writes
constexpr uint32_t kOtpEnableBit = 0x1;

constexpr uint32_t kBootKeyReg = 0x4B005000;
constexpr uint32_t kAppKeyReg = 0x4B0048B0;
constexpr uint32_t kAesKeyReg = 0x4B0057E0;
constexpr uint32_t kChipModelReg = 0x4B004800;
constexpr uint32_t kOtaKeyReg = 0x4B004810;
constexpr uint32_t kOtaIvReg = 0x4B004838;
constexpr size_t kAesWords = 8;
constexpr const char* kWriterName = "CQN_WIFI_5850::Do_QnWriteSecureBoot";

constexpr unsigned kWordPauseMs = 50;
constexpr unsigned kPowerPauseMs = 50;
constexpr unsigned kEnablePauseMs = 100;

std::string trimmed(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
    return text.substr(a, b - a);
}

// A word of hexadecimal text (an optional "0x"): false for anything else,
// or a value that does not fit 32 bits.
bool hex_word(const std::string& text, uint32_t& value) {
    std::string t = trimmed(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.erase(0, 2);
    if (t.empty()) return false;
    uint64_t v = 0;
    for (char c : t) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = v << 4 | uint64_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
        if (v > 0xFFFFFFFFull) return false;
    }
    value = uint32_t(v);
    return true;
}

// Up to four characters; their codes land in the register in text order,
// the first in the lowest byte, a shorter word in the upper bytes.
bool text_word(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 4) return false;
    const std::string hex = text_to_hex(text);
    uint32_t v = 0;
    if (!hex_word(hex, v)) return false;
    value = (v >> 24) | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | (v << 24);
    return true;
}

uint32_t bytes_between(uint32_t from, uint32_t to) { return (to - from) / 4; }

struct Source {
    const char* name;       // for messages
    const char* empty_msg;  // option text empty
    int empty_code;
    int none_code;  // no words, or a word that cannot be written
};

// Converts the words of an item; false (with a message) on a bad one.
bool convert(const Source& s, const std::vector<std::string>& texts, bool as_text, size_t max_words,
             std::vector<uint32_t>& words, int& code) {
    if (texts.size() > max_words) {
        job_log(LOG_ERROR, "%s has %zu words, at most %zu fit before the next key", s.name, texts.size(),
                max_words);
        code = s.none_code;
        return false;
    }
    for (size_t k = 0; k < texts.size(); ++k) {
        uint32_t w = 0;
        if (!(as_text ? text_word(texts[k], w) : hex_word(texts[k], w))) {
            job_log(LOG_ERROR, as_text ? "%s word %zu \"%s\" is not 1 to 4 characters"
                                       : "%s word %zu \"%s\" is not a hexadecimal 32-bit number",
                    s.name, k, texts[k].c_str());
            code = s.none_code;
            return false;
        }
        words.push_back(w);
    }
    return true;
}

// The texts of an item: from the file, or the option cut at ",". An empty
// option text logs its message and gives its code.
bool item_texts(bool from_file, const std::vector<std::string>& file_words, const std::string& option,
                const Source& s, std::vector<std::string>& texts, int& code) {
    if (from_file) {
        texts = file_words;
        return true;
    }
    if (option.empty()) {
        job_log(LOG_INFO, "%s", s.empty_msg);
        code = s.empty_code;
        return false;
    }
    texts = split(option, ",");
    return true;
}

int set_bit(Download* job, CBootIntf& link, uint32_t reg, uint32_t bit, bool on, int read_code, int write_code) {
    uint32_t value = 0;
    if (job->ReadRegister(link, reg, value) < 1) return read_code;
    value = on ? (value | bit) : (value & ~bit);
    if (job->WriteRegister(link, reg, value) < 1) return write_code;
    return 1;
}

}  // namespace

int collect_secure_boot_keys(const Download& job, const std::string& efuse_file, SecureBootKeys& keys) {
    keys.items.clear();
    const bool file = !efuse_file.empty() && file_exists(efuse_file);
    int code = 1;

    // Boot public key and application public key: hexadecimal words, read back.
    {
        const Source s{"boot public key", "public_Key is empty!\n", -6, -61};
        std::vector<std::string> from_file, texts;
        if (file) ini_read_list(efuse_file, "boot_key", "public_key", from_file);
        if (!item_texts(file, from_file, job.m_public_key, s, texts, code)) return code;
        if (texts.empty()) return s.none_code;
        SecureBootKeyItem item{s.name, kBootKeyReg, {}, true, true, -7, -8, -9, 0};
        if (!convert(s, texts, false, bytes_between(kBootKeyReg, kAesKeyReg), item.words, code)) return code;
        keys.items.push_back(item);
    }
    {
        const Source s{"application public key", "m_app_public_key is empty!\n", -10, -101};
        std::vector<std::string> from_file, texts;
        if (file) ini_read_list(efuse_file, "boot_app_key", "app_public_key", from_file);
        if (!item_texts(file, from_file, job.m_app_public_key, s, texts, code)) return code;
        if (texts.empty()) return s.none_code;
        SecureBootKeyItem item{s.name, kAppKeyReg, {}, true, true, -11, -12, -13, 109};
        if (!convert(s, texts, false, bytes_between(kAppKeyReg, kBootKeyReg), item.words, code)) return code;
        keys.items.push_back(item);
    }
    // AES key: exactly eight words, each half of four written in reverse.
    {
        const Source s{"AES key", "m_aes_key is empty!\n", -14, -15};
        std::vector<std::string> texts;
        const std::vector<std::string> from_file =
            file ? ini_read_key_words(efuse_file, "aes_key", "aes_key", 8) : std::vector<std::string>{};
        if (!item_texts(file, from_file, job.m_aes_key, s, texts, code)) return code;
        if (texts.size() != kAesWords) {
            job_log(LOG_INFO, "m_aes_key isn`t equal with 8!\n");
            return -15;
        }
        std::vector<uint32_t> words;
        if (!convert(s, texts, false, kAesWords, words, code)) return code;
        SecureBootKeyItem item{s.name, kAesKeyReg, {}, true, true, -16, -17, -18, 163};
        for (size_t k : {3, 2, 1, 0, 7, 6, 5, 4}) item.words.push_back(words[k]);
        keys.items.push_back(item);
    }
    // Chip model: one hexadecimal word, not read back.
    {
        const Source s{"chip model", "m_schipmodel is empty!\n", -14, -19};
        std::vector<std::string> texts;
        if (file) {
            texts = {ini_read_value(efuse_file, "chip_model", "chipmodel")};
        } else if (job.m_schipmodel.empty()) {
            job_log(LOG_INFO, "%s", s.empty_msg);
            return s.empty_code;
        } else {
            texts = {job.m_schipmodel};
        }
        SecureBootKeyItem item{s.name, kChipModelReg, {}, false, false, -19, 0, 0, 0};
        if (!convert(s, texts, false, 1, item.words, code)) return code;
        keys.items.push_back(item);
    }
    // OTA key and initialisation vector: words of four characters, not read back.
    {
        const Source s{"OTA key", "m_ota_key is empty!\n", -20, -21};
        std::vector<std::string> texts;
        const std::vector<std::string> from_file =
            file ? ini_read_key_words(efuse_file, "OTA_key", "OTA_key", 4) : std::vector<std::string>{};
        if (!item_texts(file, from_file, job.m_ota_key, s, texts, code)) return code;
        if (texts.empty()) return s.none_code;
        SecureBootKeyItem item{s.name, kOtaKeyReg, {}, false, true, -22, 0, 0, 0};
        if (!convert(s, texts, true, bytes_between(kOtaKeyReg, kOtaIvReg), item.words, code)) return code;
        keys.items.push_back(item);
    }
    {
        const Source s{"OTA initialisation vector", "m_ota_iv is empty!\n", -23, -24};
        std::vector<std::string> texts;
        const std::vector<std::string> from_file =
            file ? ini_read_key_words(efuse_file, "OTA_IV", "OTA_IV", 4) : std::vector<std::string>{};
        if (!item_texts(file, from_file, job.m_ota_iv, s, texts, code)) return code;
        if (texts.empty()) return s.none_code;
        SecureBootKeyItem item{s.name, kOtaIvReg, {}, false, true, -25, 0, 0, 0};
        if (!convert(s, texts, true, bytes_between(kOtaIvReg, kAppKeyReg), item.words, code)) return code;
        keys.items.push_back(item);
    }
    return 1;
}

int write_secure_boot_keys(Download* job, const SecureBootKeys& keys, const FlashWaits& waits) {
    CBootIntf link(&job->m_uart);
    int r = set_bit(job, link, kPowerReg, kPowerBit, true, -2, -3);
    if (r < 1) return r;
    waits.pause(kPowerPauseMs);
    r = set_bit(job, link, kOtpEnableReg, kOtpEnableBit, true, -4, -5);
    if (r < 1) return r;
    waits.pause(kEnablePauseMs);

    for (const SecureBootKeyItem& item : keys.items) {
        for (size_t k = 0; k < item.words.size(); ++k) {
            const uint32_t reg = item.first_register + uint32_t(4 * k);
            const uint32_t word = item.words[k];
            if (job->WriteRegister(link, reg, word) < 1) return item.write_code;
            if (item.read_back) {
                uint32_t got = 0;
                if (job->ReadRegister(link, reg, got) < 1) return item.read_code;
                if (got != word) {
                    if (item.mismatch_line == 0)
                        job_log(LOG_ERROR, "Write = 0x%x , Read = 0x%x\n", word, got);
                    else
                        job_log(LOG_ERROR, "Write = 0x%x , Read = 0x%x -> %s : %d\n", word, got, kWriterName,
                                item.mismatch_line);
                    job_log(LOG_INFO, "Write Public_key data is different with Read!\n");
                    return item.mismatch_code;
                }
            }
            if (item.pause_after_word) waits.pause(kWordPauseMs);
        }
    }

    r = set_bit(job, link, kPowerReg, kPowerBit, false, -26, -27);
    if (r < 1) return r;
    return set_bit(job, link, kOtpEnableReg, kOtpEnableBit, false, -28, -29);
}

int write_secure_boot(Download* job, const std::string& efuse_file, const FlashWaits& waits) {
    if (!job || !job->m_uart.is_open()) {
        job_log(LOG_INFO, "SWDL_Link2UartPort");
        return -1;
    }
    SecureBootKeys keys;
    const int collected = collect_secure_boot_keys(*job, efuse_file, keys);
    if (collected != 1) return collected;
    return write_secure_boot_keys(job, keys, waits);
}
