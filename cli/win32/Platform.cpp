// The command line on Windows: SetupDi and the registry for serial ports, the HID class driver
// for HID interfaces, overlapped COM and HID ports. A console program has no window to receive
// device-change messages, so a run looks at the device list again on a timer instead.
#include "cli/Platform.h"
#include "device/win32/Win32HidInterfaceSet.h"
#include "device/win32/Win32PortOpener.h"
#include "device/win32/Win32SerialPlatform.h"

#include <windows.h>

namespace crenovix::cli {

namespace {

class CWin32CliPlatform final : public ICliPlatform {
public:
    ISerialPlatform& SerialPorts() override { return serialPorts_; }
    IHidInterfaceSet& HidInterfaces() override { return hidInterfaces_; }
    IPortOpener& Ports() override { return opener_; }
    bool TakeDevicesChanged() override { return rescan_.Due(); }
    bool LastSerialOpenBusy() override {
        return opener_.LastError() == ERROR_ACCESS_DENIED ||
               opener_.LastError() == ERROR_SHARING_VIOLATION;
    }

private:
    CWin32SerialPlatform serialPorts_;
    CWin32HidInterfaceSet hidInterfaces_;
    CWin32PortOpener opener_;
    CSteadyClock clock_;
    CRescanTimer rescan_{clock_};
};

} // namespace

std::unique_ptr<ICliPlatform> CreateCliPlatform() {
    return std::make_unique<CWin32CliPlatform>();
}

} // namespace crenovix::cli
