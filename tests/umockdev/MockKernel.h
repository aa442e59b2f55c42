// Devices as the Linux kernel shows them, mocked with umockdev for the process under test and its
// children: sysfs records and udev properties for libudev, device nodes backed by
// pseudo-terminals, and add/remove uevents that reach libudev monitors. The real Linux adapters
// (hidapi's hidraw backend, the udev serial enumeration, CDeviceMonitor) run unmodified on top.
//
// The process must run under umockdev's preload (`umockdev-wrapper PROGRAM`); Create says why
// not otherwise. Child processes see the devices when Dir() is in their UMOCKDEV_DIR (Create
// exports it for children started afterwards).
//
// A HID interface is a USB device (idVendor, idProduct, manufacturer, product, serial), its
// interface 0, a HID device (HID_ID, HID_NAME, HID_UNIQ, a vendor-defined 64-byte report
// descriptor) and a hidraw node. hidapi's open asks for the report descriptor by ioctl; the
// kernel mock answers it. A tty is a USB serial adapter (USB device, interface, tty) or, without
// USB identity, a UART on the platform bus. Every plug takes the next hidraw or USB port number:
// the kernel does not hand a removed node's number out again at once, and umockdev cannot re-add a
// removed node under its name. A device plugged into a port it left before takes its old sysfs
// path, and so its old position.
//
// CMockHidCharger puts a simulated charger (sim/) behind a hidraw node: a thread carries reports
// between the node's device side and the charger, and mirrors the charger leaving the bus and
// coming back (as its boot loader, or after an update as application) as remove and add uevents:
// back at the same USB port, or at the next free one after the simulator's ReturnElsewhere.
// Thread-safe; every call may come from any thread.
#pragma once

#include "base/Clock.h"
#include "sim/SimHidCharger.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace crenovix::mock {

using SProperties = std::vector<std::pair<std::string, std::string>>;

struct SMockUsb {
    std::string vendorId = "0483"; // four hex digits, as sysfs shows them
    std::string productId = "5750";
    std::string manufacturer = "Kavro";
    std::string product = "Kelvorin K4";
    std::string serial = "SIM0001"; // empty: the device has none
};

struct SMockHid {
    SMockUsb usb;
    bool bOpenable = true;  // false: every open of the node fails
    SProperties properties; // more udev properties of the hidraw device
    int usbPort = 0;        // the hub port ("1-<n>") it is plugged into; 0: the next free one
};

struct SMockTty {
    std::string node = "ttyUSB0";
    bool bOnUsb = true; // false: a UART on the platform bus, `usb` unused
    SMockUsb usb{"0403", "6001", "FTDI", "FT232R USB UART", "A10K1"};
    SProperties properties; // more udev properties of the tty
    // Above 0: a bridge whose driver shows its latency timer (ms) as the attribute latency_timer
    // of the port device between interface and tty, and sets it to 1 while the port's
    // low-latency flag (TIOCSSERIAL) is on, as ftdi_sio does.
    int latencyTimerMs = 0;
};

class CMockKernel {
public:
    // nullptr with `whyNot` set when umockdev is not preloaded or the testbed cannot be made.
    static std::unique_ptr<CMockKernel> Create(std::string& whyNot);
    ~CMockKernel();
    CMockKernel(const CMockKernel&) = delete;
    CMockKernel& operator=(const CMockKernel&) = delete;

    // Plugs the device in (an "add" uevent) and returns its node: "/dev/hidraw3", "/dev/ttyUSB0".
    std::string PlugHid(const SMockHid& hid);
    std::string PlugTty(const SMockTty& tty);
    // Takes a hub port number no device has used yet, for SMockHid::usbPort.
    int NextUsbPort();
    // A "remove" uevent, then the device and its USB parents are gone.
    void Unplug(const std::string& node);
    // The device side of a node (a pseudo-terminal's master, raw); -1 for an unknown node.
    int DeviceFd(const std::string& node);
    // The node's mode bits as stat() sees them. Root opens the node all the same; a node that
    // nobody can open is SMockHid::bOpenable = false.
    void SetNodeMode(const std::string& node, unsigned mode);
    // What the nodes' drivers were asked to change, in order: "ttyUSB0: low latency on,
    // latency_timer 1".
    std::vector<std::string> DriverLog();
    // UMOCKDEV_DIR for child processes.
    const std::string& Dir() const { return dir_; }

    struct STestbed;

private:
    CMockKernel() = default;
    std::string Plug(const std::string& records, const std::string& node, bool bOpenable,
                     const std::string& portDevice = {}, int latencyTimerMs = 0);

    std::recursive_mutex mutex_;
    std::unique_ptr<STestbed> testbed_;
    std::string dir_;
    int nextHidraw_ = 0;
    int nextUsbPort_ = 1;
    int nextHid_ = 1;
};

class CMockHidCharger {
public:
    // Plugs the charger in now as `hid` (its product id is the config's; its port is chosen here).
    CMockHidCharger(CMockKernel& kernel, IClock& clock, sim::SSimHidConfig config, SMockHid hid);
    ~CMockHidCharger();
    CMockHidCharger(const CMockHidCharger&) = delete;
    CMockHidCharger& operator=(const CMockHidCharger&) = delete;

    sim::SSimResults Results();
    // The node it is plugged in at now; empty while it is away.
    std::string Node();
    // Pulled out of its USB port: it stops answering and its node goes ("remove").
    void Unplug();

private:
    void Run();
    void Follow(); // mirrors the charger's presence onto the bus

    CMockKernel& kernel_;
    SMockHid hid_;
    std::mutex mutex_; // guards charger_, node_
    sim::CSimHidCharger charger_;
    std::string node_;
    std::uint64_t instance_ = 0;
    int order_ = 0;
    int usbPort_ = 0;
    int hostSide_ = -1; // the node's pseudo-terminal slave: what the host has not read yet
    std::chrono::steady_clock::time_point answeredAt_;
    std::vector<std::uint8_t> pending_; // bytes of a report not yet whole
    std::atomic<bool> bStop_{false};
    std::thread thread_;
};

} // namespace crenovix::mock
