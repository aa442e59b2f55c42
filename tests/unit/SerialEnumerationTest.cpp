#include "device/SerialEnumeration.h"
#include "device/SerialPlatform.h"
#include "support/FakeHid.h"
#include "support/FakeSerialPlatform.h"

#include <gtest/gtest.h>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

class SerialEnumerationTest : public ::testing::Test {
protected:
    void SetUp() override {
        hid_.interfaces = {SFakeHidInterface::Other(), SFakeHidInterface::Charger(u"K6", u"H1")};
    }

    void List(bool probe = false) { ListDevices(platform_, hid_, list_, probe); }

    // Runs ListDevices expecting an error; returns its text.
    std::string ListExpectingError() {
        try {
            List();
        } catch (const CEnumerationError& error) {
            return error.what();
        }
        ADD_FAILURE() << "no enumeration error";
        return {};
    }

    std::vector<std::string> Friendlies() const {
        std::vector<std::string> names;
        for (const SSerInfo& record : list_) {
            names.push_back(record.strFriendly);
        }
        return names;
    }

    void UseRegistry() {
        platform_.listing = ESerialPortListing::DeviceTree;
        platform_.enumRoot = SFakeRegKey{"Enum", true, {}, {}};
    }

    CFakeSerialPlatform platform_;
    CFakeHidSet hid_;
    SerInfoList list_;
};

TEST_F(SerialEnumerationTest, TheSystemsPortListingChoosesTheRoute) {
    platform_.ports = {SFakeSerialPort::Port("Interface Port (COM7)", "")};
    platform_.enumRoot = SFakeRegKey{"Enum", true, {}, {}};
    platform_.enumRoot->Add("BIOS").Add("*PNP0501").AddPort("0000", "COM2", "Registry (COM2)");

    struct SCase {
        ESerialPortListing listing;
        std::string firstFriendly;
        std::size_t serialCount;
    };
    const SCase cases[] = {
        {ESerialPortListing::PresentPorts, "Interface Port (COM7)", 1},
        {ESerialPortListing::NumberedPorts, "COM1", 16},
        {ESerialPortListing::DeviceTree, "Registry (COM2)", 1},
    };
    for (const SCase& c : cases) {
        platform_.listing = c.listing;
        List();
        SCOPED_TRACE(c.firstFriendly);
        ASSERT_EQ(list_.size(), c.serialCount + 1);
        EXPECT_EQ(list_.front().strFriendly, c.firstFriendly);
        EXPECT_EQ(list_.back().strFriendly, "Kavro USB(HID1)");
    }
}

TEST_F(SerialEnumerationTest, AnEmptyInterfaceRouteStillListsHidChargers) {
    list_.push_back(SSerInfo{"stale", "COM9", "stale", 0, "", "", -1});
    List(true);
    ASSERT_EQ(list_.size(), 1u);
    EXPECT_EQ(list_[0].strPath, "##H1");
    EXPECT_TRUE(platform_.probes.empty()); // HID records are never probed
    EXPECT_EQ(platform_.OpenPortLists(), 0);
}

TEST_F(SerialEnumerationTest, ChargerRuleIsACaseSensitivePrefixOfTheBusDescription) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"Kavro Kelvorin K6", 1}, {"Kavro", 1}, {"USB Device", 1}, {"USB Device (K8)", 1},
        {"kavro Kelvorin", 0},    {"KAVRO", 0}, {"usb device", 0}, {"USB device", 0},
        {"USB Serial Port", 0},   {"Kavr", 0},  {"USB Devic", 0},  {"", 0},
    };
    for (const auto& [bus, charger] : cases) {
        platform_.ports.push_back(SFakeSerialPort::Port("Port (COM1)", bus));
    }
    List();
    ASSERT_EQ(list_.size(), cases.size() + 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(list_[i].bCharger, cases[i].second) << '"' << cases[i].first << '"';
        EXPECT_EQ(list_[i].strBusDesc, cases[i].first);
    }
}

TEST_F(SerialEnumerationTest, TheSystemChoosesBusDescriptionOrLocation) {
    SFakeSerialPort port = SFakeSerialPort::Port("Port (COM3)", "Kavro Kelvorin");
    port.location = "USB Serial Port";
    platform_.ports = {port, port};

    platform_.busReported = {true};
    List();
    EXPECT_EQ(list_[0].strBusDesc, "Kavro Kelvorin");
    EXPECT_EQ(list_[0].bCharger, 1);

    platform_.busReported = {false};
    platform_.busReportedCalls = 0;
    List();
    EXPECT_EQ(list_[0].strBusDesc, "USB Serial Port");
    EXPECT_EQ(list_[0].bCharger, 0);

    // Asked again for the second port, the system says no: location text for that port.
    platform_.busReported = {true, false};
    platform_.busReportedCalls = 0;
    List();
    EXPECT_EQ(list_[0].strBusDesc, "Kavro Kelvorin");
    EXPECT_EQ(list_[1].strBusDesc, "USB Serial Port");
}

TEST_F(SerialEnumerationTest, MissingBusDescriptionIsEmptyAndNoCharger) {
    SFakeSerialPort port = SFakeSerialPort::Port("Port (COM3)", "Kavro Kelvorin");
    port.busReported.reset(); // the system cannot give it
    platform_.ports = {port};
    platform_.busReported = {true};
    List();
    ASSERT_EQ(list_.size(), 2u);
    EXPECT_EQ(list_[0].strBusDesc, "");
    EXPECT_EQ(list_[0].bCharger, 0);
}

TEST_F(SerialEnumerationTest, PortsWithoutFriendlyNameOrDescriptionAreLeftOut) {
    SFakeSerialPort noFriendly = SFakeSerialPort::Port("x", "Kavro K6");
    noFriendly.friendly.reset();
    SFakeSerialPort noDesc = SFakeSerialPort::Port("No desc (COM5)", "Kavro K6");
    noDesc.desc.reset();
    platform_.ports = {noFriendly, noDesc, SFakeSerialPort::Port("Kept (COM6)", "Kavro K6")};
    List();
    EXPECT_EQ(Friendlies(), (std::vector<std::string>{"Kept (COM6)", "Kavro USB(HID1)"}));
    // The description is asked for only once the friendly name was read.
    for (const auto& [position, text] : platform_.textReads) {
        EXPECT_FALSE(position == 0 && text == EPortText::Description);
    }
}

TEST_F(SerialEnumerationTest, InterfaceRecordsCarryTheirProperties) {
    SFakeSerialPort port = SFakeSerialPort::Port("USB Serial (COM4)", "Kavro K6");
    port.path = "\\\\?\\usb#vid_0483&pid_5740#KS0042#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
    port.desc = "USB Serial Device";
    platform_.ports = {port};
    List();
    const SSerInfo& record = list_[0];
    EXPECT_EQ(record.strPath, port.path);
    EXPECT_EQ(record.strPort, "");
    EXPECT_EQ(record.strFriendly, "USB Serial (COM4)");
    EXPECT_EQ(record.strDesc, "USB Serial Device");
    EXPECT_EQ(record.strBusDesc, "Kavro K6");
    EXPECT_EQ(record.bCharger, 1);
    EXPECT_EQ(record.nHidIndex, -1);
}

TEST_F(SerialEnumerationTest, ProbingDropsUnopenablePortsAndKeepsTheOrder) {
    for (const std::string name : {"COM1", "COM3", "COM4"}) {
        SFakeSerialPort port = SFakeSerialPort::Port("Port (" + name + ")", "");
        port.path = "\\\\.\\" + name;
        platform_.ports.push_back(port);
    }
    platform_.absentPaths = {"\\\\.\\COM3"};

    List(false);
    EXPECT_TRUE(platform_.probes.empty()); // with the box clear, ports are not opened
    EXPECT_EQ(list_.size(), 4u);

    List(true);
    EXPECT_EQ(platform_.probes,
              (std::vector<std::string>{"\\\\.\\COM1", "\\\\.\\COM3", "\\\\.\\COM4"}));
    EXPECT_EQ(Friendlies(),
              (std::vector<std::string>{"Port (COM1)", "Port (COM4)", "Kavro USB(HID1)"}));
}

TEST_F(SerialEnumerationTest, NumberRouteListsSixteenPortsCompleted) {
    platform_.listing = ESerialPortListing::NumberedPorts;
    List();
    ASSERT_EQ(list_.size(), 17u);
    for (int n = 1; n <= 16; ++n) {
        const SSerInfo& record = list_[static_cast<std::size_t>(n - 1)];
        const std::string name = "COM" + std::to_string(n);
        EXPECT_EQ(record.strPort, name);
        EXPECT_EQ(record.strPath, "\\\\.\\" + name);
        EXPECT_EQ(record.strFriendly, name);
        EXPECT_EQ(record.strDesc, name);
        EXPECT_EQ(record.bCharger, 0);
    }

    platform_.absentPaths = {"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM16"};
    for (int n = 5; n <= 15; ++n) {
        platform_.absentPaths.insert("\\\\.\\COM" + std::to_string(n));
    }
    List(true);
    EXPECT_EQ(Friendlies(), (std::vector<std::string>{"COM3", "COM4", "Kavro USB(HID1)"}));
}

TEST_F(SerialEnumerationTest, DescriptionIsCompletedFromTheFriendlyName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Communications Port (COM1)", "Communications Port"},
        {"(COM1)", "(COM1)"},
        {"Port (A) B (COM1)", "Port (A) B (COM1)"},
        {"Plain name", "Plain name"},
        {"Trailing (COM2) ", "Trailing (COM2) "},
        {"Serial (A) (COM4)", "Serial (A) (COM4)"},
    };
    for (const auto& [friendly, desc] : cases) {
        SFakeSerialPort port = SFakeSerialPort::Port(friendly, "");
        port.desc = ""; // readable but empty: completed
        platform_.ports.push_back(port);
    }
    platform_.ports.push_back(SFakeSerialPort::Port("Kept (COM9)", ""));
    List();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(list_[i].strDesc, cases[i].second) << cases[i].first;
    }
    EXPECT_EQ(list_[cases.size()].strDesc, "USB Serial Device");
    EXPECT_EQ(list_.back().strDesc, ""); // HID records are not completed
}

TEST_F(SerialEnumerationTest, RegistryRouteMergesPortsByName) {
    UseRegistry();
    SFakeRegKey& root = *platform_.enumRoot;
    root.Add("USBPORTS").Add("KAVRO_K6").AddPort("0001", "COM5", "Kelvorin K6 (COM5)");
    SFakeRegKey& bios = root.Add("BIOS");
    SFakeRegKey& pnp0500 = bios.Add("*PNP0500");
    pnp0500.AddPort("0000", "COM1", "Communications Port (COM1)");
    pnp0500.Add("0001"); // no PORTNAME: passed over
    pnp0500.AddPort("0002", "COM6");
    bios.Add("*PNP0F13").AddPort("0000", "COM8", "Not a serial key (COM8)");
    SFakeRegKey& pnp0501 = bios.Add("*PNP0501");
    pnp0501.AddPort("0000", "COM1", "Later values (COM1)");
    pnp0501.AddPort("0001", "COM5", "Plain again (COM5)");
    root.Add("Root").Add("*PNP0501").AddPort("0000", "com6", "Other case (com6)");

    List();

    ASSERT_EQ(list_.size(), 5u);
    EXPECT_EQ(list_[0].strPort, "COM5"); // first seen under USBPORTS, replaced in place
    EXPECT_EQ(list_[0].strFriendly, "Plain again (COM5)");
    EXPECT_EQ(list_[0].bCharger, 0);
    EXPECT_EQ(list_[1].strPort, "COM1");
    EXPECT_EQ(list_[1].strFriendly, "Later values (COM1)");
    EXPECT_EQ(list_[1].strDesc, "Later values");
    EXPECT_EQ(list_[1].strPath, "\\\\.\\COM1");
    EXPECT_EQ(list_[2].strPort, "COM6");
    EXPECT_EQ(list_[2].strFriendly, "COM6"); // no FRIENDLYNAME: completed from the port
    EXPECT_EQ(list_[3].strPort, "com6");     // names match case-sensitively
    EXPECT_EQ(list_[4].strFriendly, "Kavro USB(HID1)");
    EXPECT_EQ(platform_.OpenKeys(), 0);
}

TEST_F(SerialEnumerationTest, UsbPortsMarksChargers) {
    UseRegistry();
    platform_.enumRoot->Add("USBPORTS").Add("ANY_DEVICE").AddPort("0000", "COM7", "K (COM7)");
    platform_.enumRoot->Add("USBPORTSX").Add("ANY_DEVICE").AddPort("0000", "COM8", "X (COM8)");
    List();
    ASSERT_EQ(list_.size(), 2u);
    EXPECT_EQ(list_[0].strPort, "COM7");
    EXPECT_EQ(list_[0].bCharger, 1);
}

TEST_F(SerialEnumerationTest, AnUnknownListingClearsTheListAndSkipsHid) {
    list_.push_back(SSerInfo{});
    platform_.listing.reset();
    platform_.listingError = 0x7B;
    EXPECT_EQ(ListExpectingError(), "Could not get OS version. (err=7b)");
    EXPECT_TRUE(list_.empty());
    EXPECT_TRUE(hid_.positionsAsked.empty());
}

TEST_F(SerialEnumerationTest, InterfaceRouteErrorsKeepEarlierRecordsAndReleaseTheSet) {
    platform_.portListAvailable = false;
    platform_.portListError = 0xD;
    EXPECT_EQ(ListExpectingError(), "SetupDiGetClassDevs failed. (err=d)");

    platform_.portListAvailable = true;
    platform_.ports = {SFakeSerialPort::Port("A (COM1)", ""),
                       SFakeSerialPort::Port("B (COM2)", "")};
    platform_.ports[1].enumFails = true;
    platform_.ports[1].error = 0xE000020B;
    EXPECT_EQ(ListExpectingError(), "SetupDiEnumDeviceInterfaces failed. (err=e000020b)");
    EXPECT_EQ(Friendlies(), std::vector<std::string>{"A (COM1)"}); // appended before the error
    EXPECT_EQ(list_[0].strDesc, "USB Serial Device");

    platform_.ports[1].enumFails = false;
    platform_.ports[1].detailFails = true;
    platform_.ports[1].error = 0x7A; // a path longer than the buffer
    EXPECT_EQ(ListExpectingError(), "SetupDiGetDeviceInterfaceDetail failed. (err=7a)");
    EXPECT_EQ(list_.size(), 1u);

    EXPECT_TRUE(hid_.positionsAsked.empty());
    EXPECT_EQ(platform_.OpenPortLists(), 0);
}

TEST_F(SerialEnumerationTest, RegistryErrorsNameTheKeyAndCloseWhatWasOpen) {
    UseRegistry();
    platform_.enumRoot.reset();
    EXPECT_EQ(ListExpectingError(), "Could not read from HKLM\\Enum");

    UseRegistry();
    SFakeRegKey& bios = platform_.enumRoot->Add("BIOS");
    SFakeRegKey& pnp = bios.Add("*PNP0501");
    pnp.AddPort("0000", "COM1", "First (COM1)");
    SFakeRegKey& instance = pnp.AddPort("0001", "COM2");
    SFakeRegKey& second = bios.Add("*PNP0500");
    SFakeRegKey& enumerator = platform_.enumRoot->Add("ACPI");

    instance.openable = false;
    EXPECT_EQ(ListExpectingError(), "Could not read from HKLM\\Enum\\...\\0001");
    EXPECT_EQ(Friendlies(), std::vector<std::string>{"First (COM1)"});

    instance.openable = true;
    second.openable = false;
    EXPECT_EQ(ListExpectingError(), "Could not read from HKLM\\Enum\\BIOS\\*PNP0500");
    EXPECT_EQ(list_.size(), 2u);

    second.openable = true;
    enumerator.openable = false;
    EXPECT_EQ(ListExpectingError(), "Could not read from HKLM\\Enum\\ACPI");
    EXPECT_EQ(list_.size(), 2u);

    EXPECT_TRUE(hid_.positionsAsked.empty());
    EXPECT_EQ(platform_.OpenKeys(), 0);
}

TEST_F(SerialEnumerationTest, APortListThatNeverEndsIsWalkedOnlySoFar) {
    platform_.portsEndless = true;
    List();
    EXPECT_EQ(Friendlies(), std::vector<std::string>{"Kavro USB(HID1)"});
    EXPECT_GT(platform_.textReads.size(), 100u);
}

} // namespace
