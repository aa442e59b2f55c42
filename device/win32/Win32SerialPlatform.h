// Serial-port enumeration on Windows: the sources the portable enumeration (ListDevices) reads.
//
// - Version: GetVersionExA. Without a manifest that names newer systems, Windows 8.1 and later
//   report 6.2 (build 9200); any NT system from 2000 on selects the interface route.
// - Interface route: the present interfaces of the COM-port class
//   {86E0D1E0-8089-11D0-9CE4-08003E301F73} (SetupDiGetClassDevsA, DIGCF_PRESENT |
//   DIGCF_DEVICEINTERFACE), taken by position (SetupDiEnumDeviceInterfaces). The device path
//   comes from SetupDiGetDeviceInterfaceDetailA into a record with room for 256 characters and
//   the terminator; a longer path fails with ERROR_INSUFFICIENT_BUFFER. Friendly name, device
//   description and location information are SetupDiGetDeviceRegistryPropertyA texts of at most
//   255 characters (256 bytes). The bus-reported description is read with
//   SetupDiGetDevicePropertyW, found with GetProcAddress in setupapi.dll so that the program
//   still starts on a system whose setupapi lacks it; its UTF-16 text (256 bytes) is converted
//   to the ANSI code page (256 bytes). Property values that are not text count as unreadable.
// - Registry route: HKEY_LOCAL_MACHINE\Enum opened for reading; key names of at most 127
//   characters, text values (REG_SZ) of at most 127 characters.
// - Probe: CreateFileA for reading and writing, not shared, not overlapped; closed at once.
#pragma once

#include "device/SerialPlatform.h"

#include <memory>
#include <string>

namespace crenovix {

class CWin32SerialPlatform final : public ISerialPlatform {
public:
    std::optional<SOsVersion> GetVersion(std::uint32_t& lastError) override;
    // nullptr (with lastError) when the system refuses the set.
    std::unique_ptr<IComInterfaceSet> GetComInterfaceSet(std::uint32_t& lastError) override;
    // nullptr when HKEY_LOCAL_MACHINE\Enum cannot be opened (every NT system: it is a 9x key).
    std::unique_ptr<IRegistryKey> OpenLocalMachineEnum() override;
    bool ProbePort(const std::string& path) override;
};

// A registry key opened for reading under `root` (an HKEY) at `path`, read the way the registry
// route reads HKEY_LOCAL_MACHINE\Enum; nullptr when it cannot be opened.
std::unique_ptr<IRegistryKey> OpenRegistryKeyForReading(void* root, const std::string& path);

} // namespace crenovix
