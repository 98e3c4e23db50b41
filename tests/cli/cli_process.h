// Runs the program itself, for what only a process shows: signals, closed
// pipes and descriptors. POSIX only.
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/cli_run.h"

namespace wxr::cli {

// Runs wxr7305 with stdout and stderr in one pipe, after `prepare` ran in the child.
template <typename Prepare>
std::pair<pid_t, int> spawn_prepared(const std::vector<std::string>& args, Prepare prepare) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {-1, -1};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        prepare();
        std::vector<char*> argv{const_cast<char*>(WXR7305_PROGRAM)};
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    return {pid, pipe_fds[0]};
}

inline std::pair<pid_t, int> spawn(const std::vector<std::string>& args) {
    return spawn_prepared(args, [] {});
}

// Reads the child's output byte by byte until `until` shows up (or the output ends):
// nothing after it is taken from the pipe.
inline std::string read_until(int fd, const std::string& until) {
    std::string text;
    char c;
    while (!contains(text, until) && read(fd, &c, 1) == 1) text += c;
    return text;
}

inline int exit_status(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace wxr::cli
#endif
