#include "device/DeviceTable.h"
#include "device/SerialEnumeration.h"
#include "support/FakeDeviceList.h"
#include "support/FakeHid.h"
#include "support/FakeSerialPlatform.h"

#include <gtest/gtest.h>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

SSerInfo PlainPort(const std::string& friendly) {
    SSerInfo record;
    record.strPath = "\\\\.\\COMx";
    record.strFriendly = friendly;
    record.strDesc = friendly;
    return record;
}

SSerInfo HidCharger(int position, const std::string& product, const std::string& serial) {
    SSerInfo record;
    record.strPath = "##" + serial;
    record.strFriendly = "Kavro USB(HID" + std::to_string(position) + ")";
    record.bCharger = 1;
    record.strBusDesc = product;
    record.nHidIndex = position;
    return record;
}

TEST(DeviceTableRules, PortNameIsBetweenTheFirstParentheses) {
    EXPECT_EQ(PortNameFromFriendly("Communications Port (COM1)"), "COM1");
    EXPECT_EQ(PortNameFromFriendly("Kavro USB(HID3)"), "HID3");
    EXPECT_EQ(PortNameFromFriendly("Serial (A) (COM4)"), "A");
    EXPECT_EQ(PortNameFromFriendly("Odd ) order (COM2)"), "COM2"); // ")" before "(" is not it
    EXPECT_EQ(PortNameFromFriendly("Empty ()"), "");
    EXPECT_EQ(PortNameFromFriendly("No close (COM5"), "");
    EXPECT_EQ(PortNameFromFriendly("No parentheses"), "");
}

TEST(DeviceTableRules, SerialIsTheThirdFieldOfThePath) {
    EXPECT_EQ(SerialFromPath("##KS0042"), "KS0042");
    EXPECT_EQ(SerialFromPath("##"), "");
    EXPECT_EQ(SerialFromPath("##AB#CD"), "AB");
    EXPECT_EQ(SerialFromPath("\\\\?\\usb#vid_0483&pid_5740#KS77#{86e0d1e0}"), "KS77");
    EXPECT_EQ(SerialFromPath("one#field"), "");
    EXPECT_EQ(SerialFromPath("\\\\.\\COM1"), "");
}

class DeviceTableTest : public ::testing::Test {
protected:
    void Refresh() { RefreshDeviceList(state_, view_, enumerator_); }

    // Two chargers at HID positions 2 and 6, after two plain ports.
    void TwoPortsTwoChargers() {
        enumerator_.result = {
            PlainPort("Communications Port (COM1)"), PlainPort("Communications Port (COM2)"),
            HidCharger(2, "Kelvorin K6", "SN-A"), HidCharger(6, "Kelvorin K8", "SN-B")};
    }

    const SDeviceEntry& Row(int i) const { return state_.rows[static_cast<std::size_t>(i)]; }

    SDeviceListState state_;
    CFakeDeviceListView view_;
    CFakeDeviceEnumerator enumerator_;
};

TEST_F(DeviceTableTest, NothingFoundShowsOneSelectedLineAndDisablesUpdate) {
    state_.bFileValid = true;
    state_.nDeviceCount = 3;
    view_.lines = {"old"};
    Refresh();
    EXPECT_EQ(state_.nDeviceCount, 0);
    EXPECT_EQ(view_.lines, std::vector<std::string>{"Device not found!"});
    EXPECT_EQ(view_.log, (std::vector<std::string>{"clear", "insert 0 Device not found!",
                                                   "update off", "select 0"}));
}

TEST_F(DeviceTableTest, ChargersOnlyWhileTheBoxIsClear) {
    TwoPortsTwoChargers();
    Refresh();
    EXPECT_EQ(enumerator_.probeArgs, std::vector<bool>{false});
    ASSERT_EQ(state_.nDeviceCount, 2);
    EXPECT_EQ(view_.lines, (std::vector<std::string>{"Type: Kelvorin K6, S/N:SN-A",
                                                     "Type: Kelvorin K8, S/N:SN-B"}));
    EXPECT_EQ(Row(0).strType, "Kelvorin K6");
    EXPECT_EQ(Row(0).strSerial, "SN-A");
    EXPECT_EQ(Row(0).strPort, "HID2");
    EXPECT_EQ(Row(0).nHidIndex, 2);
    EXPECT_EQ(Row(1).strPort, "HID6");
    EXPECT_EQ(Row(1).nHidIndex, 6);
    EXPECT_EQ(view_.selected, 0);
    EXPECT_EQ(view_.insertsOutOfRange, 0);
}

TEST_F(DeviceTableTest, PlainPortsComeFirstWhileTheBoxIsTicked) {
    TwoPortsTwoChargers();
    view_.boxTicked = true;
    state_.bFileValid = true;
    Refresh();
    EXPECT_EQ(enumerator_.probeArgs, std::vector<bool>{true});
    ASSERT_EQ(state_.nDeviceCount, 4);
    EXPECT_EQ(view_.lines, (std::vector<std::string>{
                               "Communications Port (COM1)", "Communications Port (COM2)",
                               "Type: Kelvorin K6, S/N:SN-A", "Type: Kelvorin K8, S/N:SN-B"}));
    EXPECT_EQ(Row(0).strType, "COMx");
    EXPECT_EQ(Row(0).strSerial, "");
    EXPECT_EQ(Row(0).strPort, "COM1");
    EXPECT_EQ(Row(1).strPort, "COM2");
    EXPECT_EQ(Row(2).strPort, "HID2");
    // Lines go in at their row, never sorted.
    EXPECT_EQ(view_.log[1], "insert 0 Communications Port (COM1)");
    EXPECT_EQ(view_.log[4], "insert 3 Type: Kelvorin K8, S/N:SN-B");
    EXPECT_EQ(view_.updateEnabled, true);
    EXPECT_EQ(view_.selected, 0);
}

// The list selects the charger the user chose again: by type and serial number wherever it now
// sits (a HID charger that restarted comes back at another position), by port when it has no
// serial number; its first line when it is gone.
TEST_F(DeviceTableTest, TheChosenChargerStaysSelected) {
    TwoPortsTwoChargers();
    view_.boxTicked = true;
    const SDeviceEntry moved{"Kelvorin K8", "SN-B", "HID9", 9};
    const SDeviceEntry plain{"COMx", "", "COM2", -1};
    const SDeviceEntry gone{"Kelvorin K8", "SN-C", "HID6", 6};
    const SDeviceEntry otherPort{"COMx", "", "COM7", -1};
    for (const auto& [keep, line] : std::vector<std::pair<SDeviceEntry, int>>{
             {moved, 3}, {plain, 1}, {gone, 0}, {otherPort, 0}}) {
        RefreshDeviceList(state_, view_, enumerator_, &keep);
        EXPECT_EQ(view_.selected, line) << keep.strSerial << keep.strPort;
    }
}

TEST_F(DeviceTableTest, TheBoxIsReadAgainForEachPlainPort) {
    TwoPortsTwoChargers();
    view_.boxScript = {true, true, false}; // cleared while the second port is looked at
    Refresh();
    EXPECT_EQ(state_.nDeviceCount, 3);
    EXPECT_EQ(view_.lines.front(), "Communications Port (COM1)");
    EXPECT_EQ(Row(1).strPort, "HID2");
}

TEST_F(DeviceTableTest, ASerialChargerIsListedWithTheBoxClear) {
    SSerInfo serial = PlainPort("Kelvorin K6 (COM7)");
    serial.strPath = "\\\\?\\usb#vid_0483&pid_5740#KS0042#{86e0d1e0}";
    serial.bCharger = 1;
    serial.strBusDesc = "Kavro Kelvorin K6";
    enumerator_.result = {PlainPort("Communications Port (COM1)"), serial};
    state_.rows[0].nHidIndex = 9;
    Refresh();
    ASSERT_EQ(state_.nDeviceCount, 1);
    EXPECT_EQ(view_.lines, std::vector<std::string>{"Type: Kavro Kelvorin K6, S/N:KS0042"});
    EXPECT_EQ(Row(0).strPort, "COM7");
    EXPECT_EQ(Row(0).nHidIndex, -1); // written for every charger row, HID or not
}

TEST_F(DeviceTableTest, DuringARunNothingFoundOnlyDisablesUpdate) {
    state_.bListRefreshEnabled = false;
    state_.nDeviceCount = 2;
    view_.lines = {"Type: K6, S/N:1", "Type: K6, S/N:2"};
    view_.selected = 1;
    Refresh();
    EXPECT_EQ(state_.nDeviceCount, 0);
    EXPECT_EQ(view_.lines.size(), 2u);
    EXPECT_EQ(view_.selected, 1);
    EXPECT_EQ(view_.log, std::vector<std::string>{"update off"});
}

TEST_F(DeviceTableTest, DuringARunFoundDevicesRewriteOnlyTheTable) {
    state_.bListRefreshEnabled = false;
    state_.bFileValid = true;
    state_.rows[0] = {"stale", "stale", "HID9", 9};
    view_.lines = {"Type: K6, S/N:1"};
    view_.selected = 0;
    enumerator_.result = {HidCharger(4, "Kelvorin K6", "SN-C")};
    Refresh();
    EXPECT_EQ(state_.nDeviceCount, 1);
    EXPECT_EQ(Row(0).strPort, "HID4");
    EXPECT_EQ(Row(0).strSerial, "SN-C");
    EXPECT_TRUE(view_.log.empty());
    EXPECT_EQ(view_.lines, std::vector<std::string>{"Type: K6, S/N:1"});
}

TEST_F(DeviceTableTest, WithoutAFileUpdateIsLeftAsItWas) {
    enumerator_.result = {HidCharger(0, "Kelvorin K6", "SN-A")};
    Refresh();
    EXPECT_EQ(view_.lines.size(), 1u);
    EXPECT_EQ(view_.selected, 0);
    EXPECT_FALSE(view_.updateEnabled.has_value());
}

TEST_F(DeviceTableTest, AFriendlyNameWithoutParenthesesGivesAnEmptyPort) {
    view_.boxTicked = true;
    enumerator_.result = {PlainPort("Odd port")};
    Refresh();
    ASSERT_EQ(state_.nDeviceCount, 1);
    EXPECT_EQ(Row(0).strPort, "");
    EXPECT_EQ(view_.lines, std::vector<std::string>{"Odd port"});
}

TEST_F(DeviceTableTest, MoreRecordsThanRowsAreLeftOut) {
    view_.boxTicked = true;
    for (int i = 0; i < 40; ++i) {
        // Appended rather than concatenated: g++ 12 at -O3 warns falsely about operator+ here.
        const std::string number = std::to_string(i);
        enumerator_.result.push_back(i % 2 == 0
                                         ? HidCharger(i, "K6", std::string("S").append(number))
                                         : PlainPort(std::string("P (COM").append(number) + ")"));
    }
    Refresh();
    EXPECT_EQ(state_.nDeviceCount, kDeviceTableRows);
    EXPECT_EQ(view_.lines.size(), static_cast<std::size_t>(kDeviceTableRows));
    EXPECT_EQ(Row(kDeviceTableRows - 1).strPort, "COM31");
    EXPECT_EQ(view_.lines.back(), "P (COM31)");
    EXPECT_EQ(view_.insertsOutOfRange, 0);
}

TEST_F(DeviceTableTest, AnEnumerationErrorChangesNothingAndPropagates) {
    state_.nDeviceCount = 1;
    state_.rows[0] = {"Kelvorin K6", "SN-A", "HID2", 2};
    view_.lines = {"Type: Kelvorin K6, S/N:SN-A"};
    view_.selected = 0;
    enumerator_.result = {HidCharger(5, "Other", "X"), HidCharger(6, "Other", "Y")};
    enumerator_.error = "SetupDiEnumDeviceInterfaces failed. (err=e000020b)";

    try {
        Refresh();
        ADD_FAILURE() << "the error did not reach the caller";
    } catch (const CEnumerationError& error) {
        EXPECT_STREQ(error.what(), "SetupDiEnumDeviceInterfaces failed. (err=e000020b)");
    }
    EXPECT_EQ(state_.nDeviceCount, 1);
    EXPECT_EQ(Row(0).strPort, "HID2");
    EXPECT_EQ(Row(1).strPort, "");
    EXPECT_EQ(view_.lines.size(), 1u);
    EXPECT_TRUE(view_.log.empty());
}

TEST(DeviceTableWithEnumeration, PlatformSourcesFlowIntoTheTable) {
    CFakeSerialPlatform platform;
    SFakeSerialPort serialCharger = SFakeSerialPort::Port("K6 Serial (COM4)", "USB Device");
    serialCharger.path = "\\\\?\\usb#vid_0483&pid_5740#KS0042#{86e0d1e0}";
    SFakeSerialPort plain = SFakeSerialPort::Port("Communications Port (COM1)", "");
    platform.ports = {plain, serialCharger};
    CFakeHidSet hid;
    hid.interfaces = {SFakeHidInterface::Other(),
                      SFakeHidInterface::Charger(u"Kelvorin K8", u"H77", 0x5751)};
    CDeviceEnumerator enumerator(platform, hid);
    SDeviceListState state;
    CFakeDeviceListView view;

    RefreshDeviceList(state, view, enumerator);

    EXPECT_TRUE(platform.probes.empty());
    EXPECT_EQ(view.lines, (std::vector<std::string>{"Type: USB Device, S/N:KS0042",
                                                    "Type: Kelvorin K8, S/N:H77"}));
    EXPECT_EQ(state.rows[0].strPort, "COM4");
    EXPECT_EQ(state.rows[1].strPort, "HID1");
}

} // namespace
