#include "device/DevicePort.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

Bytes Pattern(std::size_t n, std::uint8_t first = 1) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

bool AllZero(const Bytes& bytes, std::size_t from) {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                       [](std::uint8_t b) { return b == 0; });
}

TEST(DevicePortNames, ComPathFollowsTheSystemNamingRule) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"COM1", "COM1"},          {"COM9", "COM9"},
        {"COM10", "\\\\.\\COM10"}, {"COM256", "\\\\.\\COM256"},
        {"COM257", std::nullopt},  {"COM4294967297", std::nullopt}, // must not wrap round to COM1
        {"com3", "COM3"},          {"cOm12", "\\\\.\\COM12"},
        {"COM5 (spare)", "COM5"},  {"COM", "COM0"},
        {"LPT1", std::nullopt},    {"CO", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(FormatComPortPath(name), expected) << name;
    }
}

TEST(DevicePortNames, HidPositionIsTheLeadingNumber) {
    EXPECT_EQ(HidPositionFromPortName("HID0"), 0);
    EXPECT_EQ(HidPositionFromPortName("HID12"), 12);
    EXPECT_EQ(HidPositionFromPortName("hid7"), 7);
    EXPECT_EQ(HidPositionFromPortName("HID"), 0);
    EXPECT_EQ(HidPositionFromPortName("HID3x9"), 3);
    EXPECT_EQ(HidPositionFromPortName("HID2147483647"), 2147483647);
    EXPECT_EQ(HidPositionFromPortName("HID2147483648"), std::nullopt);
    EXPECT_EQ(HidPositionFromPortName("COM3"), std::nullopt);
    EXPECT_EQ(HidPositionFromPortName("HI"), std::nullopt);
}

class DevicePortTest : public ::testing::Test {
protected:
    CFakeLine& Line() { return *opener_.line; }

    CFakePortOpener opener_;
};

TEST_F(DevicePortTest, SerialNamesOpenTheirSystemPathAtTheBaudRate) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"COM9", "COM9"}, {"COM10", "\\\\.\\COM10"}, {"com3", "COM3"}};
    for (const auto& [name, path] : cases) {
        CDevicePort port(opener_);
        ASSERT_TRUE(port.Open(name, 115200)) << name;
        EXPECT_FALSE(port.IsHid());
        ASSERT_FALSE(opener_.opens.empty());
        EXPECT_FALSE(opener_.opens.back().hid);
        EXPECT_EQ(opener_.opens.back().path, path);
        EXPECT_EQ(opener_.opens.back().baud, 115200u);
    }
}

TEST_F(DevicePortTest, NamesWithoutASerialPathFailBeforeAnyOpen) {
    for (const std::string name : {"COM257", "LPT1", ""}) {
        CDevicePort port(opener_);
        EXPECT_FALSE(port.Open(name, 9600)) << name;
        EXPECT_FALSE(port.IsOpen());
    }
    EXPECT_TRUE(opener_.opens.empty());
}

TEST_F(DevicePortTest, HidNamesOpenThePositionAndIgnoreTheBaudRate) {
    opener_.hidInterfaces = 3;
    CDevicePort port(opener_);
    ASSERT_TRUE(port.Open("hid2", 115200));
    EXPECT_TRUE(port.IsHid());
    ASSERT_EQ(opener_.opens.size(), 1u);
    EXPECT_TRUE(opener_.opens[0].hid);
    EXPECT_EQ(opener_.opens[0].position, 2);
    EXPECT_EQ(opener_.pathQueries, 0); // a HID name never reaches the serial side

    CDevicePort beyond(opener_);
    EXPECT_FALSE(beyond.Open("HID3", 0));
    EXPECT_FALSE(beyond.IsOpen());
    EXPECT_FALSE(beyond.Open("HID99999999999", 0)); // cannot name a position at all
    EXPECT_EQ(opener_.opens.size(), 2u);
}

TEST_F(DevicePortTest, RefusedOpenLeavesThePortClosed) {
    opener_.refuse = [](const SFakeOpen&) { return true; };
    CDevicePort port(opener_);
    std::uint8_t byte = 0x55;
    EXPECT_FALSE(port.Open("COM4", 9600));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Write(&byte, 1));
    EXPECT_FALSE(port.Read(&byte, 1, 10));
    EXPECT_TRUE(Line().Writes().empty());
    EXPECT_TRUE(Line().Reads().empty());
}

TEST_F(DevicePortTest, OpeningAnOpenPortFailsAndKeepsTheFirstChannel) {
    CDevicePort port(opener_);
    ASSERT_TRUE(port.Open("COM4", 9600));
    EXPECT_FALSE(port.Open("HID0", 0));
    EXPECT_EQ(opener_.opens.size(), 1u);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(port.IsHid());
    EXPECT_EQ(Line().OpenChannels(), 1);

    const Bytes data = Pattern(3);
    EXPECT_TRUE(port.Write(data.data(), data.size()));
    ASSERT_EQ(Line().Writes().size(), 1u);
    EXPECT_EQ(Line().Writes()[0], data); // still serial: no report framing
}

TEST_F(DevicePortTest, CloseIsIdempotentAndTheDestructorCloses) {
    {
        CDevicePort port(opener_);
        ASSERT_TRUE(port.Open("HID0", 0));
        port.Close();
        port.Close();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(Line().OpenChannels(), 0);
        ASSERT_TRUE(port.Open("COM1", 9600)); // reopening after Close is the normal cycle
        EXPECT_EQ(Line().OpenChannels(), 1);
    }
    EXPECT_EQ(Line().OpenChannels(), 0);
}

TEST_F(DevicePortTest, HidWriteFramesDataIntoZeroFilledReports) {
    CDevicePort port(opener_);
    ASSERT_TRUE(port.Open("HID0", 0));

    const Bytes short36 = Pattern(36);
    ASSERT_TRUE(port.Write(short36.data(), short36.size()));
    ASSERT_EQ(Line().Writes().size(), 1u);
    const Bytes& report = Line().Writes()[0];
    ASSERT_EQ(report.size(), kHidReportSize);
    EXPECT_EQ(report[0], 0);
    EXPECT_TRUE(std::equal(short36.begin(), short36.end(), report.begin() + 1));
    EXPECT_TRUE(AllZero(report, 37)); // 28 zero bytes

    const Bytes long65 = Pattern(65, 10);
    ASSERT_TRUE(port.Write(long65.data(), long65.size()));
    ASSERT_EQ(Line().Writes().size(), 3u);
    const Bytes& first = Line().Writes()[1];
    const Bytes& second = Line().Writes()[2];
    EXPECT_EQ(first[0], 0);
    EXPECT_TRUE(std::equal(long65.begin(), long65.begin() + 64, first.begin() + 1));
    EXPECT_EQ(second[0], 0);
    EXPECT_EQ(second[1], long65[64]);
    EXPECT_TRUE(AllZero(second, 2));

    const Bytes exact128 = Pattern(128);
    ASSERT_TRUE(port.Write(exact128.data(), exact128.size()));
    EXPECT_EQ(Line().Writes().size(), 5u); // two full reports, no empty third

    ASSERT_TRUE(port.Write(nullptr, 0));
    ASSERT_EQ(Line().Writes().size(), 6u); // n = 0 still sends one report
    EXPECT_EQ(Line().Writes()[5], Bytes(kHidReportSize, 0));
}

TEST_F(DevicePortTest, WritesStopAtTheFirstFailure) {
    Line().FailWriteAt(1);
    CDevicePort hid(opener_);
    ASSERT_TRUE(hid.Open("HID0", 0));
    const Bytes data = Pattern(150); // three reports
    EXPECT_FALSE(hid.Write(data.data(), data.size()));
    EXPECT_EQ(Line().Writes().size(), 2u);
    hid.Close();

    Line().FailWriteAt(2);
    CDevicePort serial(opener_);
    ASSERT_TRUE(serial.Open("COM2", 9600));
    EXPECT_FALSE(serial.Write(data.data(), data.size()));
    ASSERT_EQ(Line().Writes().size(), 3u);
    EXPECT_EQ(Line().Writes()[2], data); // one write of all n bytes
    EXPECT_FALSE(serial.Write(nullptr, 4));
    EXPECT_EQ(Line().Writes().size(), 3u);
}

TEST_F(DevicePortTest, HidReadTakesDataBytesReportByReport) {
    CDevicePort port(opener_);
    ASSERT_TRUE(port.Open("HID0", 0));

    Bytes withId = Pattern(kHidReportSize, 0x20);
    withId[0] = 0x07; // the report ID is not data
    Line().QueueBytes(withId);
    Line().QueueHidReport(Pattern(64, 0x80));
    std::uint8_t one = 0;
    ASSERT_TRUE(port.Read(&one, 1, 250));
    EXPECT_EQ(one, withId[1]);
    // The other 63 bytes of that report are gone: the next read starts with the next report.
    ASSERT_TRUE(port.Read(&one, 1, 250));
    EXPECT_EQ(one, 0x80);

    Line().QueueHidReport(Pattern(64, 1));
    Line().QueueHidReport(Pattern(64, 65));
    Bytes buffer(100, 0xEE);
    ASSERT_TRUE(port.Read(buffer.data(), buffer.size(), 300));
    EXPECT_EQ(buffer, Pattern(100, 1));

    ASSERT_EQ(Line().Reads().size(), 4u);
    for (const SFakeRead& read : Line().Reads()) {
        EXPECT_EQ(read.size, kHidReportSize);
    }
    EXPECT_EQ(Line().Reads()[2].timeoutMs, 300u); // the time-out applies to each report
    EXPECT_EQ(Line().Reads()[3].timeoutMs, 300u);
}

TEST_F(DevicePortTest, HidReadFailsWhenAnyReportDoesNotCome) {
    CDevicePort port(opener_);
    ASSERT_TRUE(port.Open("HID0", 0));
    Bytes buffer(100);

    Line().QueueHidReport(Pattern(64));
    Line().QueueTimeout();
    EXPECT_FALSE(port.Read(buffer.data(), buffer.size(), 50));

    Line().QueueRefusal();
    EXPECT_FALSE(port.Read(buffer.data(), 1, 50));

    EXPECT_FALSE(port.Read(buffer.data(), 1, 50)); // silent charger
}

TEST_F(DevicePortTest, SerialReadWantsExactlyNBytesInTime) {
    CDevicePort port(opener_);
    ASSERT_TRUE(port.Open("COM1", 9600));

    Line().QueueBytes({'&', 0x12});
    Line().QueueBytes({0x34, 0x56});
    Bytes buffer(4);
    ASSERT_TRUE(port.Read(buffer.data(), 3, 1000));
    EXPECT_EQ(buffer, (Bytes{'&', 0x12, 0x34, 0}));
    ASSERT_EQ(Line().Reads().size(), 1u); // one system read of n bytes
    EXPECT_EQ(Line().Reads()[0].size, 3u);
    EXPECT_EQ(Line().Reads()[0].timeoutMs, 1000u);

    EXPECT_FALSE(port.Read(buffer.data(), 2, 1000)); // one byte left, then silence

    // Refused at once: no reply, never a completed read.
    Line().QueueRefusal();
    EXPECT_FALSE(port.Read(buffer.data(), 1, 1000));
}

} // namespace
