// Starting helper programs (the desktop's opener, xdg-mime, the browser) without a shell, and
// waiting for them with a bound.
//
// Programs are looked up on PATH and get this process's environment, standard input from
// /dev/null, standard output to a given descriptor or /dev/null, standard error inherited, their
// own process group (so a Ctrl-C meant for the command line does not reach a browser it opened)
// and default signal handling with nothing blocked. Times are in milliseconds.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace crenovix {

struct SChild {
    pid_t pid = -1;
    int error = 0; // errno when the program could not be started (ENOENT: not found)
};

// Starts argv[0] with the arguments argv[1...]; `stdoutFd` -1 sends its output to /dev/null.
SChild StartProgram(const std::vector<std::string>& argv, int stdoutFd = -1);

struct SExit {
    enum class EState {
        Exited,       // `code` is its exit status
        Signalled,    // ended by a signal
        StillRunning, // not ended within the wait; left running, reaped in the background
        Lost,         // its status was collected elsewhere (SIGCHLD ignored by the process)
    };
    EState state = EState::Lost;
    int code = 0;
};

// Waits up to `wait` for the child to end.
SExit WaitForExit(pid_t pid, std::chrono::milliseconds wait);

// Leaves a child running and collects its exit status on a background thread when it ends, so
// no zombie stays behind. Nobody waits for that thread.
void ReapInBackground(pid_t pid);

// Runs argv and answers its standard output (at most `maxBytes`, the rest discarded) when it
// ends with status 0 within `wait`; nothing otherwise. A child still running when the wait is
// over is killed.
std::optional<std::string> RunForOutput(const std::vector<std::string>& argv,
                                        std::chrono::milliseconds wait, std::size_t maxBytes);

} // namespace crenovix
