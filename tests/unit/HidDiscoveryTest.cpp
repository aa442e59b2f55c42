#include "device/HidDiscovery.h"
#include "support/FakeHid.h"

#include <gtest/gtest.h>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

SSerInfo SerialRecord(const std::string& port) {
    SSerInfo record;
    record.strPath = "\\\\.\\" + port;
    record.strPort = port;
    record.strFriendly = port;
    return record;
}

std::vector<std::string> Friendlies(const SerInfoList& list) {
    std::vector<std::string> names;
    for (const SSerInfo& record : list) {
        names.push_back(record.strFriendly);
    }
    return names;
}

TEST(HidStringToText, KeepsTheLowByteOfEachUnitUpToTheTerminator) {
    EXPECT_EQ(HidStringToText(u"Kelvorin K6"), "Kelvorin K6");
    EXPECT_EQ(HidStringToText(u""), "");
    EXPECT_EQ(HidStringToText(std::u16string(u"AB\0CD", 5)), "AB");
    // U+00E9 fits; U+0141 and U+20AC keep only 0x41 and 0xAC.
    EXPECT_EQ(HidStringToText(u"\u00E9\u0141\u20AC"), "\xE9"
                                                      "A\xAC");
    // A unit whose low byte is zero ends the text like the terminator.
    EXPECT_EQ(HidStringToText(u"X\u0100Y"), "X");
    EXPECT_EQ(HidStringToText(std::u16string(200, u'z')), std::string(kHidStringMaxUnits, 'z'));
}

class HidDiscoveryTest : public ::testing::Test {
protected:
    void Fill(std::size_t count) {
        while (hid_.interfaces.size() < count) {
            hid_.interfaces.push_back(SFakeHidInterface::Other());
        }
    }

    CFakeHidSet hid_;
    SerInfoList list_;
};

TEST_F(HidDiscoveryTest, NoInterfacesLeavesTheListAsItWas) {
    list_ = {SerialRecord("COM1"), SerialRecord("COM2")};
    ListHidChargers(hid_, list_);
    EXPECT_EQ(Friendlies(list_), (std::vector<std::string>{"COM1", "COM2"}));
    EXPECT_EQ(hid_.positionsAsked, std::vector<int>{0});
}

TEST_F(HidDiscoveryTest, ChargersAreNamedByPositionAfterTheSerialRecords) {
    Fill(3);
    hid_.interfaces.push_back(SFakeHidInterface::Charger(u"Kelvorin K6", u"SN0001", 0x5750));
    hid_.interfaces.push_back(SFakeHidInterface::Other());
    hid_.interfaces.push_back(SFakeHidInterface::Charger(u"Kelvorin K8", u"SN0002", 0x575F));
    list_ = {SerialRecord("COM1")};

    ListHidChargers(hid_, list_);

    ASSERT_EQ(list_.size(), 3u);
    EXPECT_EQ(list_[0].strFriendly, "COM1");
    const SSerInfo& first = list_[1];
    EXPECT_EQ(first.strPath, "##SN0001");
    EXPECT_EQ(first.strFriendly, "Kavro USB(HID3)");
    EXPECT_EQ(first.bCharger, 1);
    EXPECT_EQ(first.strBusDesc, "Kelvorin K6");
    EXPECT_EQ(first.nHidIndex, 3);
    EXPECT_TRUE(first.strPort.empty());
    EXPECT_TRUE(first.strDesc.empty());
    EXPECT_EQ(list_[2].strFriendly, "Kavro USB(HID5)");
    EXPECT_EQ(list_[2].strPath, "##SN0002");
    EXPECT_EQ(list_[2].nHidIndex, 5);
    EXPECT_EQ(hid_.OpenDevices(), 0); // every scanned interface was closed again
    EXPECT_EQ(hid_.devicesOpened, 6);
}

TEST_F(HidDiscoveryTest, AnUnopenableInterfaceStillTakesItsPosition) {
    hid_.interfaces = {SFakeHidInterface::Other(), SFakeHidInterface::Unopenable(),
                       SFakeHidInterface::Charger(u"K6", u"1")};
    ListHidChargers(hid_, list_);
    ASSERT_EQ(list_.size(), 1u);
    EXPECT_EQ(list_[0].strFriendly, "Kavro USB(HID2)");
    EXPECT_EQ(list_[0].nHidIndex, 2);
}

TEST_F(HidDiscoveryTest, UnreadableAttributesEndTheWalk) {
    Fill(4);
    hid_.interfaces[2] = SFakeHidInterface::Charger(u"K6", u"before");
    hid_.interfaces.push_back(SFakeHidInterface::Charger(u"K6", u"broken"));
    hid_.interfaces.back().attributesReadable = false;
    hid_.interfaces.push_back(SFakeHidInterface::Charger(u"K6", u"after"));

    ListHidChargers(hid_, list_);

    ASSERT_EQ(list_.size(), 1u);
    EXPECT_EQ(list_[0].strPath, "##before");
    EXPECT_EQ(hid_.positionsAsked.back(), 4);
    EXPECT_EQ(hid_.OpenDevices(), 0); // the failing interface was closed too
}

TEST_F(HidDiscoveryTest, OnlyTheKavroVendorWithProductFamily5750IsACharger) {
    struct SCase {
        std::uint16_t vendor;
        std::uint16_t product;
        bool charger;
    };
    const SCase cases[] = {
        {0x0483, 0x5750, true},  {0x0483, 0x575F, true},  {0x0483, 0x5753, true},
        {0x0483, 0x574F, false}, {0x0483, 0x5740, false}, {0x0483, 0x5760, false},
        {0x0484, 0x5750, false}, {0x1483, 0x5750, false}, {0x0483, 0xD750, false},
    };
    for (const SCase& c : cases) {
        CFakeHidSet hid;
        hid.interfaces.push_back(SFakeHidInterface::Charger(u"K", u"S", c.product));
        hid.interfaces[0].vendorId = c.vendor;
        SerInfoList list;
        ListHidChargers(hid, list);
        EXPECT_EQ(list.size(), c.charger ? 1u : 0u)
            << std::hex << "vendor " << c.vendor << " product " << c.product;
    }
}

TEST_F(HidDiscoveryTest, UnreadableOrOddStringsStillGiveARecord) {
    hid_.interfaces.push_back(SFakeHidInterface::Charger(u"K6", u""));
    hid_.interfaces[0].product.reset();
    hid_.interfaces[0].serial.reset();
    hid_.interfaces.push_back(SFakeHidInterface::Charger(u"K\u0136", u"AB#CD"));

    ListHidChargers(hid_, list_);

    ASSERT_EQ(list_.size(), 2u);
    EXPECT_EQ(list_[0].strPath, "##");
    EXPECT_EQ(list_[0].strBusDesc, "");
    EXPECT_EQ(list_[1].strPath, "##AB#CD"); // the device list cuts the serial at "#"
    EXPECT_EQ(list_[1].strBusDesc, "K6");   // U+0136 keeps its low byte, '6'
}

TEST_F(HidDiscoveryTest, AnInterfaceSetThatNeverEndsIsWalkedOnlySoFar) {
    hid_.interfaces.push_back(SFakeHidInterface::Charger(u"K6", u"1"));
    hid_.endless = true;
    ListHidChargers(hid_, list_);
    EXPECT_EQ(list_.size(), 1u);
    EXPECT_EQ(hid_.positionsAsked.size(), static_cast<std::size_t>(kHidMaxPositions));
}

} // namespace
