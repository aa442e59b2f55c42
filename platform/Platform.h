// What the program takes from the system it runs on, in one place: the devices (serial ports,
// HID interfaces, the port opener, news of devices that came or went), the online services
// (downloaders, INI reader, server addresses) and the link's shell. Each system has one factory,
// CreateSystemPlatform (platform/linux/SystemPlatform.cpp, platform/win32/SystemPlatform.cpp),
// where every adapter of these interfaces is wired; the programs (gui/qt/main.cpp,
// gui/win32/main.cpp, the command line's commands) only call it. The demo desk
// (platform/DemoDesk.h) stands in for the devices of any of them. Two pieces of the window
// programs are not here: the sleep inhibitor (CLogindInhibitor, CExecutionStateInhibitor), which
// each window program's main makes for its window, and the single-instance lock
// (AcquireSingleInstanceLock, app/StartUp.h), linked with the same library, as it is taken before
// the program knows whether it runs on the demo desk.
#pragma once

#include "controls/HyperLink.h"
#include "device/DevicePort.h"
#include "device/HidDiscovery.h"
#include "device/SerialPlatform.h"
#include "online/Catalogue.h"
#include "online/Downloader.h"
#include "online/IniFile.h"
#include "online/ServerAddresses.h"
#include "online/TempFiles.h"
#include "protocol/UpdateLog.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace crenovix {

// How news of devices that came or went reaches the owner of an IDevices.
enum class EDeviceNotices {
    // Nothing here tells: a program without a window looks again on a timer (a window of the
    // system that sends device-change messages gets them from the system).
    None,
    // NoticeDescriptor() turns readable when news is pending; then ask TakeDevicesChanged().
    Descriptor,
    // Nothing tells, but TakeDevicesChanged() answers truly: ask it on a timer.
    Poll,
};

// The devices as one user sees them: the window, the command line's listing, each update run
// (runs go on threads of their own, each with its own set). The references stay valid for the
// set's life.
class IDevices {
public:
    virtual ~IDevices() = default;
    virtual ISerialPlatform& SerialPorts() = 0;
    virtual IHidInterfaceSet& HidInterfaces() = 0;
    virtual IPortOpener& Ports() = 0;
    virtual EDeviceNotices Notices() const = 0;
    // Readable when news of devices is pending (EDeviceNotices::Descriptor); -1 otherwise.
    virtual int NoticeDescriptor() const { return -1; }
    // Never blocks. True when devices came or went since the last call, as far as this set
    // knows; always false with EDeviceNotices::None.
    virtual bool TakeDevicesChanged() = 0;
    // Whether the last serial port Ports() failed to open is held by another program.
    virtual bool LastSerialOpenBusy() = 0;
    // Whether these are simulated chargers (the demo desk), which always open and whose stored
    // payload can be checked; the machine's devices are not.
    virtual bool Simulated() const { return false; }
    // Simulated chargers only: whether the charger with serial number `serial` (the one listed at
    // `port` when no other charger has that number) completed an update that stored exactly
    // `payload`. False for the machine's devices, which cannot be asked.
    virtual bool StoredPayloadIs(const std::string& /*port*/, const std::string& /*serial*/,
                                 std::span<const std::uint8_t> /*payload*/) {
        return false;
    }
};

// The program's online services, made once and kept for the program's life: a downloader for
// catalogue fetches (each attempt bounded to 2.5 s), one for update files, the INI reader, the
// maker of the catalogue's private temporary files, the server addresses (built in, overridden by
// the environment) and the program-wide release links.
// `context` is what the catalogue functions and the download window take.
class COnlineServices {
public:
    COnlineServices(std::unique_ptr<IDownloader> catalogueDownloader,
                    std::unique_ptr<IDownloader> fileDownloader, std::unique_ptr<IIniReader> ini,
                    std::unique_ptr<ITempFiles> tempFiles)
        : catalogueDownloader_(std::move(catalogueDownloader)),
          fileDownloader_(std::move(fileDownloader)), iniReader_(std::move(ini)),
          tempFiles_(std::move(tempFiles)), context{*catalogueDownloader_,
                                                    *fileDownloader_,
                                                    *iniReader_,
                                                    ServerAddressesFromEnvironment(),
                                                    releaseLinks,
                                                    *tempFiles_} {}
    COnlineServices(const COnlineServices&) = delete;
    COnlineServices& operator=(const COnlineServices&) = delete;

private:
    // Declared before `context`, which refers to them.
    std::unique_ptr<IDownloader> catalogueDownloader_;
    std::unique_ptr<IDownloader> fileDownloader_;
    std::unique_ptr<IIniReader> iniReader_;
    std::unique_ptr<ITempFiles> tempFiles_;

public:
    SOnlineContext context;
};

class IPlatform {
public:
    virtual ~IPlatform() = default;
    // A set of devices of its own for each user (see IDevices).
    virtual std::unique_ptr<IDevices> OpenDevices() = 0;
    virtual std::unique_ptr<COnlineServices> CreateOnline() = 0;
    // What a link click opens with.
    virtual std::unique_ptr<IShell> CreateShell() = 0;
    // The update log at `path` (empty: the user's data folder), stamped with this computer's
    // name, the program's version and the wall clock; nullptr, with `error` set, when `path`
    // names no file to append to (a directory, a FIFO, a device) or no data folder is known.
    virtual std::unique_ptr<IUpdateLog> OpenUpdateLog(const std::string& path,
                                                      std::string& error) = 0;
};

// The system this program is built for; one definition per system (platform/linux/,
// platform/win32/), in the library crenovix_platform_linux or crenovix_platform_win32.
std::unique_ptr<IPlatform> CreateSystemPlatform();

} // namespace crenovix
