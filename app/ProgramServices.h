// What a window runs on: the device enumerator and port opener of the platform's adapters or, in
// demo mode (CRENOVIX_SIMULATE=hid,serial), of simulated chargers in real time; the clock; the
// start frame's nonces. Both front ends make theirs with CreateProgramServices, giving it the
// maker of their platform's services.
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "protocol/UpdateRun.h"

#include "app/StartUp.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace crenovix {

class CProgramServices {
public:
    virtual ~CProgramServices() = default;
    virtual IDeviceEnumerator& Enumerator() = 0;
    virtual IPortOpener& Ports() = 0;
    IClock& Clock() { return clock_; }
    INonceSource& Nonces() { return nonces_; }
    // Simulated chargers change with time (restarting into the boot loader) and tell no one: for
    // them this answers whether devices came or went since it was last asked, and the window
    // asks every kDemoPollMs. Empty for the platform's devices, whose changes the system reports.
    virtual std::function<bool()> DevicesChangedPoll() { return {}; }

    void SeedNonces(std::uint32_t seed) { nonces_ = CNonceGenerator(seed); }

protected:
    CSteadyClock clock_;
    CNonceGenerator nonces_{0};
};

inline constexpr int kDemoPollMs = 100;

// `simulate`: the value of CRENOVIX_SIMULATE; nullptr or empty for the platform's devices, which
// `makePlatform` makes. `seed` seeds the start frame's nonces. nullptr with `error` set when the
// list of demo chargers is not understood.
std::unique_ptr<CProgramServices>
CreateProgramServices(const char* simulate, std::string& error, std::uint32_t seed,
                      const std::function<std::unique_ptr<CProgramServices>()>& makePlatform);

// A front end's maker of its services: its platform's devices, or the demo desk (see above).
using ProgramServicesFactory = std::function<std::unique_ptr<CProgramServices>(
    const char* simulate, std::string& error, std::uint32_t seed)>;

struct SProgramStart {
    std::unique_ptr<CSingleInstanceLock> lock;  // held while the program runs
    std::unique_ptr<CProgramServices> services; // nullptr: end the program with exitCode
    int exitCode = 0;
};

// The start before any window, the same for every front end: one copy per application name (a
// second start shows kAlreadyRunningText and ends), the registration switches end at once, then
// the services (`simulate`: the value of CRENOVIX_SIMULATE; a list that is not understood shows
// "CRENOVIX_SIMULATE: " and the reason, and ends with 1). `warn(title, text)` shows a warning box
// titled with the application name.
SProgramStart StartProgram(const std::string& name, std::span<const std::string> arguments,
                           const char* simulate, std::uint32_t seed,
                           const ProgramServicesFactory& createServices,
                           const std::function<void(const std::string&, const std::string&)>& warn);

} // namespace crenovix
