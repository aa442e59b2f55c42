// How a user of the devices that has no window learns of devices that came or went: the
// command line's runs and watch, and the station's runs. Never blocks.
#pragma once

#include "base/Clock.h"
#include "platform/Platform.h"

#include <cstdint>

namespace crenovix {

// Where nothing tells of device changes, the device list is looked at again at most this often
// while a run waits or writes (a run asks after every block).
inline constexpr std::uint32_t kRescanIntervalMs = 250;

// True on the first call and then once `kRescanIntervalMs` have passed since the last true.
class CRescanTimer {
public:
    explicit CRescanTimer(IClock& clock) : clock_(clock) {}
    bool Due();

private:
    IClock& clock_;
    bool started_ = false;
    std::uint32_t last_ = 0;
};

// Never blocks. True when `devices` may have changed since the last call: the system's notices
// where it gives them, else the rescan timer; a desk of simulated chargers is asked on the timer
// too, as its presence check looks at every charger on it.
class CDeviceNews {
public:
    explicit CDeviceNews(IDevices& devices) : devices_(devices) {}
    bool Take();

private:
    IDevices& devices_;
    CSteadyClock clock_;
    CRescanTimer rescan_{clock_};
};

} // namespace crenovix
