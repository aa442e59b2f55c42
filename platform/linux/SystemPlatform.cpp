// The Linux platform: udev for serial ports, hidapi for HID interfaces, termios and hidraw ports,
// a udev monitor for device changes, libcurl downloads, our INI reader, private temporary files
// under $TMPDIR or /tmp and the desktop opener.
#include "controls/linux/DesktopShell.h"
#include "device/linux/DeviceMonitor.h"
#include "device/linux/HidApiDevices.h"
#include "device/linux/LinuxPortOpener.h"
#include "device/linux/UdevSerialPlatform.h"
#include "online/linux/CurlDownloader.h"
#include "online/linux/PosixTempFiles.h"
#include "platform/Platform.h"
#include "protocol/UpdateLogFile.h"

#include <cerrno>

namespace crenovix {

namespace {

class CLinuxDevices final : public IDevices {
public:
    CLinuxDevices() {
        int error = 0; // without udev nothing tells of changes (EDeviceNotices::None)
        monitor_ = CDeviceMonitor::Create([this] { changed_ = true; }, error);
    }

    ISerialPlatform& SerialPorts() override { return serialPorts_; }
    IHidInterfaceSet& HidInterfaces() override { return hidInterfaces_; }
    IPortOpener& Ports() override { return opener_; }
    bool LastSerialOpenBusy() override { return opener_.LastSerialError() == EBUSY; }

    EDeviceNotices Notices() const override {
        return monitor_ != nullptr ? EDeviceNotices::Descriptor : EDeviceNotices::None;
    }
    int NoticeDescriptor() const override { return monitor_ != nullptr ? monitor_->Fd() : -1; }
    bool TakeDevicesChanged() override {
        if (monitor_ == nullptr) {
            return false;
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
    bool changed_ = false;
    std::unique_ptr<CDeviceMonitor> monitor_;
};

class CLinuxPlatform final : public IPlatform {
public:
    std::unique_ptr<IDevices> OpenDevices() override { return std::make_unique<CLinuxDevices>(); }
    std::unique_ptr<COnlineServices> CreateOnline() override {
        return std::make_unique<COnlineServices>(
            std::make_unique<CCurlDownloader>(kCatalogueDownloadLimits),
            std::make_unique<CCurlDownloader>(kFileDownloadLimits),
            std::make_unique<CIniFileReader>(), std::make_unique<CPosixTempFiles>());
    }
    std::unique_ptr<IShell> CreateShell() override { return std::make_unique<CDesktopShell>(); }
    std::unique_ptr<IUpdateLog> OpenUpdateLog(const std::string& path,
                                              std::string& error) override {
        return CUpdateLogFile::Open(path.empty() ? DefaultUpdateLogPath() : path, SystemLogStamp(),
                                    error);
    }
};

} // namespace

std::unique_ptr<IPlatform> CreateSystemPlatform() {
    return std::make_unique<CLinuxPlatform>();
}

} // namespace crenovix
