// What the Windows window runs on: the Win32 adapters (COM ports and HID interfaces through
// SetupDi), or, in demo mode (CRENOVIX_SIMULATE=hid,serial), simulated chargers in real time,
// the same desk the Qt build's demo mode uses (sim/DemoChargers.h).
//
// Real devices announce their changes to the window as WM_DEVICECHANGE. Simulated chargers change
// with time (restarting into the boot loader) and tell no one: DevicesChangedPoll answers
// whether they changed since it was last asked, for the window to poll.
#pragma once

#include "app/MainWindowLogic.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "protocol/Clock.h"
#include "protocol/UpdateRun.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace crenovix::win32 {

class CProgramServices {
public:
    virtual ~CProgramServices() = default;
    virtual IDeviceEnumerator& Enumerator() = 0;
    virtual IPortOpener& Ports() = 0;
    IClock& Clock() { return clock_; }
    INonceSource& Nonces() { return nonces_; }
    // Empty when the system reports the changes itself.
    virtual std::function<bool()> DevicesChangedPoll() { return {}; }

protected:
    CSteadyClock clock_;
    CNonceGenerator nonces_{0};

    friend std::unique_ptr<CProgramServices> CreateProgramServices(const char*, std::string&,
                                                                   std::uint32_t);
};

// `simulate`: the value of CRENOVIX_SIMULATE, or nullptr for the real devices. `seed` seeds the
// start frame's nonces. nullptr with `error` set when the list of demo chargers is not understood.
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
