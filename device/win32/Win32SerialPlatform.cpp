#include "device/win32/Win32SerialPlatform.h"

#include <windows.h>

#include <devpropdef.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

namespace crenovix {

namespace {

// The COM-port interface class (GUID_DEVINTERFACE_COMPORT), spelled out so that no object file
// has to define the system's GUID constants.
constexpr GUID kComPortInterfaceClass = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
// The bus-reported device description (DEVPKEY_Device_BusReportedDeviceDesc).
constexpr DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};

constexpr std::size_t kMaxInterfacePath = 256;
// The detail record: its fixed part and room for the longest path the enumeration takes, the
// terminator included (261 bytes, as in a 32-bit program); DWORD storage keeps it aligned.
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
constexpr std::size_t kDetailBytes = kPathOffset + kMaxInterfacePath + 1;
constexpr std::size_t kDetailWords =
    (std::max(kDetailBytes, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) + sizeof(DWORD) - 1) /
    sizeof(DWORD);
constexpr std::size_t kPropertyBytes = 256;
constexpr std::size_t kRegistryTextBytes = 128;

constexpr std::uint32_t kFirstVersionWithPortInterfaces = 5;
constexpr std::uint32_t kPlatformNt = 2; // VER_PLATFORM_WIN32_NT
constexpr std::uint32_t kFirstBuildWithBusDescription = 7000;

using GetDevicePropertyW = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                         DEVPROPTYPE*, PBYTE, DWORD, PDWORD, DWORD);

// Absent from the setupapi of systems before Vista; looked up once.
GetDevicePropertyW FindGetDevicePropertyW() {
    static const GetDevicePropertyW function = []() -> GetDevicePropertyW {
        const HMODULE setupapi = GetModuleHandleA("setupapi.dll");
        if (setupapi == nullptr) {
            return nullptr;
        }
        const FARPROC found = GetProcAddress(setupapi, "SetupDiGetDevicePropertyW");
        // Through the one function type that converts to every other without a warning.
        return reinterpret_cast<GetDevicePropertyW>(reinterpret_cast<void (*)()>(found));
    }();
    return function;
}

// The text in `bytes` up to its first zero byte; the data need not be terminated.
std::string TextUpToZero(const char* bytes, std::size_t size) {
    const void* zero = std::memchr(bytes, 0, size);
    return std::string(bytes, zero != nullptr ? static_cast<const char*>(zero) : bytes + size);
}

class CComInterfaceSet final : public ISerialPortList {
public:
    explicit CComInterfaceSet(HDEVINFO set) : set_(set) {}
    ~CComInterfaceSet() override { SetupDiDestroyDeviceInfoList(set_); }
    CComInterfaceSet(const CComInterfaceSet&) = delete;
    CComInterfaceSet& operator=(const CComInterfaceSet&) = delete;

    EEnum EnumPort(int position, std::uint32_t& lastError) override {
        SP_DEVICE_INTERFACE_DATA data{};
        if (Interface(position, data)) {
            return EEnum::Ok;
        }
        lastError = GetLastError();
        return lastError == ERROR_NO_MORE_ITEMS ? EEnum::NoMoreItems : EEnum::Failed;
    }

    bool GetPortPath(int position, std::string& path, std::uint32_t& lastError) override {
        SP_DEVICE_INTERFACE_DATA data{};
        if (!Interface(position, data)) {
            lastError = GetLastError();
            return false;
        }
        std::array<DWORD, kDetailWords> storage{};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        // The size of the record's fixed part: 5 in a 32-bit program, 8 in a 64-bit one.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, static_cast<DWORD>(kDetailBytes),
                                              nullptr, &device)) {
            lastError = GetLastError();
            return false;
        }
        const std::string text = TextUpToZero(detail->DevicePath, kDetailBytes - kPathOffset);
        if (text.size() > kMaxInterfacePath) {
            lastError = ERROR_INSUFFICIENT_BUFFER;
            return false;
        }
        path = text;
        devicePosition_ = position;
        device_ = device;
        return true;
    }

    std::optional<std::string> GetPortText(int position, EPortText text) override {
        SP_DEVINFO_DATA device{};
        if (!Device(position, device)) {
            return std::nullopt;
        }
        DWORD code = SPDRP_FRIENDLYNAME;
        switch (text) {
        case EPortText::FriendlyName:
            code = SPDRP_FRIENDLYNAME;
            break;
        case EPortText::Description:
            code = SPDRP_DEVICEDESC;
            break;
        case EPortText::Location:
            code = SPDRP_LOCATION_INFORMATION;
            break;
        }
        std::array<char, kPropertyBytes> buffer{};
        DWORD type = 0;
        DWORD size = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set_, &device, code, &type,
                                               reinterpret_cast<PBYTE>(buffer.data()),
                                               static_cast<DWORD>(buffer.size()), &size) ||
            (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return std::nullopt;
        }
        // At most 255 characters: the last byte is always the terminator's.
        return TextUpToZero(buffer.data(), std::min<std::size_t>(size, buffer.size() - 1));
    }

    std::optional<std::string> GetBusDescription(int position) override {
        const GetDevicePropertyW getProperty = FindGetDevicePropertyW();
        SP_DEVINFO_DATA device{};
        if (getProperty == nullptr || !Device(position, device)) {
            return std::nullopt;
        }
        std::array<WCHAR, kPropertyBytes / sizeof(WCHAR)> wide{};
        DEVPROPTYPE type = 0;
        DWORD size = 0;
        if (!getProperty(set_, &device, &kBusReportedDeviceDesc, &type,
                         reinterpret_cast<PBYTE>(wide.data()), static_cast<DWORD>(sizeof(wide)),
                         &size, 0) ||
            type != DEVPROP_TYPE_STRING) {
            return std::nullopt;
        }
        // A text that fills the buffer has no room for its terminator: cut at the last unit.
        wide.back() = 0;
        std::array<char, kPropertyBytes> text{};
        if (WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, wide.data(), -1, text.data(),
                                static_cast<int>(text.size()), nullptr, nullptr) == 0) {
            return std::nullopt;
        }
        return TextUpToZero(text.data(), text.size());
    }

private:
    bool Interface(int position, SP_DEVICE_INTERFACE_DATA& data) {
        if (position < 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        data.cbSize = sizeof(data);
        return SetupDiEnumDeviceInterfaces(set_, nullptr, &kComPortInterfaceClass,
                                           static_cast<DWORD>(position), &data) != FALSE;
    }

    // The device of the interface at `position`: the one the last detail read found, else
    // asked for again (with a detail record as large as the system says it needs).
    bool Device(int position, SP_DEVINFO_DATA& device) {
        if (devicePosition_ == position) {
            device = device_;
            return true;
        }
        SP_DEVICE_INTERFACE_DATA data{};
        if (!Interface(position, data)) {
            return false;
        }
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            return false;
        }
        std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        device = SP_DEVINFO_DATA{};
        device.cbSize = sizeof(device);
        if (!SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, needed, nullptr, &device)) {
            return false;
        }
        devicePosition_ = position;
        device_ = device;
        return true;
    }

    HDEVINFO set_;
    int devicePosition_ = -1;
    SP_DEVINFO_DATA device_{};
};

class CRegistryKey final : public IDeviceTreeKey {
public:
    explicit CRegistryKey(HKEY key) : key_(key) {}
    ~CRegistryKey() override { RegCloseKey(key_); }
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    static std::unique_ptr<IDeviceTreeKey> Open(HKEY parent, const std::string& name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return nullptr;
        }
        return std::make_unique<CRegistryKey>(key);
    }

    std::optional<std::string> EnumSubkey(int index) override {
        if (index < 0) {
            return std::nullopt;
        }
        std::array<char, kRegistryTextBytes> name{};
        // In characters, the terminator included; a longer name fails with ERROR_MORE_DATA.
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key_, static_cast<DWORD>(index), name.data(), &length, nullptr, nullptr,
                          nullptr, nullptr) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return TextUpToZero(name.data(), std::min<std::size_t>(length, name.size() - 1));
    }

    std::unique_ptr<IDeviceTreeKey> OpenSubkey(const std::string& name) override {
        return Open(key_, name);
    }

    std::optional<std::string> QueryString(const std::string& valueName) override {
        std::array<char, kRegistryTextBytes> value{};
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(value.size());
        if (RegQueryValueExA(key_, valueName.c_str(), nullptr, &type,
                             reinterpret_cast<LPBYTE>(value.data()), &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        // A value stored without its terminator may fill all 128 bytes: one character too many.
        const std::string text =
            TextUpToZero(value.data(), std::min<std::size_t>(size, value.size()));
        if (text.size() >= kRegistryTextBytes) {
            return std::nullopt;
        }
        return text;
    }

private:
    HKEY key_;
};

std::optional<OSVERSIONINFOA> SystemVersion(std::uint32_t& lastError) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) {
        lastError = GetLastError();
        return std::nullopt;
    }
    return info;
}

} // namespace

ESerialPortListing PortListingOfWindows(std::uint32_t majorVersion, std::uint32_t platformId) {
    if (majorVersion >= kFirstVersionWithPortInterfaces) {
        return ESerialPortListing::PresentPorts;
    }
    return platformId == kPlatformNt ? ESerialPortListing::NumberedPorts
                                     : ESerialPortListing::DeviceTree;
}

bool WindowsReportsBusDescriptions(std::uint32_t buildNumber) {
    return buildNumber >= kFirstBuildWithBusDescription;
}

std::optional<ESerialPortListing> CWin32SerialPlatform::GetPortListing(std::uint32_t& lastError) {
    const std::optional<OSVERSIONINFOA> version = SystemVersion(lastError);
    if (!version) {
        return std::nullopt;
    }
    return PortListingOfWindows(version->dwMajorVersion, version->dwPlatformId);
}

bool CWin32SerialPlatform::ReportsBusDescriptions() {
    std::uint32_t lastError = 0;
    const std::optional<OSVERSIONINFOA> version = SystemVersion(lastError);
    return version && WindowsReportsBusDescriptions(version->dwBuildNumber);
}

std::unique_ptr<ISerialPortList> CWin32SerialPlatform::OpenPortList(std::uint32_t& lastError) {
    const HDEVINFO set = SetupDiGetClassDevsA(&kComPortInterfaceClass, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        lastError = GetLastError();
        return nullptr;
    }
    return std::make_unique<CComInterfaceSet>(set);
}

std::unique_ptr<IDeviceTreeKey> CWin32SerialPlatform::OpenDeviceTree() {
    return CRegistryKey::Open(HKEY_LOCAL_MACHINE, "Enum");
}

bool CWin32SerialPlatform::ProbePort(const std::string& path) {
    const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(port);
    return true;
}

std::optional<std::uint32_t> CWin32SerialPlatform::LatencyTimerMs(const std::string& portName) {
    const HDEVINFO set = SetupDiGetClassDevsA(&kComPortInterfaceClass, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> latency;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    bool found = false;
    for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        // The device's own key ("Device Parameters"), where port drivers keep PortName and a
        // bridge's driver its settings.
        const HKEY key =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        std::array<char, 64> name{};
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(name.size() - 1);
        if (RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name.data()),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ && lstrcmpiA(name.data(), portName.c_str()) == 0) {
            found = true;
            DWORD value = 0;
            size = sizeof value;
            if (RegQueryValueExA(key, "LatencyTimer", nullptr, &type,
                                 reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
                type == REG_DWORD && size == sizeof value) {
                latency = value;
            }
        }
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return latency;
}

std::unique_ptr<IDeviceTreeKey> OpenRegistryKeyForReading(void* root, const std::string& path) {
    return CRegistryKey::Open(static_cast<HKEY>(root), path);
}

} // namespace crenovix
