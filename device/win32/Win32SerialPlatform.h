// Serial-port enumeration on Windows: the sources the portable enumeration (ListDevices) reads.
//
// - Port listing and bus descriptions: from the system version (GetVersionExA), asked anew each
//   time, by the rules below. Without a manifest that names newer systems, Windows 8.1 and later
//   report 6.2 (build 9200); any NT system from 2000 on keeps the list of present ports.
// - Present ports: the present interfaces of the COM-port class
//   {86E0D1E0-8089-11D0-9CE4-08003E301F73} (SetupDiGetClassDevsA, DIGCF_PRESENT |
//   DIGCF_DEVICEINTERFACE), taken by position (SetupDiEnumDeviceInterfaces). The device path
//   comes from SetupDiGetDeviceInterfaceDetailA into a record with room for 256 characters and
//   the terminator; a longer path fails with ERROR_INSUFFICIENT_BUFFER. Friendly name, device
//   description and location information are SetupDiGetDeviceRegistryPropertyA texts of at most
//   255 characters (256 bytes). The bus description is the bus-reported description, read with
//   SetupDiGetDevicePropertyW, found with GetProcAddress in setupapi.dll so that the program
//   still starts on a system whose setupapi lacks it; its UTF-16 text (256 bytes) is converted
//   to the ANSI code page (256 bytes). Property values that are not text count as unreadable.
// - Device tree: the registry under HKEY_LOCAL_MACHINE\Enum opened for reading; key names of at
//   most 127 characters, text values (REG_SZ) of at most 127 characters.
// - Probe: CreateFileA for reading and writing, not shared, not overlapped; closed at once.
// - Latency timer: the device keys (SetupDiOpenDevRegKey, DIREG_DEV) of the same COM-port
//   interfaces, the one whose PortName names the port.
#pragma once

#include "device/SerialPlatform.h"

#include <cstdint>
#include <memory>
#include <string>

namespace crenovix {

// The listing a Windows version keeps: the present ports from major version 5 (2000) on, the
// numbered ports on older systems of the NT family (platform id 2), the device tree in the
// registry on the 9x family.
ESerialPortListing PortListingOfWindows(std::uint32_t majorVersion, std::uint32_t platformId);
// Systems from build 7000 on report the bus description of a device; older ones only have the
// location information.
bool WindowsReportsBusDescriptions(std::uint32_t buildNumber);

class CWin32SerialPlatform final : public ISerialPlatform {
public:
    // Nothing (with the last error) when the system version cannot be read.
    std::optional<ESerialPortListing> GetPortListing(std::uint32_t& lastError) override;
    // False also when the system version cannot be read.
    bool ReportsBusDescriptions() override;
    // nullptr (with lastError) when the system refuses the set.
    std::unique_ptr<ISerialPortList> OpenPortList(std::uint32_t& lastError) override;
    // nullptr when HKEY_LOCAL_MACHINE\Enum cannot be opened (every NT system: it is a 9x key).
    std::unique_ptr<IDeviceTreeKey> OpenDeviceTree() override;
    bool ProbePort(const std::string& path) override;
    // The LatencyTimer value (a DWORD in ms) that a USB serial bridge's driver keeps in the
    // device key of the port whose PortName is `portName`; nothing for other drivers.
    std::optional<std::uint32_t> LatencyTimerMs(const std::string& portName) override;
};

// A registry key opened for reading under `root` (an HKEY) at `path`, read the way the device
// tree under HKEY_LOCAL_MACHINE\Enum is read; nullptr when it cannot be opened.
std::unique_ptr<IDeviceTreeKey> OpenRegistryKeyForReading(void* root, const std::string& path);

} // namespace crenovix
