// Scratch files and console capture for the job tests.
#pragma once

#include "console_capture.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// The run log of this test program: the log handles are process-wide and
// open once, so every test reads only what was added since its mark.
class RunLogFile {
public:
    static RunLogFile& instance() {
        static RunLogFile file;
        return file;
    }
    size_t mark() const { return std::filesystem::file_size(m_path); }
    std::string since(size_t mark) const {
        std::ifstream in(m_path, std::ios::binary);
        in.seekg(std::streamoff(mark));
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    RunLogFile() {
        m_path = (std::filesystem::temp_directory_path() / ("tesk_job_run_" + std::to_string(getpid()) + ".log")).string();
        log_open(m_path);
        std::atexit([] { std::remove(instance().m_path.c_str()); });
    }
    std::string m_path;
};

// Where the messages are missing or out of order in text ("" when all are
// there in this order, each on a line of its own after the time stamp).
inline std::string order_problem(const std::string& text, const std::vector<std::string>& messages) {
    size_t at = 0;
    for (const std::string& m : messages) {
        const std::string line = "    " + m + "\n";
        size_t found = text.find(line, at);
        if (found == std::string::npos) {
            return "\"" + m + "\" missing " + (text.find(line) == std::string::npos ? "" : "at its place ") +
                   "in:\n" + text;
        }
        at = found + line.size();
    }
    return "";
}

inline size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}
