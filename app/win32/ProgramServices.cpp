#include "app/win32/ProgramServices.h"

#include "device/SerialEnumeration.h"
#include "device/win32/Win32HidInterfaceSet.h"
#include "device/win32/Win32PortOpener.h"
#include "device/win32/Win32SerialPlatform.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

#include <windows.h>

namespace crenovix::win32 {

namespace {

class CWin32Services final : public CProgramServices {
public:
    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return ports_; }

private:
    CWin32SerialPlatform serialPorts_;
    CWin32HidInterfaceSet hidInterfaces_;
    CDeviceEnumerator enumerator_{serialPorts_, hidInterfaces_};
    CWin32PortOpener ports_;
};

class CDemoServices final : public CProgramServices {
public:
    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return bench_; }
    sim::CSimBench& Bench() { return bench_; }

    std::function<bool()> DevicesChangedPoll() override {
        bench_.TakeDevicesChanged(); // the window's first listing sees the desk as it is now
        return [this] { return bench_.TakeDevicesChanged(); };
    }

private:
    sim::CSimBench bench_{clock_};
    CDeviceEnumerator enumerator_{bench_, bench_};
};

} // namespace

std::unique_ptr<CProgramServices> CreateProgramServices(const char* simulate, std::string& error,
                                                        std::uint32_t seed) {
    std::unique_ptr<CProgramServices> services;
    if (simulate == nullptr || *simulate == '\0') {
        services = std::make_unique<CWin32Services>();
    } else {
        auto demo = std::make_unique<CDemoServices>();
        if (const auto problem = sim::AddDemoChargers(demo->Bench(), simulate)) {
            error = *problem;
            return nullptr;
        }
        services = std::move(demo);
    }
    services->nonces_ = CNonceGenerator(seed);
    return services;
}

void CExecutionStateInhibitor::Acquire() {
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void CExecutionStateInhibitor::Release() {
    SetThreadExecutionState(ES_CONTINUOUS);
}

} // namespace crenovix::win32
