// Serial-port enumeration on Linux: the tty devices libudev knows, offered to the portable
// enumeration (ListDevices) as the list of present ports. That is the only listing Linux keeps:
// there is no device tree, and the numbered ports' COM names mean nothing here. Bus descriptions
// are always reported (the USB product string below).
//
// Each listed port is a tty with a real device behind it (USB serial, PCI or platform UARTs);
// virtual consoles, pseudo-terminals and serial_core slots without a UART (port type 0) are left
// out. Ports are listed in natural order of their node names (ttyACM2 before ttyACM10). Per port:
//  - path: "<device node>#<vendor id>&<product id>#<serial number>" for a USB port, so that the
//    device list finds the USB serial number as field 2 of the path split at "#"; the device node
//    alone otherwise. ProbePort opens only the part before the first "#".
//  - location: udev's ID_PATH; none when udev has no such property.
//  - description: the hardware database's model name (ID_MODEL_FROM_DATABASE), else the
//    USB product string, else "USB Serial Port" or "Serial Port".
//  - friendly name: "<description> (<node name>)". The device list takes the text inside the
//    parentheses as the port name, so the node name ("ttyACM0") is what LinuxSerialPathFor gets;
//    parentheses inside the description are shown as brackets so they cannot cut it short. A
//    node outside /dev's top level is named by its full path, which also opens.
//  - bus description: the USB product string; none for a port not on USB.
// Texts are UTF-8 and cut to 255 bytes (at a character boundary), paths to 256 bytes by
// shortening the serial number.
#pragma once

#include "device/SerialPlatform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace crenovix {

inline constexpr std::size_t kMaxPropertyText = 255;
inline constexpr std::size_t kMaxInterfacePath = 256;

struct SUsbIdentity {
    std::string vendorId;  // four hex digits as sysfs gives them ("0483")
    std::string productId; // likewise
    std::string serial;    // empty when the device has none
    std::string product;   // the product string; empty when the device has none
};

// What the enumeration knows of one port, gathered from udev.
struct SSerialPortRecord {
    std::string devNode;             // "/dev/ttyACM0"
    std::string modelFromDatabase;   // ID_MODEL_FROM_DATABASE, may be empty
    std::string location;            // ID_PATH, may be empty
    std::optional<SUsbIdentity> usb; // set for a port on a USB device
};

std::string SerialNodeName(const std::string& devNode);
std::string SerialInterfacePath(const SSerialPortRecord& port);
std::string SerialNodeFromPath(const std::string& path); // the part before the first "#"
std::string SerialDescription(const SSerialPortRecord& port);
std::string SerialFriendlyName(const std::string& description, const std::string& nodeName);
// Natural order: runs of digits compare by value, everything else byte by byte.
bool NodeNameLess(const std::string& left, const std::string& right);
// Whether a tty is a real port: it has a parent device, a device node, and its serial_core port
// type, when it has one ("type" attribute), is not 0 (no UART behind the slot).
bool IsListableTty(bool hasParent, bool hasDevNode, const std::optional<std::string>& portType);

// The port list over ports gathered once; positions follow NodeNameLess of the node names.
class CSerialPortSnapshot final : public ISerialPortList {
public:
    explicit CSerialPortSnapshot(std::vector<SSerialPortRecord> ports);

    EEnum EnumPort(int position, std::uint32_t& lastError) override;
    bool GetPortPath(int position, std::string& path, std::uint32_t& lastError) override;
    std::optional<std::string> GetPortText(int position, EPortText text) override;
    std::optional<std::string> GetBusDescription(int position) override;

private:
    const SSerialPortRecord* At(int position) const;
    std::vector<SSerialPortRecord> ports_;
};

// The tty ports present now; nothing (with `error` set to an errno value) when udev fails.
std::optional<std::vector<SSerialPortRecord>> ScanSerialPorts(int& error);

class CUdevSerialPlatform final : public ISerialPlatform {
public:
    // Always the present ports.
    std::optional<ESerialPortListing> GetPortListing(std::uint32_t& lastError) override;
    bool ReportsBusDescriptions() override { return true; }
    // nullptr (with an errno value) when udev fails.
    std::unique_ptr<ISerialPortList> OpenPortList(std::uint32_t& lastError) override;
    // No device tree on Linux: always nullptr.
    std::unique_ptr<IDeviceTreeKey> OpenDeviceTree() override;
    // Opens the node before the first "#" and closes it again. False when it cannot be opened,
    // is no terminal, or another program holds it exclusively (TIOCEXCL, or an flock() lock as
    // this program's own serial channel takes). The probe takes no exclusive flag itself: that
    // flag would outlive the probe while anybody else has the port open.
    bool ProbePort(const std::string& path) override;
};

} // namespace crenovix
