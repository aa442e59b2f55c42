// Owning handles for libudev objects: each releases its reference when it goes away, so a scan
// or monitor that fails half-way leaks nothing.
#pragma once

#include <libudev.h>

#include <memory>

namespace crenovix {

struct SUdevDeleter {
    void operator()(udev* handle) const { udev_unref(handle); }
    void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
    void operator()(udev_device* handle) const { udev_device_unref(handle); }
    void operator()(udev_monitor* handle) const { udev_monitor_unref(handle); }
};

using UdevPtr = std::unique_ptr<udev, SUdevDeleter>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, SUdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, SUdevDeleter>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, SUdevDeleter>;

} // namespace crenovix
