#include "cli/Terminal.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace crenovix::cli {

bool TerminalRedrawsInPlace() {
    if (::_isatty(::_fileno(stdout)) == 0 || ::_isatty(::_fileno(stderr)) == 0) {
        return false;
    }
    // Consoles before Windows 10 show cursor controls as text: plain lines there.
    const HANDLE console = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return ::GetConsoleMode(console, &mode) != 0 &&
           ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace crenovix::cli
