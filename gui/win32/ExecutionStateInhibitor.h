// Keeps the system from sleeping while a charger is written (SetThreadExecutionState); the
// display may still turn off. The window's own, like the Qt window's CLogindInhibitor: only the
// windows write while a person waits.
#pragma once

#include "app/MainWindowLogic.h"

namespace crenovix::win32 {

class CExecutionStateInhibitor final : public ISleepInhibitor {
public:
    void Acquire() override;
    void Release() override;
};

} // namespace crenovix::win32
