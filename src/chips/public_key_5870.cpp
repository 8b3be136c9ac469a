#include "chips/public_key_5870.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "flash/flash_waits.h"
#include "job/download.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint32_t kLayoutReg = 0x802740;  // bit 31 set while the key is written
constexpr uint32_t kKeyAccessBit = 0x80000000;
constexpr uint32_t kDeviceIdReg = 0x800004;
constexpr uint32_t kKeyEnableReg = 0x802010;  // bit 27 set before the key is written
constexpr uint32_t kKeyEnableBit = 0x08000000;
constexpr uint32_t kKeyReg = 0xD02000;
constexpr size_t kKeyWords = 16;
constexpr unsigned kWordPauseMs = 50;
// The device id an eFuse file stands for when its DeviceID entry is empty.
constexpr const char* kDefaultDeviceId = "0x21650820";

bool all_of(const std::string& t, size_t from, int (*is)(int)) {
    if (from >= t.size()) return false;
    for (size_t i = from; i < t.size(); ++i)
        if (!is(static_cast<unsigned char>(t[i]))) return false;
    return true;
}

// A device id text as the number reader takes it: decimal, or hexadecimal
// after "0x"; empty reads as 0. False for anything that reader would cut short.
bool device_id_text_ok(const std::string& t) {
    if (t.empty()) return true;
    const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
    const bool ok = hex ? all_of(t, 2, isxdigit) && t.size() <= 10 : all_of(t, 0, isdigit);
    return ok && uint64_t(parse_number(t)) <= 0xFFFFFFFFull;
}

bool key_word_ok(const std::string& t, uint32_t& value) {
    size_t from = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X') ? 2 : 0;
    if (!all_of(t, from, isxdigit) || t.size() - from > 8) return false;
    value = uint32_t(std::strtoul(t.c_str(), nullptr, 16));
    return true;
}

// The ids and words the step uses; 0 (with a message) for an input that
// cannot be used, 1 otherwise.
int collect_inputs(const Download& job, const std::string& efuse_file, uint32_t& expected,
                   std::vector<uint32_t>& words) {
    std::string id_text;
    if (!efuse_file.empty()) {
        id_text = ini_read_value(efuse_file, "security_boot", "DeviceID");
        if (id_text.empty()) id_text = kDefaultDeviceId;
    } else {
        id_text = job.m_device_id;
    }
    if (!device_id_text_ok(id_text)) {
        job_log(LOG_ERROR, "Device id \"%s\" is not a number (write 0x for hexadecimal)", id_text.c_str());
        return 0;
    }
    expected = uint32_t(parse_number(id_text));

    std::vector<std::string> texts;
    if (!efuse_file.empty() && file_exists(efuse_file)) {
        ini_read_list(efuse_file, "boot_key", "public_key", texts);
    } else {
        if (job.m_public_key.empty()) {
            job_log(LOG_INFO, "public_Key is empty!\n");
            return 0;
        }
        texts = split(job.m_public_key, ",");
    }
    if (texts.size() != kKeyWords) {
        job_log(LOG_ERROR, "The public key needs %zu words, %zu are given", kKeyWords, texts.size());
        return 0;
    }
    for (size_t k = 0; k < texts.size(); ++k) {
        uint32_t w = 0;
        if (!key_word_ok(texts[k], w)) {
            job_log(LOG_ERROR, "Public key word %zu \"%s\" is not a hexadecimal 32-bit number", k, texts[k].c_str());
            return 0;
        }
        words.push_back(w);
    }
    return 1;
}

void log_short(const char* format, uint32_t a, uint32_t b) {
    // These lines are formatted into 64 bytes before they are logged.
    char line[64];
    std::snprintf(line, sizeof line, format, a, b);
    job_log(LOG_INFO, "%s", line);
}

}  // namespace

int write_public_key_5870(Download* job, const std::string& efuse_file, const FlashWaits& waits) {
    if (!job || !job->m_uart.is_open()) {
        job_log(LOG_INFO, "SWDL_Link2UartPort");
        return -1;
    }
    uint32_t expected = 0;
    std::vector<uint32_t> words;
    if (collect_inputs(*job, efuse_file, expected, words) != 1) return 0;

    CBootIntf link(&job->m_uart);
    uint32_t value = 0;
    if (job->ReadRegister(link, kLayoutReg, value) < 1) return -1;
    if (job->WriteRegister(link, kLayoutReg, value | kKeyAccessBit) < 1) return -2;

    uint32_t device_id = 0;
    if (job->ReadRegister(link, kDeviceIdReg, device_id) < 1) return -1;
    log_short("Defalut = 0x%x , Read = 0x%x\n", expected, device_id);
    if (device_id != expected) {
        job_log(LOG_INFO, "Write Device_ID data is different with Read!\n Defalut = 0x%x , Read = 0x%x\n", expected,
                device_id);
        return 0;
    }

    if (job->ReadRegister(link, kKeyEnableReg, value) < 1) return -3;
    if (job->WriteRegister(link, kKeyEnableReg, value | kKeyEnableBit) < 1) return -4;

    for (size_t k = 0; k < kKeyWords; ++k) {
        const uint32_t reg = kKeyReg + uint32_t(4 * k);
        if (job->WriteRegister(link, reg, words[k]) < 1) return -2;
        uint32_t got = 0;
        if (job->ReadRegister(link, reg, got) < 1) return -3;
        log_short("Write = 0x%x , Read = 0x%x\n", words[k], got);
        if (got != words[k]) {
            job_log(LOG_INFO, "Write Public_key data is different with Read!\n");
            return 0;
        }
        waits.pause(kWordPauseMs);
    }

    if (job->ReadRegister(link, kLayoutReg, value) < 1) return -1;
    if (job->WriteRegister(link, kLayoutReg, value & ~kKeyAccessBit) < 1) return -2;
    return 1;
}
