#include "umockdev/MockKernel.h"

#include <umockdev.h>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <span>

namespace crenovix::mock {

namespace {

// Vendor-defined usage page, one 64-byte input and one 64-byte output report, no report IDs:
// what a charger's application firmware and boot loader both declare.
constexpr std::array<std::uint8_t, 27> kReportDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        std::array<char, 3> digits{};
        std::snprintf(digits.data(), digits.size(), "%02X", byte);
        text += digits.data();
    }
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Records(const std::string& path, const SProperties& properties,
                    const SProperties& attributes, const std::string& node = {},
                    const std::string& extraLines = {}) {
    std::string text = "P: " + path + "\n" + extraLines;
    if (!node.empty()) {
        text += "N: " + node + "\nE: DEVNAME=/dev/" + node + "\n";
    }
    for (const auto& [name, value] : properties) {
        text += "E: " + name + "=" + value + "\n";
    }
    for (const auto& [name, value] : attributes) {
        text += "A: " + name + "=" + value + "\n";
    }
    return text + "\n";
}

std::string UsbRecords(const std::string& path, const SMockUsb& usb, const std::string& driver) {
    SProperties attributes = {{"idVendor", usb.vendorId},
                              {"idProduct", usb.productId},
                              {"manufacturer", usb.manufacturer},
                              {"product", usb.product},
                              {"bcdDevice", "0200"}};
    if (!usb.serial.empty()) {
        attributes.push_back({"serial", usb.serial});
    }
    return Records(path, {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}}, attributes) +
           Records(path + "/" + path.substr(path.rfind('/') + 1) + ":1.0",
                   {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}, {"DRIVER", driver}},
                   {{"bInterfaceNumber", "00"}});
}

enum class ENodeKind { Tty, Hidraw };

} // namespace

// What a node's ioctl handler knows: its kind and, for a bridge with a latency timer, the
// driver's serial flags and where the timer shows.
struct SNodeDriver {
    ENodeKind kind = ENodeKind::Tty;
    UMockdevTestbed* testbed = nullptr;
    std::string name;       // "ttyUSB0"
    std::string portDevice; // sysfs path of the port device holding latency_timer; empty: none
    int latencyTimerMs = 0;
    int flags = 0;
    std::mutex* logMutex = nullptr;
    std::vector<std::string>* log = nullptr;
};

namespace {

// TIOCGSERIAL and TIOCSSERIAL as ftdi_sio answers them: the flags are kept, and the low-latency
// flag puts the bridge's timer at 1 ms while it is on.
void SerialSettings(SNodeDriver& driver, gulong request, UMockdevIoctlData* arg, GError** error) {
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(serial_struct), error);
    if (data == nullptr) {
        return;
    }
    auto* serial = reinterpret_cast<serial_struct*>(data->data);
    if (request == TIOCGSERIAL) {
        *serial = serial_struct{};
        serial->flags = driver.flags;
        return;
    }
    const bool wasLow = (driver.flags & ASYNC_LOW_LATENCY) != 0;
    driver.flags = serial->flags;
    const bool low = (driver.flags & ASYNC_LOW_LATENCY) != 0;
    const std::string timer = std::to_string(low ? 1 : driver.latencyTimerMs);
    umockdev_testbed_set_attribute(driver.testbed, driver.portDevice.c_str(), "latency_timer",
                                   timer.c_str());
    if (low != wasLow) {
        const std::lock_guard lock(*driver.logMutex);
        driver.log->push_back(driver.name + ": low latency " + (low ? "on" : "off") +
                              ", latency_timer " + timer);
    }
}

// The mock refuses every ioctl on a node by default. A tty's go on to its pseudo-terminal, so
// termios works (a bridge's serial settings are answered here); a hidraw node answers the report
// descriptor ioctls, with which hidapi's open checks that it is hidraw.
gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    int result = 0;
    int errorNumber = 0;
    SNodeDriver& driver = *static_cast<SNodeDriver*>(user);
    const ENodeKind nodeKind = driver.kind;
    if (nodeKind == ENodeKind::Tty && !driver.portDevice.empty() &&
        (request == TIOCGSERIAL || request == TIOCSSERIAL)) {
        SerialSettings(driver, request, arg, &error);
    } else if (nodeKind == ENodeKind::Tty) {
        result = umockdev_ioctl_client_execute(client, &errorNumber, &error);
    } else if (nodeKind == ENodeKind::Hidraw && request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* size = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &error);
        const int value = kReportDescriptor.size();
        std::memcpy(size->data, &value, sizeof value);
    } else if (nodeKind == ENodeKind::Hidraw && request == HIDIOCGRDESC) {
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), &error);
        auto* descriptor = reinterpret_cast<hidraw_report_descriptor*>(data->data);
        descriptor->size = kReportDescriptor.size();
        std::memcpy(descriptor->value, kReportDescriptor.data(), kReportDescriptor.size());
    } else {
        result = -1;
        errorNumber = ENOTTY;
    }
    if (error != nullptr) {
        g_error_free(error);
        result = -1;
        errorNumber = EFAULT;
    }
    umockdev_ioctl_client_complete(client, result, errorNumber);
    return TRUE;
}

} // namespace

struct CMockKernel::STestbed {
    struct SNode {
        std::string syspath; // of the hidraw or tty device: its uevents
        std::string top;     // of the device to remove with its children
        UMockdevIoctlBase* handler = nullptr;
        std::unique_ptr<SNodeDriver> driver;
    };
    std::mutex logMutex;
    std::vector<std::string> log;
    UMockdevTestbed* testbed = nullptr;
    std::map<std::string, SNode> nodes; // by node path

    ~STestbed() {
        for (auto& [node, entry] : nodes) {
            if (entry.handler != nullptr) {
                g_object_unref(entry.handler);
            }
        }
        if (testbed != nullptr) {
            g_object_unref(testbed);
        }
    }
};

std::unique_ptr<CMockKernel> CMockKernel::Create(std::string& whyNot) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        whyNot = "umockdev is not preloaded: run under umockdev-wrapper";
        return nullptr;
    }
    std::unique_ptr<CMockKernel> kernel(new CMockKernel());
    kernel->testbed_ = std::make_unique<STestbed>();
    kernel->testbed_->testbed = umockdev_testbed_new();
    if (kernel->testbed_->testbed == nullptr) {
        whyNot = "umockdev could not make a testbed";
        return nullptr;
    }
    gchar* root = umockdev_testbed_get_root_dir(kernel->testbed_->testbed);
    kernel->dir_ = root;
    g_free(root);
    ::setenv("UMOCKDEV_DIR", kernel->dir_.c_str(), 1);
    // A program run as another user (one that a node's mode bits refuse) sees the devices too,
    // and may reach the ioctl handlers, which umockdev asks on every open of a node.
    ::chmod(kernel->dir_.c_str(), 0755);
    ::chmod((kernel->dir_ + "/ioctl/_default").c_str(), 0666);
    // A UART's parent, so that it counts as a port with a device behind it.
    GError* error = nullptr;
    umockdev_testbed_add_from_string(
        kernel->testbed_->testbed,
        Records("/devices/platform/serial8250", {{"SUBSYSTEM", "platform"}}, {}).c_str(), &error);
    if (error != nullptr) {
        whyNot = error->message;
        g_error_free(error);
        return nullptr;
    }
    return kernel;
}

CMockKernel::~CMockKernel() = default;

std::vector<std::string> CMockKernel::DriverLog() {
    const std::lock_guard lock(testbed_->logMutex);
    return testbed_->log;
}

std::string CMockKernel::Plug(const std::string& records, const std::string& node, bool bOpenable,
                              const std::string& portDevice, int latencyTimerMs) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_->testbed, records.c_str(), &error)) {
        std::fprintf(stderr, "umockdev: %s\n", error != nullptr ? error->message : "failed");
        std::abort(); // a fixture that cannot build its devices tests nothing
    }
    const std::string path = "/dev/" + node;
    const int fd = umockdev_testbed_get_dev_fd(testbed_->testbed, path.c_str());
    struct termios settings {};
    if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    const ENodeKind kind = node.starts_with("hidraw") ? ENodeKind::Hidraw : ENodeKind::Tty;
    STestbed::SNode& entry = testbed_->nodes[path];
    entry.driver = std::make_unique<SNodeDriver>(SNodeDriver{kind, testbed_->testbed, node,
                                                             portDevice, latencyTimerMs, 0,
                                                             &testbed_->logMutex, &testbed_->log});
    entry.handler = umockdev_ioctl_base_new();
    g_signal_connect(entry.handler, "handle-ioctl", G_CALLBACK(OnIoctl), entry.driver.get());
    umockdev_testbed_attach_ioctl(testbed_->testbed, path.c_str(), entry.handler, nullptr);
    ::chmod((dir_ + "/ioctl" + path).c_str(), 0666);
    if (!bOpenable) {
        // Every open fails, as for a node another program holds or the user may not open.
        std::error_code ignored;
        std::filesystem::remove(dir_ + path, ignored);
        std::filesystem::create_directory(dir_ + path, ignored);
    }
    return path;
}

int CMockKernel::NextUsbPort() {
    const std::lock_guard lock(mutex_);
    return nextUsbPort_++;
}

std::string CMockKernel::PlugHid(const SMockHid& hid) {
    const std::lock_guard lock(mutex_);
    const std::string port = "1-" + std::to_string(hid.usbPort != 0 ? hid.usbPort : NextUsbPort());
    const std::string usbPath = "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    std::array<char, 32> hidName{};
    std::snprintf(hidName.data(), hidName.size(), "0003:%s:%s.%04X",
                  Upper(hid.usb.vendorId).c_str(), Upper(hid.usb.productId).c_str(), nextHid_++);
    const std::string hidPath = usbPath + "/" + port + ":1.0/" + hidName.data();
    const std::string node = "hidraw" + std::to_string(nextHidraw_++);
    const std::string rawPath = hidPath + "/hidraw/" + node;
    const std::string records =
        UsbRecords(usbPath, hid.usb, "usbhid") +
        Records(
            hidPath,
            {{"SUBSYSTEM", "hid"},
             {"DRIVER", "hid-generic"},
             {"HID_ID", "0003:0000" + Upper(hid.usb.vendorId) + ":0000" + Upper(hid.usb.productId)},
             {"HID_NAME", hid.usb.manufacturer + " " + hid.usb.product},
             {"HID_UNIQ", hid.usb.serial}},
            {}, {}, "H: report_descriptor=" + Hex(kReportDescriptor) + "\n") +
        Records(
            rawPath,
            [&] {
                SProperties properties = {{"SUBSYSTEM", "hidraw"}};
                properties.insert(properties.end(), hid.properties.begin(), hid.properties.end());
                return properties;
            }(),
            {}, node);
    const std::string path = Plug(records, node, hid.bOpenable);
    testbed_->nodes[path].syspath = "/sys" + rawPath;
    testbed_->nodes[path].top = "/sys" + usbPath;
    return path;
}

std::string CMockKernel::PlugTty(const SMockTty& tty) {
    const std::lock_guard lock(mutex_);
    std::string top = "/devices/platform/serial8250";
    std::string records;
    std::string parent = top;
    if (tty.bOnUsb) {
        const std::string port = "1-" + std::to_string(NextUsbPort());
        top = "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
        parent = top + "/" + port + ":1.0";
        records = UsbRecords(top, tty.usb, "ftdi_sio");
    }
    std::string portDevice;
    if (tty.bOnUsb && tty.latencyTimerMs > 0) {
        // ftdi_sio's port device sits between interface and tty and holds the timer.
        portDevice = parent + "/" + tty.node;
        records += Records(portDevice, {{"SUBSYSTEM", "usb-serial"}, {"DRIVER", "ftdi_sio"}},
                           {{"latency_timer", std::to_string(tty.latencyTimerMs)}});
        parent = portDevice;
    }
    const std::string ttyPath = parent + "/tty/" + tty.node;
    SProperties properties = {{"SUBSYSTEM", "tty"}};
    properties.insert(properties.end(), tty.properties.begin(), tty.properties.end());
    records += Records(ttyPath, properties, tty.bOnUsb ? SProperties{} : SProperties{{"type", "4"}},
                       tty.node);
    const std::string path = Plug(
        records, tty.node, true, portDevice.empty() ? "" : "/sys" + portDevice, tty.latencyTimerMs);
    testbed_->nodes[path].syspath = "/sys" + ttyPath;
    testbed_->nodes[path].top = "/sys" + (tty.bOnUsb ? top : ttyPath);
    return path;
}

void CMockKernel::Unplug(const std::string& node) {
    const std::lock_guard lock(mutex_);
    const auto found = testbed_->nodes.find(node);
    if (found == testbed_->nodes.end()) {
        return;
    }
    const STestbed::SNode entry = std::move(found->second);
    testbed_->nodes.erase(found);
    umockdev_testbed_uevent(testbed_->testbed, entry.syspath.c_str(), "remove");
    if (entry.handler != nullptr) {
        umockdev_testbed_detach_ioctl(testbed_->testbed, node.c_str(), nullptr);
        g_object_unref(entry.handler);
    }
    umockdev_testbed_remove_device(testbed_->testbed, entry.top.c_str());
    // The node of a child device and the map from pseudo-terminals to nodes outlive the removal;
    // the kernel's node goes, and a stale map entry would name a later pseudo-terminal after it.
    std::error_code error;
    std::filesystem::remove(dir_ + node, error);
    // So are the links to it in /sys/bus and /sys/class, which would keep a device plugged in
    // again at the same USB port from being added.
    for (const auto& link : std::filesystem::recursive_directory_iterator(dir_ + "/sys", error)) {
        if (link.is_symlink(error) && !std::filesystem::exists(link.path(), error)) {
            std::filesystem::remove(link.path(), error);
        }
    }
    for (const auto& file : std::filesystem::directory_iterator(dir_ + "/dev/.ptymap", error)) {
        const auto target = std::filesystem::read_symlink(file.path(), error).string();
        if (target == node || target == dir_ + node) {
            std::filesystem::remove(file.path(), error);
        }
    }
}

int CMockKernel::DeviceFd(const std::string& node) {
    const std::lock_guard lock(mutex_);
    if (!testbed_->nodes.contains(node)) {
        return -1;
    }
    return umockdev_testbed_get_dev_fd(testbed_->testbed, node.c_str());
}

void CMockKernel::SetNodeMode(const std::string& node, unsigned mode) {
    const std::lock_guard lock(mutex_);
    ::chmod((dir_ + node).c_str(), mode);
}

CMockHidCharger::CMockHidCharger(CMockKernel& kernel, IClock& clock, sim::SSimHidConfig config,
                                 SMockHid hid)
    : kernel_(kernel), hid_(std::move(hid)), charger_(clock, std::move(config)) {
    std::array<char, 8> productId{};
    std::snprintf(productId.data(), productId.size(), "%04x", charger_.Config().wProductId);
    hid_.usb.productId = productId.data();
    Follow();
    thread_ = std::thread([this] { Run(); });
}

CMockHidCharger::~CMockHidCharger() {
    Unplug();
}

void CMockHidCharger::Unplug() {
    bStop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    const std::lock_guard lock(mutex_);
    if (hostSide_ >= 0) {
        ::close(hostSide_);
        hostSide_ = -1;
    }
    if (!node_.empty()) {
        kernel_.Unplug(node_);
        node_.clear();
    }
}

sim::SSimResults CMockHidCharger::Results() {
    const std::lock_guard lock(mutex_);
    return charger_.Results();
}

std::string CMockHidCharger::Node() {
    const std::lock_guard lock(mutex_);
    return node_;
}

void CMockHidCharger::Follow() {
    const std::lock_guard lock(mutex_);
    const bool present = charger_.IsPresent();
    if (!node_.empty() && (!present || charger_.Instance() != instance_)) {
        // The charger resets after its last answer; the host reads that answer first.
        const auto since = std::chrono::steady_clock::now() - answeredAt_;
        int unread = 0;
        if (since < std::chrono::milliseconds(20) ||
            (since < std::chrono::seconds(2) && ::ioctl(hostSide_, FIONREAD, &unread) == 0 &&
             unread > 0)) {
            return;
        }
        ::close(hostSide_);
        kernel_.Unplug(node_);
        node_.clear();
        pending_.clear();
    }
    if (node_.empty() && present) {
        if (usbPort_ == 0 || charger_.Order() != order_) {
            usbPort_ = kernel_.NextUsbPort();
            order_ = charger_.Order();
        }
        hid_.usbPort = usbPort_;
        node_ = kernel_.PlugHid(hid_);
        instance_ = charger_.Instance();
        std::error_code error;
        const auto slave = std::filesystem::read_symlink(kernel_.Dir() + node_, error);
        hostSide_ = ::open(slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
}

void CMockHidCharger::Run() {
    while (!bStop_) {
        Follow();
        const int fd = kernel_.DeviceFd(Node());
        if (fd < 0) {
            ::usleep(5000);
            continue;
        }
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, 5) <= 0 || (watched.revents & POLLIN) == 0) {
            continue;
        }
        std::array<std::uint8_t, kHidReportSize> chunk{};
        const ssize_t got = ::read(fd, chunk.data(), chunk.size() - pending_.size());
        if (got <= 0) {
            continue;
        }
        pending_.insert(pending_.end(), chunk.begin(), chunk.begin() + got);
        if (pending_.size() < kHidReportSize) {
            continue;
        }
        std::optional<sim::SimHidReport> answer;
        {
            const std::lock_guard lock(mutex_);
            answer = charger_.HandleReport(pending_);
        }
        pending_.clear();
        // hidraw hands unnumbered input reports over without the report ID.
        if (answer && ::write(fd, answer->data() + 1, answer->size() - 1) < 0) {
            std::perror("mock charger: write");
        }
        const std::lock_guard lock(mutex_);
        answeredAt_ = std::chrono::steady_clock::now();
    }
}

} // namespace crenovix::mock
