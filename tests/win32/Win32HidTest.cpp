#include "device/HidDiscovery.h"
#include "device/win32/Win32HidInterfaceSet.h"
#include "device/win32/Win32PortOpener.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace crenovix {
namespace {

// The number of present HID interfaces: the first position that has none.
int CountInterfaces(CWin32HidInterfaceSet& interfaces) {
    for (int position = 0; position < kHidMaxPositions; ++position) {
        std::unique_ptr<IHidScanDevice> device;
        if (interfaces.OpenHidForScan(position, device) == EHidScanOpen::NoInterface) {
            EXPECT_EQ(device, nullptr);
            return position;
        }
    }
    return kHidMaxPositions;
}

TEST(Win32HidInterfaceSet, PositionsEndAndNothingLiesBeyondTheEnd) {
    CWin32HidInterfaceSet interfaces;
    const int count = CountInterfaces(interfaces);
    ASSERT_LT(count, kHidMaxPositions);

    std::unique_ptr<IHidScanDevice> device;
    EXPECT_EQ(interfaces.OpenHidForScan(count + 1, device), EHidScanOpen::NoInterface);
    EXPECT_EQ(interfaces.OpenHidForScan(-1, device), EHidScanOpen::NoInterface);

    CWin32PortOpener opener;
    EXPECT_EQ(opener.OpenHid(count), nullptr);
    CDevicePort port(opener);
    EXPECT_FALSE(port.Open("HID" + std::to_string(count), 0));
    EXPECT_FALSE(port.IsOpen());
}

TEST(Win32HidInterfaceSet, WalkEndsAndKeepsTheRecordsBeforeIt) {
    CWin32HidInterfaceSet interfaces;
    const int count = CountInterfaces(interfaces);

    SSerInfo serial;
    serial.strPath = "\\\\.\\COM3";
    serial.strPort = "COM3";
    serial.strFriendly = "Communications Port (COM3)";
    SerInfoList list{serial};
    ListHidChargers(interfaces, list);

    ASSERT_GE(list.size(), 1u);
    EXPECT_EQ(list[0].strPort, "COM3");
    EXPECT_EQ(list[0].strFriendly, serial.strFriendly);
    int previous = -1;
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_EQ(list[i].bCharger, 1);
        EXPECT_GT(list[i].nHidIndex, previous);
        EXPECT_LT(list[i].nHidIndex, count);
        EXPECT_EQ(list[i].strFriendly, "Kavro USB(HID" + std::to_string(list[i].nHidIndex) + ")");
        previous = list[i].nHidIndex;
    }
}

} // namespace
} // namespace crenovix
