#include "support/log.h"

#include <chrono>
#include <cstdarg>
#include <ctime>

namespace {

const char kSeparator[] = "\n\n\n=====================================================================\n";

struct LogFile {
    FILE* stream = nullptr;
    bool tried = false;
};

LogFile g_run_log;
LogFile g_traffic_log;
FILE* g_console = nullptr;

FILE* console() { return g_console ? g_console : stdout; }

void open_once(LogFile& log, const std::string& path) {
    if (log.stream) return;
    log.stream = std::fopen(path.c_str(), "a");
    if (!log.stream) {
        std::printf("open file %s failed\n", path.c_str());
        std::fflush(stdout);
        return;
    }
    std::fputs(kSeparator, log.stream);
    std::fflush(log.stream);
}

// Local wall-clock time with milliseconds, as "YYYY-MM-DD hh:mm:ss.mmm".
void format_now(char* out, size_t size) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms);
}

// One write per line keeps lines of different threads whole.
void write_line(FILE* stream, const char* text, size_t length) {
    std::fwrite(text, 1, length, stream);
    std::fflush(stream);
}

}  // namespace

void log_open(const std::string& path) { open_once(g_run_log, path); }
bool log_is_open() { return g_run_log.stream != nullptr; }

void traffic_log_open(const std::string& path) { open_once(g_traffic_log, path); }
bool traffic_log_is_open() { return g_traffic_log.stream != nullptr; }

void log_set_console(FILE* stream) { g_console = stream; }

void log_printf(const char* format, ...) {
    if (!g_run_log.stream) return;
    char text[1026];
    text[0] = ' ';
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text + 1, 1025, format, args);
    va_end(args);
    if (n < 0) return;
    size_t length = 1 + std::min<size_t>(static_cast<size_t>(n), 1024);
    write_line(g_run_log.stream, text, length);
}

void job_log(int level, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0) message[0] = '\0';

    char stamp[64];
    format_now(stamp, sizeof stamp);
    char line[1024];
    int length = std::snprintf(line, sizeof line - 1, "%s    %s", stamp, message);
    if (length < 0) return;
    size_t used = std::min<size_t>(static_cast<size_t>(length), sizeof line - 2);
    line[used++] = '\n';
    line[used] = '\0';

    if (level != LOG_DETAIL) write_line(console(), line, used);
    // Through "%s" so a percent sign in the message stays text.
    log_printf("%s", line);
}

void log_hex_dump(const uint8_t* data, const char* tag, size_t length) {
    if (!g_traffic_log.stream) return;
    size_t count = std::min<size_t>(length, 128);
    char hex[128 * 3 + 1];
    for (size_t i = 0; i < count; ++i) std::snprintf(hex + i * 3, 4, "%02x ", data[i]);
    hex[count * 3] = '\0';
    char stamp[64];
    format_now(stamp, sizeof stamp);
    char line[700];
    int length_out = std::snprintf(line, sizeof line, "%s [%3s]    %s\n", stamp, tag, hex);
    if (length_out > 0) write_line(g_traffic_log.stream, line, std::min<size_t>(length_out, sizeof line - 1));
}

void show_progress(const char* text, int percent) {
    FILE* out = console();
    std::fprintf(out, "%s ... %d%%\r", text, percent);
    std::fflush(out);
}

void show_erase_progress(int percent) { show_progress("Erasing Flash", percent); }
