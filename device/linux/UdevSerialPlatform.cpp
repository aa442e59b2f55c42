#include "device/linux/UdevSerialPlatform.h"

#include "device/linux/TtyLine.h"
#include "device/linux/UdevHandles.h"
#include "device/linux/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace crenovix {

namespace {

std::string Text(const char* value) {
    return value != nullptr ? value : "";
}

std::optional<std::string> OptionalText(const char* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

// libudev reports failures as negative errno values, or as NULL with errno set.
int ErrnoOr(int fallback) {
    return errno != 0 ? errno : fallback;
}

SSerialPortRecord RecordFor(udev_device* tty, const char* devNode) {
    SSerialPortRecord port;
    port.devNode = devNode;
    port.modelFromDatabase = Text(udev_device_get_property_value(tty, "ID_MODEL_FROM_DATABASE"));
    port.location = Text(udev_device_get_property_value(tty, "ID_PATH"));
    // Borrowed from `tty`, which keeps its parents alive.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (usb != nullptr) {
        port.usb = SUsbIdentity{
            Text(udev_device_get_sysattr_value(usb, "idVendor")),
            Text(udev_device_get_sysattr_value(usb, "idProduct")),
            Text(udev_device_get_sysattr_value(usb, "serial")),
            Text(udev_device_get_sysattr_value(usb, "product")),
        };
        if (port.modelFromDatabase.empty()) {
            port.modelFromDatabase =
                Text(udev_device_get_property_value(usb, "ID_MODEL_FROM_DATABASE"));
        }
    }
    return port;
}

} // namespace

std::optional<std::vector<SSerialPortRecord>> ScanSerialPorts(int& error) {
    error = 0;
    errno = 0;
    const UdevPtr context(udev_new());
    if (!context) {
        error = ErrnoOr(ENOMEM);
        return std::nullopt;
    }
    const UdevEnumeratePtr enumeration(udev_enumerate_new(context.get()));
    if (!enumeration) {
        error = ErrnoOr(ENOMEM);
        return std::nullopt;
    }
    if (const int result = udev_enumerate_add_match_subsystem(enumeration.get(), "tty");
        result < 0) {
        error = -result;
        return std::nullopt;
    }
    if (const int result = udev_enumerate_scan_devices(enumeration.get()); result < 0) {
        error = -result;
        return std::nullopt;
    }
    std::vector<SSerialPortRecord> ports;
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumeration.get());
         entry != nullptr; entry = udev_list_entry_get_next(entry)) {
        // A device that vanished since the scan is simply not listed.
        const UdevDevicePtr tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!tty) {
            continue;
        }
        const char* devNode = udev_device_get_devnode(tty.get());
        if (!IsListableTty(udev_device_get_parent(tty.get()) != nullptr, devNode != nullptr,
                           OptionalText(udev_device_get_sysattr_value(tty.get(), "type")))) {
            continue;
        }
        ports.push_back(RecordFor(tty.get(), devNode));
    }
    return ports;
}

std::optional<ESerialPortListing> CUdevSerialPlatform::GetPortListing(std::uint32_t& lastError) {
    lastError = 0;
    return ESerialPortListing::PresentPorts;
}

std::unique_ptr<ISerialPortList> CUdevSerialPlatform::OpenPortList(std::uint32_t& lastError) {
    int error = 0;
    auto ports = ScanSerialPorts(error);
    if (!ports) {
        lastError = static_cast<std::uint32_t>(error);
        return nullptr;
    }
    return std::make_unique<CSerialPortSnapshot>(std::move(*ports));
}

std::unique_ptr<IDeviceTreeKey> CUdevSerialPlatform::OpenDeviceTree() {
    return nullptr;
}

bool CUdevSerialPlatform::ProbePort(const std::string& path) {
    const std::string node = SerialNodeFromPath(path);
    const CUniqueFd fd(::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISCHR(info.st_mode) ||
        ttyline::CheckIsTty(fd.Get()) != 0) {
        return false;
    }
    // The lock goes with the descriptor when it closes.
    return ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0;
}

} // namespace crenovix
