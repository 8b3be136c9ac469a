#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

// A temporary file that is removed with the object.
struct TempFile {
    std::string path;
    TempFile() {
        char name[] = "/tmp/tesk_program_run_XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) {
            close(fd);
            path = name;
        }
    }
    ~TempFile() {
        if (!path.empty()) {
            std::remove(path.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    std::string contents() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

// Waits for the child, killing it once the deadline has passed.
bool wait_child(pid_t pid, int timeout_ms, int& status, bool& timed_out) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return false;
        if (Clock::now() >= deadline) {
            timed_out = true;
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0) {
                if (errno != EINTR) return false;
            }
            return true;
        }
        std::this_thread::sleep_for(pause);
        // Short runs are seen at once; long ones are not polled busily.
        if (pause < std::chrono::milliseconds(20)) pause *= 2;
    }
}

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const RunOptions& options) {
    ProgramResult result;
    TempFile out_file;
    TempFile err_file;
    if (out_file.path.empty() || err_file.path.empty()) {
        return result;
    }

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.path.c_str(), O_WRONLY | O_TRUNC, 0);
    if (!options.cwd.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    }

    pid_t pid = 0;
    const int spawn_error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawn_error != 0) {
        result.err = "cannot start " + program;
        return result;
    }
    int status = 0;
    if (!wait_child(pid, options.timeout_ms, status, result.timed_out)) {
        return result;
    }
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    }
    result.out = out_file.contents();
    result.err = err_file.contents();
    return result;
}
