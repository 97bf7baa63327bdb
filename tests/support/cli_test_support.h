#pragma once

// Helpers of the command-line tests: running the real tolvar-split with chosen arguments,
// standard input and working folder, either on plain files or on a pseudo-terminal.

#include "files.h"
#include "scratch_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tolvar::clitest {

namespace fs = std::filesystem;

using testing::exists;
using testing::randomBytes;
using testing::readFile;
using testing::ScratchDir;
using testing::writeFile;

struct RunResult {
    int status = -1; // the exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

inline std::string program() {
    return TOLVAR_SPLIT_PATH;
}

// The program and its arguments as the NULL-terminated array exec and posix_spawn take.
class CommandLine {
public:
    explicit CommandLine(const std::vector<std::string>& args) : strings{program()} {
        strings.insert(strings.end(), args.begin(), args.end());
        for (std::string& arg : strings)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
    }
    char* const* argv() { return pointers.data(); }

private:
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// Runs tolvar-split with args; standard input is the text given (a file, so never a
// terminal), standard output and error are captured. cwd, when not empty, is the working
// folder of the program.
inline RunResult runProgram(const std::vector<std::string>& args, const std::string& input = "",
                            const std::string& cwd = "") {
    ScratchDir io;
    const std::string inPath = io.path("stdin");
    const std::string outPath = io.path("stdout");
    const std::string errPath = io.path("stderr");
    writeFile(inPath, input);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    CommandLine commandLine(args);
    char* const* argv = commandLine.argv();

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(spawned));

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    RunResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

// Whether this machine can hand out a pseudo-terminal (some minimal containers cannot).
inline bool terminalsAvailable() {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

// Runs tolvar-split on a pseudo-terminal, so both standard input and standard error are a
// terminal. Each time the output so far contains the next prompt of answers, the matching
// reply is typed. Everything the terminal showed is returned in err (out stays empty, since
// both streams share the terminal). Gives up after ten seconds of silence.
struct TerminalReply {
    std::string whenShown; // wait until the output contains this
    std::string typed;     // then type this
};

inline RunResult runOnTerminal(const std::vector<std::string>& args,
                               const std::vector<TerminalReply>& replies) {
    CommandLine commandLine(args);
    char* const* argv = commandLine.argv();

    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        throw std::runtime_error(std::string("forkpty: ") + std::strerror(errno));
    if (pid == 0) {
        execv(argv[0], argv);
        _exit(127);
    }

    RunResult result;
    std::size_t nextReply = 0;
    std::size_t searchFrom = 0;
    bool silent = false;
    for (;;) {
        if (nextReply < replies.size()) {
            const std::size_t at = result.err.find(replies[nextReply].whenShown, searchFrom);
            if (at != std::string::npos) {
                searchFrom = at + replies[nextReply].whenShown.size();
                const std::string& typed = replies[nextReply].typed;
                if (write(master, typed.data(), typed.size()) < 0)
                    break;
                ++nextReply;
                continue;
            }
        }
        pollfd watch{master, POLLIN, 0};
        const int ready = poll(&watch, 1, 10000);
        if (ready <= 0) {
            silent = true;
            break;
        }
        char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // EIO once the program has closed its end
        result.err.append(buffer, static_cast<std::size_t>(got));
    }
    close(master);
    int wstatus = 0;
    if (silent)
        kill(pid, SIGKILL);
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return result;
}

} // namespace tolvar::clitest
