#include "sim_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <vector>

namespace sim {

namespace fs = std::filesystem;

namespace {

std::string join(const std::string& dir, const char* name) { return (fs::path(dir) / name).string(); }

bool read_all(const std::string& path, std::vector<uint8_t>& out, bool& present, std::string& error) {
    std::error_code ec;
    present = fs::exists(path, ec);
    if (!present) return true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool write_atomic(const std::string& path, const void* data, size_t length, std::string& error) {
    std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = length == 0 || std::fwrite(data, 1, length, f) == length;
    ok = (std::fflush(f) == 0) && ok;
    ok = (fsync(fileno(f)) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool write_text(const std::string& path, const std::string& text, std::string& error) {
    return write_atomic(path, text.data(), text.size(), error);
}

// "key value" lines with hexadecimal or decimal values.
bool parse_key_values(const std::string& text, std::map<std::string, uint32_t>& out) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        std::string key, value;
        if (!(ls >> key >> value)) return false;
        char* end = nullptr;
        unsigned long v = std::strtoul(value.c_str(), &end, 0);
        if (!end || *end) return false;
        out[key] = uint32_t(v);
    }
    return true;
}

}  // namespace

bool read_state_info(const std::string& dir, StateInfo& info, std::string& error) {
    info = StateInfo{};
    std::vector<uint8_t> text;
    bool present = false;
    if (!read_all(join(dir, "flash.txt"), text, present, error)) return false;
    if (present) {
        std::map<std::string, uint32_t> kv;
        if (!parse_key_values(std::string(text.begin(), text.end()), kv) || !kv.count("mid")) {
            error = join(dir, "flash.txt") + ": not a flash description";
            return false;
        }
        info.has_flash = true;
        info.flash_mid = kv["mid"];
    }
    std::error_code ec;
    std::string efuse = join(dir, "efuse.bin");
    if (fs::exists(efuse, ec)) {
        info.has_efuse = true;
        info.efuse_size = size_t(fs::file_size(efuse, ec));
    }
    return true;
}

bool load_state(const std::string& dir, VirtualChip& chip, std::string& error) {
    SpiFlash& flash = chip.flash();
    char buf[200];

    // Read and check everything first; change the chip only when all of it fits.
    std::vector<uint8_t> flash_text, flash_bin, security, efuse, registers;
    bool has_text = false, has_bin = false, has_security = false, has_efuse = false, has_registers = false;
    if (!read_all(join(dir, "flash.txt"), flash_text, has_text, error) ||
        !read_all(join(dir, "flash.bin"), flash_bin, has_bin, error) ||
        !read_all(join(dir, "flash_security.bin"), security, has_security, error) ||
        !read_all(join(dir, "efuse.bin"), efuse, has_efuse, error) ||
        !read_all(join(dir, "registers.txt"), registers, has_registers, error))
        return false;

    std::map<std::string, uint32_t> kv;
    if (has_text) {
        if (!parse_key_values(std::string(flash_text.begin(), flash_text.end()), kv) || !kv.count("mid")) {
            error = join(dir, "flash.txt") + ": not a flash description";
            return false;
        }
        if (kv["mid"] != flash.model().mid) {
            snprintf(buf, sizeof buf, "%s holds flash 0x%06X, but the chip carries 0x%06X (%s)", dir.c_str(),
                     kv["mid"], flash.model().mid, flash.model().name);
            error = buf;
            return false;
        }
    }
    if (has_bin && flash_bin.size() != flash.capacity()) {
        snprintf(buf, sizeof buf, "%s is %zu bytes, the flash holds %u", join(dir, "flash.bin").c_str(),
                 flash_bin.size(), flash.capacity());
        error = buf;
        return false;
    }
    if (has_security && security.size() % (4 + SpiFlash::kSecurityPageSize) != 0) {
        error = join(dir, "flash_security.bin") + ": truncated";
        return false;
    }
    if (has_efuse && efuse.size() != chip.efuse().size()) {
        snprintf(buf, sizeof buf, "%s is %zu bytes, the eFuse holds %zu", join(dir, "efuse.bin").c_str(), efuse.size(),
                 chip.efuse().size());
        error = buf;
        return false;
    }
    std::map<uint32_t, uint32_t> words;
    if (has_registers) {
        std::istringstream in(std::string(registers.begin(), registers.end()));
        std::string a, v;
        while (in >> a >> v) {
            char *ea = nullptr, *ev = nullptr;
            unsigned long address = std::strtoul(a.c_str(), &ea, 0);
            unsigned long value = std::strtoul(v.c_str(), &ev, 0);
            if (*ea || *ev) {
                error = join(dir, "registers.txt") + ": bad line near \"" + a + " " + v + "\"";
                return false;
            }
            words[uint32_t(address) & ~3u] = uint32_t(value);
        }
    }

    if (has_bin) flash.contents() = flash_bin;
    if (has_text) {
        const char* keys[3] = {"sr1", "sr2", "sr3"};
        for (int i = 0; i < 3; ++i)
            if (kv.count(keys[i])) flash.set_status_register(i, uint8_t(kv[keys[i]]));
    }
    if (has_security) {
        flash.security_pages().clear();
        for (size_t at = 0; at < security.size(); at += 4 + SpiFlash::kSecurityPageSize) {
            uint32_t page = uint32_t(security[at]) | (uint32_t(security[at + 1]) << 8) |
                            (uint32_t(security[at + 2]) << 16) | (uint32_t(security[at + 3]) << 24);
            SpiFlash::SecurityPage bytes;
            std::memcpy(bytes.data(), &security[at + 4], bytes.size());
            flash.security_pages()[page] = bytes;
        }
    }
    if (has_efuse) chip.efuse().bytes() = efuse;
    if (has_registers) chip.registers().memory() = words;
    return true;
}

bool save_state(const std::string& dir, VirtualChip& chip, std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    SpiFlash& flash = chip.flash();
    char buf[64];
    std::string text;
    snprintf(buf, sizeof buf, "mid 0x%06X\n", flash.model().mid);
    text += buf;
    for (int i = 0; i < flash.model().status_regs; ++i) {
        snprintf(buf, sizeof buf, "sr%d 0x%02X\n", i + 1, flash.status_register(i));
        text += buf;
    }
    std::vector<uint8_t> security;
    for (const auto& [page, bytes] : flash.security_pages()) {
        for (int i = 0; i < 4; ++i) security.push_back(uint8_t(page >> (8 * i)));
        security.insert(security.end(), bytes.begin(), bytes.end());
    }
    std::string registers;
    for (const auto& [address, value] : chip.registers().memory()) {
        snprintf(buf, sizeof buf, "0x%08X 0x%08X\n", address, value);
        registers += buf;
    }
    return write_atomic(join(dir, "flash.bin"), flash.contents().data(), flash.contents().size(), error) &&
           write_text(join(dir, "flash.txt"), text, error) &&
           write_atomic(join(dir, "flash_security.bin"), security.data(), security.size(), error) &&
           write_atomic(join(dir, "efuse.bin"), chip.efuse().bytes().data(), chip.efuse().size(), error) &&
           write_text(join(dir, "registers.txt"), registers, error);
}

StateDirLock::~StateDirLock() {
    if (m_fd >= 0) close(m_fd);
}

bool StateDirLock::acquire(const std::string& dir, std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    std::string path = join(dir, "lock");
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        error = dir + " is in use by another simulator";
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

}  // namespace sim
