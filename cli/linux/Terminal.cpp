#include "cli/Terminal.h"

#include <unistd.h>

namespace crenovix::cli {

bool TerminalRedrawsInPlace() {
    return ::isatty(STDOUT_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1;
}

} // namespace crenovix::cli
