#include "program_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

// A temporary file that is removed with the object.
struct TempFile {
    std::string path;
    TempFile() {
        char name[] = "/tmp/tesk_frontend_XXXXXX";
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
    std::string contents() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

}  // namespace

ProgramResult run_loader(const std::vector<std::string>& args) {
    ProgramResult result;
    TempFile out_file;
    TempFile err_file;
    if (out_file.path.empty() || err_file.path.empty()) {
        return result;
    }

    std::vector<std::string> words{TESK_LOADER_PATH};
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

    pid_t pid = 0;
    const int spawn_error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawn_error != 0) {
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return result;
        }
    }
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    }
    result.out = out_file.contents();
    result.err = err_file.contents();
    return result;
}
