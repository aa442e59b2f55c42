#include "app/win32/ProgramServices.h"

#include "device/SerialEnumeration.h"
#include "device/win32/Win32HidInterfaceSet.h"
#include "device/win32/Win32PortOpener.h"
#include "device/win32/Win32SerialPlatform.h"

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

} // namespace

std::unique_ptr<CProgramServices> CreateProgramServices(const char* simulate, std::string& error,
                                                        std::uint32_t seed) {
    return crenovix::CreateProgramServices(simulate, error, seed,
                                           [] { return std::make_unique<CWin32Services>(); });
}

void CExecutionStateInhibitor::Acquire() {
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void CExecutionStateInhibitor::Release() {
    SetThreadExecutionState(ES_CONTINUOUS);
}

} // namespace crenovix::win32
