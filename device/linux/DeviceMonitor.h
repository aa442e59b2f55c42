// Device-change notifications: a libudev monitor on the "hidraw" and "tty" subsystems, the Linux
// source of the device changes (device/DeviceChange.h) that make the main window refresh its
// list.
//
// CDeviceMonitor does no waiting of its own: the owner watches Fd() (a QSocketNotifier in the
// GUI) and calls Dispatch() when it is readable. Dispatch drains what is pending and calls the
// "devices changed" callback once per batch, on the caller's thread; a batch may mix arrivals and
// removals, so its owner passes it on as EDeviceChange::NodesChanged. CDeviceMonitorThread is the
// same monitor run on a thread of its own for owners without an event loop; its callback runs on
// that thread, and destroying it stops and joins the thread promptly (a stop pipe wakes it).
#pragma once

#include "device/linux/UniqueFd.h"

#include <functional>
#include <memory>
#include <thread>

struct udev;
struct udev_monitor;

namespace crenovix {

class CDeviceMonitor {
public:
    using Callback = std::function<void()>;

    // nullptr on failure, with `error` set to an errno value.
    static std::unique_ptr<CDeviceMonitor> Create(Callback onDevicesChanged, int& error);

    // Readable when events are pending. Owned by the monitor; valid while it lives.
    int Fd() const;

    // Never blocks. Drains up to kMaxEventsPerDispatch events (an event storm is left for the
    // next call, the descriptor staying readable) and, if there was any, calls the callback once.
    // Returns the number of events drained.
    int Dispatch();

    static constexpr int kMaxEventsPerDispatch = 256;

private:
    // libudev stays out of this header: its users (the GUI) need not see it.
    struct SRelease {
        void operator()(udev* handle) const;
        void operator()(udev_monitor* handle) const;
    };

    explicit CDeviceMonitor(Callback onDevicesChanged);

    std::unique_ptr<udev, SRelease> context_; // declared first: outlives its monitor
    std::unique_ptr<udev_monitor, SRelease> monitor_;
    Callback onDevicesChanged_;
};

class CDeviceMonitorThread {
public:
    // nullptr on failure, with `error` set to an errno value.
    static std::unique_ptr<CDeviceMonitorThread> Start(CDeviceMonitor::Callback onDevicesChanged,
                                                       int& error);
    ~CDeviceMonitorThread();
    CDeviceMonitorThread(const CDeviceMonitorThread&) = delete;
    CDeviceMonitorThread& operator=(const CDeviceMonitorThread&) = delete;

private:
    CDeviceMonitorThread(std::unique_ptr<CDeviceMonitor> monitor, CUniqueFd stopRead,
                         CUniqueFd stopWrite);
    void Run();

    std::unique_ptr<CDeviceMonitor> monitor_;
    CUniqueFd stopRead_;
    CUniqueFd stopWrite_;
    std::thread thread_;
};

} // namespace crenovix
