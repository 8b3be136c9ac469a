// Scratch files and console capture for the job tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/log.h"

using Bytes = std::vector<uint8_t>;

// A scratch directory per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tesk_job_XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) m_path = buffer.data();
    }
    ~ScratchDir() {
        std::error_code error;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return m_path + "/" + name; }

    std::string write(const std::string& name, const Bytes& bytes) const {
        std::string full = file(name);
        std::ofstream out(full, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return full;
    }
    // A file of `size` zero bytes that takes no disk space.
    std::string write_sparse(const std::string& name, uint64_t size) const {
        std::string full = file(name);
        { std::ofstream out(full, std::ios::binary); }
        std::filesystem::resize_file(full, size);
        return full;
    }

private:
    std::string m_path;
};

// `size` bytes of a pattern that differs per seed.
inline Bytes pattern_bytes(size_t size, uint8_t seed = 0) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + seed + (i >> 8));
    return bytes;
}

// Collects what job_log prints to the console while it lives.
class ConsoleCapture {
public:
    ConsoleCapture() : m_file(std::tmpfile()) { log_set_console(m_file); }
    ~ConsoleCapture() {
        log_set_console(nullptr);
        if (m_file) std::fclose(m_file);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string text() const {
        if (!m_file) return {};
        std::fflush(m_file);
        long end = std::ftell(m_file);
        std::string out(size_t(end > 0 ? end : 0), '\0');
        std::rewind(m_file);
        size_t got = std::fread(out.data(), 1, out.size(), m_file);
        out.resize(got);
        std::fseek(m_file, 0, SEEK_END);
        return out;
    }

private:
    FILE* m_file;
};
