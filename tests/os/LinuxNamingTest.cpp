// The Linux adapters' rules that need no charger: port names to paths, HID strings to UTF-16,
// the serial enumeration's records, and that the system sources open and close cleanly.
#include "device/linux/DeviceMonitor.h"
#include "device/linux/HidApiDevices.h"
#include "device/linux/LinuxPortOpener.h"
#include "device/linux/UdevSerialPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace crenovix {
namespace {

using namespace std::chrono_literals;

// The device list's reading of a path: the third field when split at "#".
std::string Field2(const std::string& path) {
    const auto first = path.find('#');
    if (first == std::string::npos) {
        return "";
    }
    const auto second = path.find('#', first + 1);
    if (second == std::string::npos) {
        return "";
    }
    return path.substr(second + 1, path.find('#', second + 1) - second - 1);
}

// The device list's reading of a friendly name: between the first "(" and the next ")".
std::string PortInParentheses(const std::string& friendly) {
    const auto open = friendly.find('(');
    const auto close = friendly.find(')', open);
    if (open == std::string::npos || close == std::string::npos) {
        return "";
    }
    return friendly.substr(open + 1, close - open - 1);
}

SSerialPortRecord UsbPort(std::string devNode, std::string serial, std::string product) {
    SSerialPortRecord port;
    port.devNode = std::move(devNode);
    port.usb = SUsbIdentity{"0483", "5750", std::move(serial), std::move(product)};
    return port;
}

SSerialPortRecord PlainPort(std::string devNode) {
    SSerialPortRecord port;
    port.devNode = std::move(devNode);
    return port;
}

TEST(LinuxSerialPathFor, PlainNodeNamesLiveInDev) {
    EXPECT_EQ(LinuxSerialPathFor("ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(LinuxSerialPathFor("ttyUSB1"), "/dev/ttyUSB1");
    EXPECT_EQ(LinuxSerialPathFor("rfcomm_0.x-1"), "/dev/rfcomm_0.x-1");
    // Not looked up: an absent port fails when it is opened, not here.
    EXPECT_EQ(LinuxSerialPathFor("LPT1"), "/dev/LPT1");
}

TEST(LinuxSerialPathFor, ComNamesAndUnsafeNamesGiveNothing) {
    for (const char* name : {"COM3", "com3", "Com10", "COM", "", ".", "..", "../etc/passwd",
                             "pts/3", "tty ACM0", "tty\nx", "ttyÄ"}) {
        EXPECT_EQ(LinuxSerialPathFor(name), std::nullopt) << name;
    }
    EXPECT_EQ(LinuxSerialPathFor(std::string(300, 'a')), std::nullopt);
}

TEST(LinuxSerialPathFor, AbsolutePathsMustBeCharacterDevices) {
    EXPECT_EQ(LinuxSerialPathFor("/dev/null"), "/dev/null");
    EXPECT_EQ(LinuxSerialPathFor("/tmp"), std::nullopt);
    EXPECT_EQ(LinuxSerialPathFor("/nonexistent/ttyX"), std::nullopt);
}

TEST(WideToUtf16, MapsCodePointsToUnitsUpToTheFirstNul) {
    EXPECT_EQ(WideToUtf16(L"Kavro 12"), u"Kavro 12");
    EXPECT_EQ(WideToUtf16(L"\u00E9\u4E2D"), u"\u00E9\u4E2D");
    // Beyond the first plane: a surrogate pair, so the scan keeps two low bytes as Windows does.
    EXPECT_EQ(WideToUtf16(L"A\U0001F600B"), (std::u16string{u'A', 0xD83D, 0xDE00, u'B'}));
    EXPECT_EQ(WideToUtf16(L"\U0010FFFF"), (std::u16string{0xDBFF, 0xDFFF}));

    const wchar_t withNul[] = {L'S', L'N', 0, L'X', 0};
    EXPECT_EQ(WideToUtf16(std::wstring_view(withNul, 4)), u"SN");
    const wchar_t tooLarge[] = {static_cast<wchar_t>(0x110000), L'a'};
    EXPECT_EQ(WideToUtf16(std::wstring_view(tooLarge, 2)), u"\uFFFDa");
    EXPECT_EQ(WideToUtf16(L""), u"");
}

TEST(SerialInterfacePath, UsbPortsCarryTheSerialNumberAsField2) {
    const auto port = UsbPort("/dev/ttyACM0", "0012AB", "Kavro C4");
    const std::string path = SerialInterfacePath(port);
    EXPECT_EQ(path, "/dev/ttyACM0#0483&5750#0012AB");
    EXPECT_EQ(Field2(path), "0012AB");
    EXPECT_EQ(SerialNodeFromPath(path), "/dev/ttyACM0");
}

TEST(SerialInterfacePath, OtherPortsAreTheirNodeAlone) {
    const std::string path = SerialInterfacePath(PlainPort("/dev/ttyS0"));
    EXPECT_EQ(path, "/dev/ttyS0");
    EXPECT_EQ(Field2(path), "");
    EXPECT_EQ(SerialNodeFromPath(path), "/dev/ttyS0");
    // A USB device without a serial number shows an empty one.
    EXPECT_EQ(Field2(SerialInterfacePath(UsbPort("/dev/ttyUSB0", "", ""))), "");
}

TEST(SerialInterfacePath, LongSerialNumbersAreCutToFitThePathLimit) {
    const std::string path =
        SerialInterfacePath(UsbPort("/dev/ttyACM0", std::string(400, 'S'), ""));
    EXPECT_EQ(path.size(), kMaxInterfacePath);
    EXPECT_EQ(SerialNodeFromPath(path), "/dev/ttyACM0");
    const std::string head = "/dev/ttyACM0#0483&5750#";
    EXPECT_EQ(path, head + std::string(kMaxInterfacePath - head.size(), 'S'));
}

TEST(SerialFriendlyName, ParenthesesGiveTheNodeNameAsPortName) {
    const std::string friendly = SerialFriendlyName("USB Serial Device", "ttyACM0");
    EXPECT_EQ(friendly, "USB Serial Device (ttyACM0)");
    EXPECT_EQ(PortInParentheses(friendly), "ttyACM0");
    EXPECT_EQ(LinuxSerialPathFor(PortInParentheses(friendly)), "/dev/ttyACM0");

    const std::string tricky = SerialFriendlyName("Bridge (rev B)", "ttyUSB2");
    EXPECT_EQ(tricky, "Bridge [rev B] (ttyUSB2)");
    EXPECT_EQ(PortInParentheses(tricky), "ttyUSB2");
}

TEST(SerialFriendlyName, LongDescriptionsAreCutButKeepTheNode) {
    // Two-byte characters: the cut must not split one.
    std::string description;
    for (int i = 0; i < 200; ++i) {
        description += "\xC3\xA9";
    }
    const std::string friendly = SerialFriendlyName(description, "ttyACM0");
    EXPECT_LE(friendly.size(), kMaxPropertyText);
    EXPECT_EQ(PortInParentheses(friendly), "ttyACM0");
    const std::string shown = friendly.substr(0, friendly.find(" ("));
    EXPECT_EQ(shown.size() % 2, 0u);
}

TEST(SerialNodeName, NodesOutsideDevTopLevelKeepTheirPath) {
    EXPECT_EQ(SerialNodeName("/dev/ttyACM0"), "ttyACM0");
    EXPECT_EQ(SerialNodeName("/dev/serial/x"), "/dev/serial/x");
    EXPECT_EQ(LinuxSerialPathFor(SerialNodeName("/dev/ttyS3")), "/dev/ttyS3");
}

TEST(SerialDescription, PrefersTheDatabaseThenTheProductString) {
    auto usb = UsbPort("/dev/ttyUSB0", "", "Kavro C4");
    EXPECT_EQ(SerialDescription(usb), "Kavro C4");
    usb.modelFromDatabase = "CP210x UART Bridge";
    EXPECT_EQ(SerialDescription(usb), "CP210x UART Bridge");
    EXPECT_EQ(SerialDescription(UsbPort("/dev/ttyUSB0", "", "")), "USB Serial Port");
    EXPECT_EQ(SerialDescription(PlainPort("/dev/ttyS0")), "Serial Port");
}

TEST(NodeNameLess, NumbersCompareByValue) {
    std::vector<std::string> names{"ttyUSB0", "ttyACM10", "ttyS1", "ttyACM2", "ttyACM1", "ttyS01"};
    std::sort(names.begin(), names.end(), NodeNameLess);
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM1", "ttyACM2", "ttyACM10", "ttyS01", "ttyS1",
                                               "ttyUSB0"}));
    EXPECT_FALSE(NodeNameLess("ttyS1", "ttyS1"));
}

TEST(CSerialPortSnapshot, ListsPortsInNodeOrderWithTheirTexts) {
    CSerialPortSnapshot snapshot({UsbPort("/dev/ttyACM10", "B", "USB Device X"),
                                  PlainPort("/dev/ttyS0"), UsbPort("/dev/ttyACM2", "A", "Kavro")});
    std::uint32_t error = 0;
    std::vector<std::string> paths;
    for (int position = 0;; ++position) {
        const auto result = snapshot.EnumPort(position, error);
        if (result == ISerialPortList::EEnum::NoMoreItems) {
            break;
        }
        ASSERT_EQ(result, ISerialPortList::EEnum::Ok);
        std::string path;
        ASSERT_TRUE(snapshot.GetPortPath(position, path, error));
        paths.push_back(path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/dev/ttyACM2#0483&5750#A",
                                               "/dev/ttyACM10#0483&5750#B", "/dev/ttyS0"}));

    EXPECT_EQ(snapshot.GetPortText(0, EPortText::FriendlyName), "Kavro (ttyACM2)");
    EXPECT_EQ(snapshot.GetPortText(0, EPortText::Description), "Kavro");
    EXPECT_EQ(snapshot.GetBusDescription(0), "Kavro");
    EXPECT_EQ(snapshot.GetBusDescription(1), "USB Device X");
    EXPECT_EQ(snapshot.GetPortText(2, EPortText::FriendlyName), "Serial Port (ttyS0)");
    EXPECT_EQ(snapshot.GetBusDescription(2), std::nullopt);
    EXPECT_EQ(snapshot.GetPortText(2, EPortText::Location), std::nullopt);
    EXPECT_EQ(snapshot.GetPortText(3, EPortText::FriendlyName), std::nullopt);
    std::string unused;
    EXPECT_FALSE(snapshot.GetPortPath(3, unused, error));
}

TEST(CSerialPortSnapshot, RefusesAPathBeyondTheLimit) {
    CSerialPortSnapshot snapshot({PlainPort("/dev/" + std::string(300, 'x'))});
    std::uint32_t error = 0;
    std::string path;
    EXPECT_FALSE(snapshot.GetPortPath(0, path, error));
    EXPECT_EQ(error, static_cast<std::uint32_t>(ENAMETOOLONG));
}

TEST(CUdevSerialPlatform, OffersItsPresentPortsWithBusDescriptions) {
    CUdevSerialPlatform platform;
    std::uint32_t error = 0;
    EXPECT_EQ(platform.GetPortListing(error), ESerialPortListing::PresentPorts);
    EXPECT_TRUE(platform.ReportsBusDescriptions());
    EXPECT_EQ(platform.OpenDeviceTree(), nullptr);
}

TEST(CUdevSerialPlatform, ScanListsOnlyPortsWithDeviceNodes) {
    int error = 0;
    const auto ports = ScanSerialPorts(error);
    ASSERT_TRUE(ports.has_value()) << "errno " << error;
    for (const auto& port : *ports) {
        EXPECT_TRUE(port.devNode.starts_with("/dev/")) << port.devNode;
        // Consoles and pseudo-terminals have no device behind them.
        for (const char* virtualNode : {"/dev/tty", "/dev/tty0", "/dev/console", "/dev/ptmx"}) {
            EXPECT_NE(port.devNode, virtualNode);
        }
    }
    CUdevSerialPlatform platform;
    std::uint32_t lastError = 0;
    EXPECT_NE(platform.OpenPortList(lastError), nullptr);
}

TEST(HidApiDevices, PositionsPastTheEndHaveNoInterface) {
    CHidApiInterfaceSet set;
    std::unique_ptr<IHidScanDevice> device;
    EXPECT_EQ(set.OpenHidForScan(1 << 20, device), EHidScanOpen::NoInterface);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(set.OpenHidForScan(-1, device), EHidScanOpen::NoInterface);
    EXPECT_EQ(OpenHidChannel(1 << 20), nullptr);
    CLinuxPortOpener opener;
    EXPECT_EQ(opener.OpenHid(-1), nullptr);
}

TEST(CDeviceMonitor, DispatchWithoutEventsCallsNothing) {
    int calls = 0;
    int error = 0;
    const auto monitor = CDeviceMonitor::Create([&] { ++calls; }, error);
    if (!monitor) {
        GTEST_SKIP() << "no udev monitor here, errno " << error;
    }
    EXPECT_GE(monitor->Fd(), 0);
    EXPECT_EQ(monitor->Dispatch(), 0);
    EXPECT_EQ(calls, 0);
}

TEST(CDeviceMonitorThread, StopsPromptlyWhenDestroyed) {
    std::atomic<int> calls = 0;
    int error = 0;
    auto runner = CDeviceMonitorThread::Start([&] { ++calls; }, error);
    if (!runner) {
        GTEST_SKIP() << "no udev monitor here, errno " << error;
    }
    const auto start = std::chrono::steady_clock::now();
    runner.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

} // namespace
} // namespace crenovix
