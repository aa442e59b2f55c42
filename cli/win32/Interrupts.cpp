// Ctrl+C and Ctrl+Break reach a console program through a handler the system calls on a thread
// of its own; returning TRUE keeps the program running. Closing the console, logging off and
// shutting down still end it, as the system allows no refusal there.
#include "cli/Interrupts.h"

#include <windows.h>

namespace crenovix::cli {

namespace {

BOOL WINAPI CountConsoleInterrupt(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        CInterruptCounter::Add();
        return TRUE;
    }
    return FALSE;
}

} // namespace

struct CInterruptCounter::SPlatform {};

CInterruptCounter::CInterruptCounter() {
    count_ = 0;
    ::SetConsoleCtrlHandler(CountConsoleInterrupt, TRUE);
}

CInterruptCounter::~CInterruptCounter() {
    ::SetConsoleCtrlHandler(CountConsoleInterrupt, FALSE);
}

} // namespace crenovix::cli
