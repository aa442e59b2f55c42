#include "controls/linux/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace crenovix {

namespace {

using Clock = std::chrono::steady_clock;

class CSpawnSetup {
public:
    CSpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~CSpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    CSpawnSetup(const CSpawnSetup&) = delete;
    CSpawnSetup& operator=(const CSpawnSetup&) = delete;

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

void ReapNow(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Polls the child until it ends or `end` has passed.
SExit PollExit(pid_t pid, Clock::time_point end) {
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) {
                return {SExit::EState::Exited, WEXITSTATUS(status)};
            }
            return {SExit::EState::Signalled, 0};
        }
        if (done < 0 && errno != EINTR) {
            return {SExit::EState::Lost, 0};
        }
        if (Clock::now() >= end) {
            return {SExit::EState::StillRunning, 0};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

SChild StartProgram(const std::vector<std::string>& argv, int stdoutFd) {
    if (argv.empty()) {
        return {-1, ENOENT};
    }
    CSpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&setup.actions_, stdoutFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&setup.actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes_, &none);
    posix_spawnattr_setsigdefault(&setup.attributes_, &all);
    posix_spawnattr_setpgroup(&setup.attributes_, 0);
    posix_spawnattr_setflags(&setup.attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                     POSIX_SPAWN_SETPGROUP);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    pid_t pid = -1;
    const int error =
        posix_spawnp(&pid, args[0], &setup.actions_, &setup.attributes_, args.data(), environ);
    if (error != 0) {
        return {-1, error};
    }
    return {pid, 0};
}

SExit WaitForExit(pid_t pid, std::chrono::milliseconds wait) {
    const SExit exit = PollExit(pid, Clock::now() + wait);
    if (exit.state == SExit::EState::StillRunning) {
        ReapInBackground(pid);
    }
    return exit;
}

void ReapInBackground(pid_t pid) {
    std::thread([pid] { ReapNow(pid); }).detach();
}

std::optional<std::string> RunForOutput(const std::vector<std::string>& argv,
                                        std::chrono::milliseconds wait, std::size_t maxBytes) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const SChild child = StartProgram(argv, pipeFds[1]);
    ::close(pipeFds[1]);
    if (child.error != 0) {
        ::close(pipeFds[0]);
        return std::nullopt;
    }

    const Clock::time_point end = Clock::now() + wait;
    std::string output;
    bool ended = false;
    while (!ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd readable{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ended = true; // end of output (or an error, which ends it too)
            break;
        }
        output.append(buffer, std::min(static_cast<std::size_t>(n),
                                       maxBytes - std::min(maxBytes, output.size())));
    }
    ::close(pipeFds[0]);

    if (ended) {
        const SExit exit = PollExit(child.pid, end);
        if (exit.state != SExit::EState::StillRunning) {
            const bool succeeded = exit.state == SExit::EState::Exited && exit.code == 0;
            return succeeded ? std::optional<std::string>(output) : std::nullopt;
        }
    }
    // Over time: this helper is ours and only answers a question, so it is ended.
    ::kill(child.pid, SIGKILL);
    ReapNow(child.pid);
    return std::nullopt;
}

} // namespace crenovix
