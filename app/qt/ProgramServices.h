// What the window runs on: the Linux platform adapters, or, in demo mode (CRENOVIX_SIMULATE),
// simulated chargers in real time. Either way it delivers device changes to a callback through
// the Qt event loop, so they also arrive while an update run pumps events.
#pragma once

#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "protocol/Clock.h"
#include "protocol/UpdateRun.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace crenovix::gui {

class CProgramServices {
public:
    virtual ~CProgramServices() = default;
    virtual IDeviceEnumerator& Enumerator() = 0;
    virtual IPortOpener& Ports() = 0;
    IClock& Clock() { return clock_; }
    INonceSource& Nonces() { return nonces_; }
    // Calls `onChange` on the window's thread whenever devices come or go.
    virtual void WatchDeviceChanges(QObject* owner, std::function<void()> onChange) = 0;

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

} // namespace crenovix::gui
