// What the Windows window runs on: the Win32 adapters (COM ports and HID interfaces through
// SetupDi) or the demo desk (app/ProgramServices.h). Real devices announce their changes to the
// window as WM_DEVICECHANGE; the demo desk is polled (DevicesChangedPoll).
#pragma once

#include "app/MainWindowLogic.h"
#include "app/ProgramServices.h"

#include <cstdint>
#include <memory>
#include <string>

namespace crenovix::win32 {

// The Win32 devices, or the demo desk when `simulate` names simulated chargers.
std::unique_ptr<CProgramServices> CreateProgramServices(const char* simulate, std::string& error,
                                                        std::uint32_t seed);

// Keeps the system from sleeping while a charger is written (SetThreadExecutionState); the
// display may still turn off.
class CExecutionStateInhibitor final : public ISleepInhibitor {
public:
    void Acquire() override;
    void Release() override;
};

} // namespace crenovix::win32
