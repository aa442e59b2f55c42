#include "device/SerialEnumeration.h"

#include "device/ChargerIdentity.h"

#include "device/SerialPlatform.h"

#include <array>
#include <charconv>

namespace crenovix {

namespace {

constexpr int kNumberRouteLastPort = 16;

// Bounds on the platform's listings, so that a source that never reports its end cannot hang the
// enumeration. Far above any real machine.
constexpr int kMaxListedPorts = 4096;
constexpr int kMaxTreeSubkeys = 4096;

// The error texts name the Windows steps behind each source (the version query, the SetupDi
// calls, the registry's HKLM\Enum) on every system: users and their reports know them by these
// words.

// The "%lx" of the error texts: lower-case hexadecimal, no prefix.
std::string Hex(std::uint32_t value) {
    std::array<char, 16> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return std::string(digits.data(), result.ptr);
}

[[noreturn]] void Raise(const std::string& what, std::uint32_t lastError) {
    throw CEnumerationError(what + " (err=" + Hex(lastError) + ")");
}

// Where the system reports no bus descriptions, the location text stands in: USB serial drivers
// fill it with the product name.
std::string ReadBusDescription(ISerialPlatform& platform, ISerialPortList& ports, int position) {
    const std::optional<std::string> text = platform.ReportsBusDescriptions()
                                                ? ports.GetBusDescription(position)
                                                : ports.GetPortText(position, EPortText::Location);
    return text.value_or(std::string());
}

// "Communications Port (COM1)" -> "Communications Port". Only a trailing parenthesis that is
// the first ")" of the text is cut, and never the whole text.
std::string DescriptionFromFriendly(const std::string& friendly) {
    const std::size_t open = friendly.find(" (");
    const std::size_t close = friendly.find(')');
    if (open != std::string::npos && open > 0 && close != std::string::npos &&
        close == friendly.size() - 1) {
        return friendly.substr(0, open);
    }
    return friendly;
}

void AppendOrReplace(SerInfoList& list, SSerInfo record) {
    for (SSerInfo& existing : list) {
        if (existing.strPort == record.strPort) {
            existing = std::move(record);
            return;
        }
    }
    list.push_back(std::move(record));
}

} // namespace

void ListPortsByInterface(ISerialPlatform& platform, SerInfoList& list) {
    std::uint32_t lastError = 0;
    // The list is released when it goes out of scope, on the normal end and on a raised error.
    const std::unique_ptr<ISerialPortList> ports = platform.OpenPortList(lastError);
    if (!ports) {
        Raise("SetupDiGetClassDevs failed.", lastError);
    }
    for (int n = 0; n < kMaxListedPorts; ++n) {
        lastError = 0;
        const ISerialPortList::EEnum found = ports->EnumPort(n, lastError);
        if (found == ISerialPortList::EEnum::NoMoreItems) {
            return;
        }
        if (found != ISerialPortList::EEnum::Ok) {
            Raise("SetupDiEnumDeviceInterfaces failed.", lastError);
        }
        std::string path;
        lastError = 0;
        if (!ports->GetPortPath(n, path, lastError)) {
            Raise("SetupDiGetDeviceInterfaceDetail failed.", lastError);
        }
        const std::optional<std::string> friendly = ports->GetPortText(n, EPortText::FriendlyName);
        std::optional<std::string> desc;
        if (friendly) {
            desc = ports->GetPortText(n, EPortText::Description);
        }
        const std::string busDesc = ReadBusDescription(platform, *ports, n);
        if (!friendly || !desc) {
            continue;
        }
        SSerInfo record;
        record.strPath = std::move(path);
        record.strFriendly = *friendly;
        record.bCharger = IsChargerBusDescription(busDesc) ? 1 : 0;
        record.strDesc = *desc;
        record.strBusDesc = busDesc;
        list.push_back(std::move(record));
    }
}

void ListPortsByNumber(SerInfoList& list) {
    for (int n = 1; n <= kNumberRouteLastPort; ++n) {
        SSerInfo record;
        record.strPort = "COM" + std::to_string(n);
        record.strPath = "\\\\.\\" + record.strPort;
        list.push_back(std::move(record));
    }
}

void ScanPortKeys(IDeviceTreeKey& key, SerInfoList& list, bool bUsb) {
    for (int k = 0; k < kMaxTreeSubkeys; ++k) {
        const std::optional<std::string> name = key.EnumSubkey(k);
        if (!name) {
            return;
        }
        const std::unique_ptr<IDeviceTreeKey> instance = key.OpenSubkey(*name);
        if (!instance) {
            throw CEnumerationError("Could not read from HKLM\\Enum\\...\\" + *name);
        }
        const std::optional<std::string> portName = instance->QueryString("PORTNAME");
        if (!portName) {
            continue;
        }
        SSerInfo record;
        record.strPath = "\\\\.\\" + *portName;
        record.strPort = *portName;
        record.strFriendly = instance->QueryString("FRIENDLYNAME").value_or(std::string());
        record.bCharger = bUsb ? 1 : 0;
        AppendOrReplace(list, std::move(record));
    }
}

void ListPortsFromRegistry(ISerialPlatform& platform, SerInfoList& list) {
    const std::unique_ptr<IDeviceTreeKey> root = platform.OpenDeviceTree();
    if (!root) {
        throw CEnumerationError("Could not read from HKLM\\Enum");
    }
    for (int e = 0; e < kMaxTreeSubkeys; ++e) {
        const std::optional<std::string> enumerator = root->EnumSubkey(e);
        if (!enumerator) {
            return;
        }
        const std::unique_ptr<IDeviceTreeKey> enumeratorKey = root->OpenSubkey(*enumerator);
        if (!enumeratorKey) {
            throw CEnumerationError("Could not read from HKLM\\Enum\\" + *enumerator);
        }
        // Every device under the USB port enumerator is a USB serial charger.
        const bool bUsb = *enumerator == "USBPORTS";
        for (int d = 0; d < kMaxTreeSubkeys; ++d) {
            const std::optional<std::string> device = enumeratorKey->EnumSubkey(d);
            if (!device) {
                break;
            }
            // The standard serial port and the 16550-compatible one.
            if (!bUsb && *device != "*PNP0500" && *device != "*PNP0501") {
                continue;
            }
            const std::unique_ptr<IDeviceTreeKey> deviceKey = enumeratorKey->OpenSubkey(*device);
            if (!deviceKey) {
                throw CEnumerationError("Could not read from HKLM\\Enum\\" + *enumerator + "\\" +
                                        *device);
            }
            ScanPortKeys(*deviceKey, list, bUsb);
        }
    }
}

void ListDevices(ISerialPlatform& platform, IHidInterfaceSet& hid, SerInfoList& list,
                 bool bProbePorts) {
    list.clear();
    std::uint32_t lastError = 0;
    const std::optional<ESerialPortListing> listing = platform.GetPortListing(lastError);
    if (!listing) {
        Raise("Could not get OS version.", lastError);
    }
    switch (*listing) {
    case ESerialPortListing::PresentPorts:
        ListPortsByInterface(platform, list);
        break;
    case ESerialPortListing::NumberedPorts:
        ListPortsByNumber(list);
        break;
    case ESerialPortListing::DeviceTree:
        ListPortsFromRegistry(platform, list);
        break;
    }

    for (std::size_t i = 0; i < list.size();) {
        SSerInfo& record = list[i];
        if (bProbePorts && !platform.ProbePort(record.strPath)) {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (record.strFriendly.empty()) {
            record.strFriendly = record.strPort;
        }
        if (record.strDesc.empty()) {
            record.strDesc = DescriptionFromFriendly(record.strFriendly);
        }
        ++i;
    }

    ListHidChargers(hid, list);
}

void CDeviceEnumerator::ListDevices(SerInfoList& list, bool bProbePorts) {
    crenovix::ListDevices(platform_, hid_, list, bProbePorts);
}

} // namespace crenovix
