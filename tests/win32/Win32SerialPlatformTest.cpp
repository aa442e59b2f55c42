#include "device/win32/Win32SerialPlatform.h"
#include "device/SerialEnumeration.h"
#include "device/SerialPlatform.h"
#include "device/win32/Win32HidInterfaceSet.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace crenovix {
namespace {

TEST(Win32SerialPlatform, TheSystemVersionChoosesTheListing) {
    struct SCase {
        std::uint32_t major;
        std::uint32_t platformId;
        ESerialPortListing listing;
    };
    const SCase cases[] = {
        {5, 2, ESerialPortListing::PresentPorts},  // 2000 and XP
        {10, 2, ESerialPortListing::PresentPorts}, // 10 and 11
        {4, 2, ESerialPortListing::NumberedPorts}, // NT family before the interface API
        {4, 1, ESerialPortListing::DeviceTree},    // 9x family
        {3, 0, ESerialPortListing::DeviceTree},
    };
    for (const SCase& c : cases) {
        EXPECT_EQ(PortListingOfWindows(c.major, c.platformId), c.listing)
            << c.major << " " << c.platformId;
    }
    EXPECT_TRUE(WindowsReportsBusDescriptions(7000));
    EXPECT_TRUE(WindowsReportsBusDescriptions(19045));
    EXPECT_FALSE(WindowsReportsBusDescriptions(6999));
    EXPECT_FALSE(WindowsReportsBusDescriptions(2600));
}

TEST(Win32SerialPlatform, ThePresentPortsAreChosenAndTheirWalkEnds) {
    CWin32SerialPlatform platform;
    std::uint32_t lastError = 0;
    const std::optional<ESerialPortListing> listing = platform.GetPortListing(lastError);
    ASSERT_TRUE(listing.has_value()) << "err " << lastError;
    EXPECT_EQ(*listing, ESerialPortListing::PresentPorts);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(platform.ReportsBusDescriptions(), version.dwBuildNumber >= 7000);

    // Whatever ports the system has (wine's set is empty), the walk reaches its end and every
    // port it lists was read completely.
    CWin32HidInterfaceSet hid;
    SerInfoList list;
    ASSERT_NO_THROW(ListDevices(platform, hid, list, false));
    for (const SSerInfo& record : list) {
        if (record.nHidIndex >= 0) {
            continue;
        }
        EXPECT_FALSE(record.strPath.empty());
        EXPECT_LE(record.strPath.size(), 256u);
        EXPECT_FALSE(record.strFriendly.empty());
        EXPECT_FALSE(record.strDesc.empty());
    }
}

// The registry route's reading of a key tree laid out like HKEY_LOCAL_MACHINE\Enum, made under
// HKEY_CURRENT_USER for the test.
class RegistryRouteTest : public ::testing::Test {
protected:
    class CTreePlatform final : public ISerialPlatform {
    public:
        explicit CTreePlatform(std::string path) : path_(std::move(path)) {}
        std::optional<ESerialPortListing> GetPortListing(std::uint32_t&) override {
            return ESerialPortListing::DeviceTree;
        }
        bool ReportsBusDescriptions() override { return false; }
        std::unique_ptr<ISerialPortList> OpenPortList(std::uint32_t&) override { return nullptr; }
        std::unique_ptr<IDeviceTreeKey> OpenDeviceTree() override {
            return OpenRegistryKeyForReading(HKEY_CURRENT_USER, path_);
        }
        bool ProbePort(const std::string&) override { return true; }

    private:
        std::string path_;
    };

    void SetUp() override {
        root_ = "Software\\crenovix-test-" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str());
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str()); }

    // Creates Enum\<key> and sets a text value in it; `bytes` overrides the stored length.
    void SetText(const std::string& key, const std::string& name, const std::string& text,
                 std::optional<DWORD> bytes = std::nullopt) {
        HKEY handle = Create(key);
        const DWORD size = bytes.value_or(static_cast<DWORD>(text.size() + 1));
        ASSERT_EQ(RegSetValueExA(handle, name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()), size),
                  ERROR_SUCCESS);
        RegCloseKey(handle);
    }
    void SetNumber(const std::string& key, const std::string& name, DWORD number) {
        HKEY handle = Create(key);
        ASSERT_EQ(RegSetValueExA(handle, name.c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&number), sizeof(number)),
                  ERROR_SUCCESS);
        RegCloseKey(handle);
    }
    HKEY Create(const std::string& key) {
        HKEY handle = nullptr;
        const std::string path = root_ + "\\Enum\\" + key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &handle, nullptr),
                  ERROR_SUCCESS)
            << path;
        return handle;
    }

    std::string root_;
};

TEST_F(RegistryRouteTest, NamesAndValuesAreReadWithinTheirLimits) {
    const std::string longest(127, 'P');
    SetText("ROOT\\*PNP0501\\0000", "PORTNAME", "COM1");
    SetText("ROOT\\*PNP0501\\0000", "FRIENDLYNAME", "Communications Port (COM1)");
    SetText("ROOT\\*PNP0501\\0001", "FRIENDLYNAME", "no port name");
    SetNumber("ROOT\\*PNP0501\\0002", "PORTNAME", 5);
    SetText("ROOT\\*PNP0501\\0003", "PORTNAME", longest);
    // 128 characters stored without a terminator: one too many (Windows hands them over in the
    // full 128-byte buffer without a terminator; wine refuses them for want of room for one).
    SetText("ROOT\\*PNP0501\\0004", "PORTNAME", std::string(128, 'Q'), 128);
    // A key name that does not fit 128 bytes ends the listing of its level.
    SetText("ROOT\\*PNP0501\\0005" + std::string(124, 'x'), "PORTNAME", "COM5");
    SetText("ROOT\\*PNP0501\\0006", "PORTNAME", "COM6");
    SetText("ROOT\\SERENUM\\0000", "PORTNAME", "COM8");
    SetText("USBPORTS\\VID_0483\\0000", "PORTNAME", "COM3");
    SetText("USBPORTS\\VID_0483\\0001", "PORTNAME", "COM1");
    SetText("USBPORTS\\VID_0483\\0001", "FRIENDLYNAME", "USB Port");

    CTreePlatform platform(root_ + "\\Enum");
    SerInfoList list;
    ASSERT_NO_THROW(ListPortsFromRegistry(platform, list));

    std::vector<std::string> ports;
    for (const SSerInfo& record : list) {
        ports.push_back(record.strPort);
    }
    ASSERT_EQ(ports, (std::vector<std::string>{"COM1", longest, "COM3"}));
    // COM1 seen again under USBPORTS replaced the first record in place.
    EXPECT_EQ(list[0].strPath, "\\\\.\\COM1");
    EXPECT_EQ(list[0].strFriendly, "USB Port");
    EXPECT_EQ(list[0].bCharger, 1);
    EXPECT_EQ(list[1].strPath, "\\\\.\\" + longest);
    EXPECT_EQ(list[1].strFriendly, "");
    EXPECT_EQ(list[1].bCharger, 0);
    EXPECT_EQ(list[2].bCharger, 1);
}

} // namespace
} // namespace crenovix
