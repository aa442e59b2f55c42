// What serial-port enumeration needs of the platform: the system version that chooses the route,
// the three routes' sources and the probe. Each route's selection, matching and error logic is
// portable (device/SerialEnumeration.cpp); a platform supplies the sources it has. Error codes
// are the platform's last-error values, shown in lower-case hexadecimal in the error texts.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace crenovix {

struct SOsVersion {
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwPlatformId = 0; // 2: the NT family
    std::uint32_t dwBuildNumber = 0;
};

enum class EDeviceProperty { FriendlyName, DeviceDesc, LocationInformation };

// The set of present COM-port interfaces (interface route). Released on destruction.
class IComInterfaceSet {
public:
    enum class EEnum { Ok, NoMoreItems, Failed };
    virtual ~IComInterfaceSet() = default;
    virtual EEnum EnumInterface(int position, std::uint32_t& lastError) = 0;
    // The interface's device path; false (with lastError) when it cannot be read or is longer
    // than 256 characters.
    virtual bool GetInterfaceDetail(int position, std::string& path, std::uint32_t& lastError) = 0;
    // A device property as text of at most 255 characters; nothing when unreadable.
    virtual std::optional<std::string> GetProperty(int position, EDeviceProperty property) = 0;
    // The bus-reported device description as text; nothing when the system lacks the property
    // function or the call fails.
    virtual std::optional<std::string> GetBusReportedDescription(int position) = 0;
};

// A registry key (registry route). Closed on destruction.
class IRegistryKey {
public:
    virtual ~IRegistryKey() = default;
    // The name of subkey `index`; nothing at the end of the listing or when the name does not
    // fit 128 bytes.
    virtual std::optional<std::string> EnumSubkey(int index) = 0;
    virtual std::unique_ptr<IRegistryKey> OpenSubkey(const std::string& name) = 0;
    // A text value; nothing when absent or longer than 127 characters.
    virtual std::optional<std::string> QueryString(const std::string& valueName) = 0;
};

class ISerialPlatform {
public:
    virtual ~ISerialPlatform() = default;
    virtual std::optional<SOsVersion> GetVersion(std::uint32_t& lastError) = 0;
    virtual std::unique_ptr<IComInterfaceSet> GetComInterfaceSet(std::uint32_t& lastError) = 0;
    // HKEY_LOCAL_MACHINE\Enum; nullptr when it cannot be opened.
    virtual std::unique_ptr<IRegistryKey> OpenLocalMachineEnum() = 0;
    // Opens the port at `path` exclusively and closes it again; false when that fails.
    virtual bool ProbePort(const std::string& path) = 0;
};

} // namespace crenovix
