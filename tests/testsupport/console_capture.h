// Captures what job_log and the progress line print to the console, for the
// life of the object.
#pragma once

#include <cstdio>
#include <string>

#include "support/log.h"

class ConsoleCapture {
public:
    ConsoleCapture() : m_file(std::tmpfile()) { log_set_console(m_file); }
    ~ConsoleCapture() {
        log_set_console(nullptr);
        if (m_file) std::fclose(m_file);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Everything printed so far.
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
    bool has(const std::string& piece) const { return text().find(piece) != std::string::npos; }

private:
    FILE* m_file;
};
