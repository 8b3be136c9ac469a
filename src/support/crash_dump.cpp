// Crash dump on POSIX: a fatal signal leaves "CrashDump.dmp" in the current
// directory with the signal and a backtrace, then the signal is raised again
// so the usual crash handling (core file, exit status) still happens.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "support/util.h"

namespace {

const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void write_text(int fd, const char* text) {
    ssize_t ignored = write(fd, text, strlen(text));
    (void)ignored;
}

// Only async-signal-safe calls from here on.
void write_crash_dump(int signal_number) {
    int fd = open("CrashDump.dmp", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        char number[16];
        int n = signal_number, len = 0;
        char digits[16];
        do {
            digits[len++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n > 0 && len < 15);
        for (int i = 0; i < len; ++i) number[i] = digits[len - 1 - i];
        number[len] = '\0';
        write_text(fd, "signal ");
        write_text(fd, number);
        write_text(fd, " (");
        write_text(fd, sigabbrev_np(signal_number) ? sigabbrev_np(signal_number) : "?");
        write_text(fd, ")\nbacktrace:\n");
        void* frames[64];
        int count = backtrace(frames, 64);
        backtrace_symbols_fd(frames, count, fd);
        close(fd);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

void install_crash_dump() {
    // backtrace() loads its unwinder lazily; do it now, not inside the handler.
    void* warm[1];
    backtrace(warm, 1);
    struct sigaction action {};
    action.sa_handler = write_crash_dump;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int s : kFatalSignals) sigaction(s, &action, nullptr);
}
