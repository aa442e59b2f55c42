#include "gui/win32/ExecutionStateInhibitor.h"

#include <windows.h>

namespace crenovix::win32 {

void CExecutionStateInhibitor::Acquire() {
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void CExecutionStateInhibitor::Release() {
    SetThreadExecutionState(ES_CONTINUOUS);
}

} // namespace crenovix::win32
