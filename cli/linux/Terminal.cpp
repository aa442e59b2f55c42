#include "cli/Terminal.h"

#include <unistd.h>

namespace crenovix::cli {

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace crenovix::cli
