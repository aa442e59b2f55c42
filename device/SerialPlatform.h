// What serial-port enumeration needs of the system: which kind of port listing it keeps (that
// chooses the route), the sources of the routes and the probe. Each route's selection, matching
// and error logic is portable (device/SerialEnumeration.cpp); an adapter supplies the sources its
// system has and says which listing that is. Error codes are the system's error values, shown in
// lower-case hexadecimal in the error texts.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace crenovix {

// The kinds of serial-port listing a system may keep; each has a route of its own.
enum class ESerialPortListing {
    PresentPorts,  // a list of the ports present now, each with its path and texts
    NumberedPorts, // no list: the numbered ports COM1 to COM16 are taken, present or not
    DeviceTree,    // a tree of device keys, the ports being the keys that name a port
};

// The texts the system keeps for a port in its list.
enum class EPortText {
    FriendlyName, // "Communications Port (COM1)": a description and the port's name
    Description,  // the device's description
    Location,     // where it is attached; USB serial drivers put the product name there
};

// The system's list of present serial ports (present-ports route), taken by position. Released
// on destruction.
class ISerialPortList {
public:
    enum class EEnum { Ok, NoMoreItems, Failed };
    virtual ~ISerialPortList() = default;
    virtual EEnum EnumPort(int position, std::uint32_t& lastError) = 0;
    // The port's path, which the probe and the device list take; false (with lastError) when it
    // cannot be read or is longer than 256 characters.
    virtual bool GetPortPath(int position, std::string& path, std::uint32_t& lastError) = 0;
    // A text of at most 255 characters; nothing when unreadable.
    virtual std::optional<std::string> GetPortText(int position, EPortText text) = 0;
    // The description the port's bus reports (a USB product string); nothing when the system
    // cannot give it.
    virtual std::optional<std::string> GetBusDescription(int position) = 0;
};

// A key of the device tree (device-tree route). Closed on destruction.
class IDeviceTreeKey {
public:
    virtual ~IDeviceTreeKey() = default;
    // The name of subkey `index`; nothing at the end of the listing or when the name does not
    // fit 128 bytes.
    virtual std::optional<std::string> EnumSubkey(int index) = 0;
    virtual std::unique_ptr<IDeviceTreeKey> OpenSubkey(const std::string& name) = 0;
    // A text value; nothing when absent or longer than 127 characters.
    virtual std::optional<std::string> QueryString(const std::string& valueName) = 0;
};

class ISerialPlatform {
public:
    virtual ~ISerialPlatform() = default;
    // The listing the system keeps; nothing (with lastError) when the system cannot tell.
    virtual std::optional<ESerialPortListing> GetPortListing(std::uint32_t& lastError) = 0;
    // Whether the system reports the bus description of its ports; asked anew for every port
    // listed. Where it does not, a port's location text stands in.
    virtual bool ReportsBusDescriptions() = 0;
    // The present ports; nullptr (with lastError) when the system refuses the list.
    virtual std::unique_ptr<ISerialPortList> OpenPortList(std::uint32_t& lastError) = 0;
    // The root of the device tree (shown as HKLM\Enum in the error texts); nullptr when it
    // cannot be opened.
    virtual std::unique_ptr<IDeviceTreeKey> OpenDeviceTree() = 0;
    // Opens the port at `path` exclusively and closes it again; false when that fails.
    virtual bool ProbePort(const std::string& path) = 0;
    // The latency timer in ms of the USB serial bridge behind port `portName` ("COM4"): how long
    // it may hold received bytes. Nothing where the bridge's driver keeps none this program can
    // read.
    virtual std::optional<std::uint32_t> LatencyTimerMs(const std::string& /*portName*/) {
        return std::nullopt;
    }
};

} // namespace crenovix
