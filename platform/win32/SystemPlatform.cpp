// The Windows platform: SetupDi and the registry for serial ports, the HID class driver for HID
// interfaces, overlapped COM and HID ports, the URL download call, the private-profile reader,
// private temporary files in the user's temporary folder and the shell opener. Windows tells of
// device changes by messages to a window (WM_DEVICECHANGE, handled by the window itself); a
// program without one looks again on a timer.
#include "controls/win32/Win32Shell.h"
#include "device/win32/Win32HidInterfaceSet.h"
#include "device/win32/Win32PortOpener.h"
#include "device/win32/Win32SerialPlatform.h"
#include "online/win32/PrivateProfileReader.h"
#include "online/win32/UrlMonDownloader.h"
#include "online/win32/Win32TempFiles.h"
#include "platform/Platform.h"
#include "protocol/UpdateLogFile.h"

#include <windows.h>

namespace crenovix {

namespace {

class CWin32Devices final : public IDevices {
public:
    ISerialPlatform& SerialPorts() override { return serialPorts_; }
    IHidInterfaceSet& HidInterfaces() override { return hidInterfaces_; }
    IPortOpener& Ports() override { return opener_; }
    EDeviceNotices Notices() const override { return EDeviceNotices::None; }
    bool TakeDevicesChanged() override { return false; }
    bool LastSerialOpenBusy() override {
        return opener_.LastError() == ERROR_ACCESS_DENIED ||
               opener_.LastError() == ERROR_SHARING_VIOLATION;
    }

private:
    CWin32SerialPlatform serialPorts_;
    CWin32HidInterfaceSet hidInterfaces_;
    CWin32PortOpener opener_;
};

class CWin32Platform final : public IPlatform {
public:
    std::unique_ptr<IDevices> OpenDevices() override { return std::make_unique<CWin32Devices>(); }
    std::unique_ptr<COnlineServices> CreateOnline() override {
        return std::make_unique<COnlineServices>(
            std::make_unique<CUrlMonDownloader>(kCatalogueDownloadLimits),
            std::make_unique<CUrlMonDownloader>(kFileDownloadLimits),
            std::make_unique<CPrivateProfileReader>(), std::make_unique<CWin32TempFiles>());
    }
    std::unique_ptr<IShell> CreateShell() override {
        return std::make_unique<win32::CWin32Shell>();
    }
    std::unique_ptr<IUpdateLog> OpenUpdateLog(const std::string& path,
                                              std::string& error) override {
        return CUpdateLogFile::Open(path.empty() ? DefaultUpdateLogPath() : path, SystemLogStamp(),
                                    error);
    }
};

} // namespace

std::unique_ptr<IPlatform> CreateSystemPlatform() {
    return std::make_unique<CWin32Platform>();
}

} // namespace crenovix
