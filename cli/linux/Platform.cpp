// The command line on Linux: udev for serial ports, hidapi for HID interfaces, termios ports and
// a udev monitor for device changes (with a rescan timer where the monitor cannot be made).
#include "cli/Platform.h"
#include "device/linux/DeviceMonitor.h"
#include "device/linux/HidApiDevices.h"
#include "device/linux/LinuxPortOpener.h"
#include "device/linux/UdevSerialPlatform.h"

#include <cerrno>

namespace crenovix::cli {

namespace {

class CLinuxCliPlatform final : public ICliPlatform {
public:
    CLinuxCliPlatform() {
        int error = 0;
        monitor_ = CDeviceMonitor::Create([this] { changed_ = true; }, error);
    }

    ISerialPlatform& SerialPorts() override { return serialPorts_; }
    IHidInterfaceSet& HidInterfaces() override { return hidInterfaces_; }
    IPortOpener& Ports() override { return opener_; }
    bool LastSerialOpenBusy() override { return opener_.LastSerialError() == EBUSY; }

    bool TakeDevicesChanged() override {
        if (monitor_ == nullptr) {
            return rescan_.Due();
        }
        monitor_->Dispatch();
        const bool changed = changed_;
        changed_ = false;
        return changed;
    }

private:
    CUdevSerialPlatform serialPorts_;
    CHidApiInterfaceSet hidInterfaces_;
    CLinuxPortOpener opener_;
    CSteadyClock clock_;
    CRescanTimer rescan_{clock_};
    bool changed_ = false;
    std::unique_ptr<CDeviceMonitor> monitor_;
};

} // namespace

std::unique_ptr<ICliPlatform> CreateCliPlatform() {
    return std::make_unique<CLinuxCliPlatform>();
}

} // namespace crenovix::cli
