#include "device/linux/DeviceMonitor.h"

#include "device/linux/UdevHandles.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace crenovix {

std::unique_ptr<CDeviceMonitor> CDeviceMonitor::Create(Callback onDevicesChanged, int& error) {
    error = 0;
    errno = 0;
    UdevPtr context(udev_new());
    if (!context) {
        error = errno != 0 ? errno : ENOMEM;
        return nullptr;
    }
    // "udev": events after udev has processed them, so the device nodes and their permissions
    // are in place when the list is refreshed.
    UdevMonitorPtr monitor(udev_monitor_new_from_netlink(context.get(), "udev"));
    if (!monitor) {
        error = errno != 0 ? errno : ENOMEM;
        return nullptr;
    }
    for (const char* subsystem : {"hidraw", "tty"}) {
        if (const int result =
                udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), subsystem, nullptr);
            result < 0) {
            error = -result;
            return nullptr;
        }
    }
    if (const int result = udev_monitor_enable_receiving(monitor.get()); result < 0) {
        error = -result;
        return nullptr;
    }
    std::unique_ptr<CDeviceMonitor> result(new CDeviceMonitor(std::move(onDevicesChanged)));
    result->context_.reset(context.release());
    result->monitor_.reset(monitor.release());
    return result;
}

void CDeviceMonitor::SRelease::operator()(udev* handle) const {
    udev_unref(handle);
}
void CDeviceMonitor::SRelease::operator()(udev_monitor* handle) const {
    udev_monitor_unref(handle);
}

CDeviceMonitor::CDeviceMonitor(Callback onDevicesChanged)
    : onDevicesChanged_(std::move(onDevicesChanged)) {}

int CDeviceMonitor::Fd() const {
    return udev_monitor_get_fd(monitor_.get());
}

int CDeviceMonitor::Dispatch() {
    int events = 0;
    // The monitor's socket is non-blocking: NULL means nothing is left.
    while (events < kMaxEventsPerDispatch) {
        const UdevDevicePtr device(udev_monitor_receive_device(monitor_.get()));
        if (!device) {
            break;
        }
        ++events;
    }
    if (events > 0 && onDevicesChanged_) {
        onDevicesChanged_();
    }
    return events;
}

std::unique_ptr<CDeviceMonitorThread>
CDeviceMonitorThread::Start(CDeviceMonitor::Callback onDevicesChanged, int& error) {
    auto monitor = CDeviceMonitor::Create(std::move(onDevicesChanged), error);
    if (!monitor) {
        return nullptr;
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = errno;
        return nullptr;
    }
    return std::unique_ptr<CDeviceMonitorThread>(
        new CDeviceMonitorThread(std::move(monitor), CUniqueFd(ends[0]), CUniqueFd(ends[1])));
}

CDeviceMonitorThread::CDeviceMonitorThread(std::unique_ptr<CDeviceMonitor> monitor,
                                           CUniqueFd stopRead, CUniqueFd stopWrite)
    : monitor_(std::move(monitor)), stopRead_(std::move(stopRead)),
      stopWrite_(std::move(stopWrite)), thread_([this] { Run(); }) {}

CDeviceMonitorThread::~CDeviceMonitorThread() {
    const char stop = 1;
    while (::write(stopWrite_.Get(), &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
}

void CDeviceMonitorThread::Run() {
    for (;;) {
        pollfd watched[2] = {{monitor_->Fd(), POLLIN, 0}, {stopRead_.Get(), POLLIN, 0}};
        // No time limit needed: the stop pipe bounds the wait to the owner's lifetime.
        const int result = ::poll(watched, 2, -1);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[1].revents != 0) {
            return;
        }
        if (watched[0].revents & (POLLERR | POLLNVAL)) {
            return;
        }
        if (watched[0].revents & POLLIN) {
            monitor_->Dispatch();
        }
    }
}

} // namespace crenovix
