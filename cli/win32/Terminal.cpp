#include "cli/Terminal.h"

#include <cstdio>
#include <io.h>

namespace crenovix::cli {

bool StderrIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

} // namespace crenovix::cli
