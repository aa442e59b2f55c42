// What the command line takes from the system it runs on: the serial ports, the HID interfaces,
// the port opener, news of devices that came or went, and the online services. One source file
// per platform (cli/linux/Platform.cpp, cli/win32/Platform.cpp).
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/HidDiscovery.h"
#include "device/SerialPlatform.h"

#include <cstdint>
#include <memory>

#if defined(_WIN32)
#include "online/win32/Win32Online.h"
#else
#include "online/linux/LinuxOnline.h"
#endif

namespace crenovix::cli {

#if defined(_WIN32)
using COnlineServices = CWin32Online;
#else
using COnlineServices = CLinuxOnline;
#endif

// Where the system sends the command line no device notifications, the device list is looked at
// again at most this often while a run waits or writes (a run asks after every block).
inline constexpr std::uint32_t kRescanIntervalMs = 250;

class ICliPlatform {
public:
    virtual ~ICliPlatform() = default;
    virtual ISerialPlatform& SerialPorts() = 0;
    virtual IHidInterfaceSet& HidInterfaces() = 0;
    virtual IPortOpener& Ports() = 0;
    // Never blocks. True when devices may have come or gone since the last call.
    virtual bool TakeDevicesChanged() = 0;
    // Whether the last serial port Ports() failed to open is held by another program.
    virtual bool LastSerialOpenBusy() = 0;
};

std::unique_ptr<ICliPlatform> CreateCliPlatform();

// TakeDevicesChanged for platforms without notifications: true on the first call and then once
// `kRescanIntervalMs` have passed since the last true.
class CRescanTimer {
public:
    explicit CRescanTimer(IClock& clock) : clock_(clock) {}
    bool Due();

private:
    IClock& clock_;
    bool started_ = false;
    std::uint32_t last_ = 0;
};

} // namespace crenovix::cli
