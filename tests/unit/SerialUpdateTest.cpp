#include "support/RunFixture.h"

using namespace crenovix;
using namespace crenovix::testsupport;
using sim::ESimFaultKind;
using sim::ESimStep;
using sim::SFault;

namespace {

constexpr auto kAlways = sim::kSimEveryTime;
constexpr auto kAny = sim::kSimAnyIndex;

class SerialUpdateTest : public CRunFixture {
protected:
    // A USB serial charger (recognised by its bus description) or one on a plain port, which is
    // listed only with "Include COMx Port" ticked.
    sim::CSimSerialCharger& AddCharger(std::vector<SFault> faults = {}, bool usb = true,
                                       std::uint8_t model = 0x0A) {
        sim::SSimSerialConfig config;
        config.identity.byModelCode = model;
        config.identity.strType = usb ? "Kavro Kelvorin K4" : "";
        config.bUsb = usb;
        config.faults = std::move(faults);
        sim::CSimSerialCharger& charger = bench_.AddSerialCharger(config);
        listView_.boxTicked = !usb;
        ListDevices();
        return charger;
    }

    std::vector<std::uint32_t> OpenedBauds() const {
        std::vector<std::uint32_t> bauds;
        for (const auto& open : bench_.Opens()) {
            bauds.push_back(open.baud);
        }
        return bauds;
    }
    // Tries that reached the boot loader's rate.
    int BootLoaderOpens() const {
        const auto bauds = OpenedBauds();
        return static_cast<int>(std::count(bauds.begin(), bauds.end(), 128000u));
    }
};

class SerialPayloadTest : public SerialUpdateTest,
                          public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SerialPayloadTest, StoresThePayloadByteForByte) {
    const std::size_t size = GetParam();
    UseFile(EPackVariant::TripleDes, size);
    const auto& charger = AddCharger();
    ASSERT_EQ(devices_.rows[0].strPort, "simtty0");
    ASSERT_EQ(devices_.rows[0].strSerial, "SIM0001");

    PressUpdate();

    ExpectEnding("Upgrade completion!", "Success", EMessageIcon::None);
    const sim::SSimResults& results = charger.Results();
    EXPECT_TRUE(results.bComplete);
    EXPECT_EQ(results.payload, packed_.loadedPayload);
    EXPECT_EQ(results.Frames(ESimStep::DataFrame), static_cast<int>(size / 16));
    EXPECT_EQ(results.Frames(ESimStep::LastFrame), size % 16 != 0 ? 1 : 0);
    EXPECT_EQ(window_.progressUpper, size / 16);
    EXPECT_EQ(results.BaudsAt(ESimStep::BootRequest), (std::vector<std::uint32_t>{9600}));
    EXPECT_EQ(OpenedBauds(), (std::vector<std::uint32_t>{9600, 128000}))
        << "a recognised charger's boot loader runs at 128000";
}

INSTANTIATE_TEST_SUITE_P(Sizes, SerialPayloadTest, ::testing::Values(0, 15, 16, 32, 4096));

TEST_F(SerialUpdateTest, AesFilesCannotGoOverASerialPort) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger();
    PressUpdate();
    EXPECT_TRUE(window_.boxes.empty());
    EXPECT_EQ(window_.errorLine, "File format error!");
    ExpectPortClosedAndControlsRestored();
    EXPECT_TRUE(bench_.Opens().empty());
}

TEST_F(SerialUpdateTest, MissingFileAndUnopenablePort) {
    AddCharger();
    window_.path = dir_.File("missing.bin");
    PressUpdate();
    ExpectEnding("Error open file", "Error", EMessageIcon::Error);

    window_.Clear();
    UseFile(EPackVariant::TripleDes, 64);
    devices_.rows[0].strPort = "simtty9";
    devices_.bListRefreshEnabled = true;
    OnUpdateClicked(context_, [] {});
    ExpectEnding("Error opening COM port", "Error", EMessageIcon::Error);
}

TEST_F(SerialUpdateTest, FileForAnotherModel) {
    UseFile(EPackVariant::TripleDes, 64);
    AddCharger({}, true, 0x0C);
    PressUpdate();
    ExpectEnding("The update file is in inconformity with the device.", "Error",
                 EMessageIcon::Error);
    EXPECT_EQ(window_.events, (std::vector<std::string>{"restore", "box"}));
}

TEST_F(SerialUpdateTest, BootLoaderThatNeverAnswersAfterSevenTries) {
    UseFile(EPackVariant::TripleDes, 64);
    const auto& charger = AddCharger({{ESimStep::Knock, kAny, ESimFaultKind::Silence, kAlways}});
    PressUpdate();
    ExpectEnding("Device not found.", "Info", EMessageIcon::None);
    EXPECT_EQ(BootLoaderOpens(), 7);
    EXPECT_EQ(Retries(), 6);
    EXPECT_EQ(charger.Results().Frames(ESimStep::Knock), 7) << "heard every time, never answered";
}

struct SFailureCase {
    const char* name;
    SFault fault;
    const char* text;
};

// Names the case in test output (the default printer would dump the struct's bytes, padding
// included).
void PrintTo(const SFailureCase& failure, std::ostream* out) {
    *out << failure.name;
}

class SerialFailureTest : public SerialUpdateTest,
                          public ::testing::WithParamInterface<SFailureCase> {};

TEST_P(SerialFailureTest, SeventhFailureShowsItsMessage) {
    UseFile(EPackVariant::TripleDes, 100); // six full frames and a last one of 4 bytes
    const auto& charger = AddCharger({GetParam().fault});
    PressUpdate();
    ExpectEnding(GetParam().text, "Error", EMessageIcon::Error);
    EXPECT_EQ(BootLoaderOpens(), 7);
    EXPECT_EQ(Retries(), 6);
    EXPECT_EQ(charger.Results().nCompleted, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SerialFailureTest,
    ::testing::Values(SFailureCase{"KnockRefused",
                                   {ESimStep::Knock, kAny, ESimFaultKind::OtherByte, kAlways},
                                   "Error communication.\n0"},
                      SFailureCase{"LengthSilent",
                                   {ESimStep::LengthFrame, kAny, ESimFaultKind::Silence, kAlways},
                                   "Error communication.\n1"},
                      SFailureCase{"LengthRefused",
                                   {ESimStep::LengthFrame, kAny, ESimFaultKind::Refuse, kAlways},
                                   "Error communication.\n1"},
                      SFailureCase{"FrameOther",
                                   {ESimStep::DataFrame, 2, ESimFaultKind::OtherByte, kAlways},
                                   "Error communication.\n2"},
                      SFailureCase{"LastRefused",
                                   {ESimStep::LastFrame, kAny, ESimFaultKind::Refuse, kAlways},
                                   "Error communication.\n3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialUpdateTest, ThreeResendsOfAFrameAreAcceptedAndAFourthStartsOver) {
    UseFile(EPackVariant::TripleDes, 64);
    const auto& three = AddCharger({{ESimStep::DataFrame, 1, ESimFaultKind::Refuse, 3}});
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(three.Results().nTransfers, 1);
    EXPECT_EQ(Retries(), 0);
}

TEST_F(SerialUpdateTest, AFourthRefusalOfAFrameStartsTheDialogueOver) {
    UseFile(EPackVariant::TripleDes, 64);
    const auto& four = AddCharger({{ESimStep::DataFrame, 1, ESimFaultKind::Refuse, 4}});
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(Retries(), 1);
    EXPECT_EQ(four.Results().nTransfers, 2) << "the payload is sent again from its first byte";
    EXPECT_EQ(four.Results().payload, packed_.loadedPayload);
}

TEST_F(SerialUpdateTest, PlainPortFallsBackToTheShortKnockAt128000) {
    UseFile(EPackVariant::TripleDes, 48);
    const auto& charger =
        AddCharger({{ESimStep::Knock, kAny, ESimFaultKind::KnockOnlyAt128000}}, false);
    ASSERT_EQ(devices_.rows[0].strType, "COMx");
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(OpenedBauds(), (std::vector<std::uint32_t>{9600, 9600, 128000}));
    EXPECT_EQ(charger.Results().payload, packed_.loadedPayload);
}

TEST_F(SerialUpdateTest, PlainPortBootLoaderAtItsOwnRate) {
    UseFile(EPackVariant::TripleDes, 48);
    AddCharger({}, false);
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(OpenedBauds(), (std::vector<std::uint32_t>{9600, 9600}));
}

TEST_F(SerialUpdateTest, ChargerThatDisappearsLeavesAPortThatCannotBeReopened) {
    UseFile(EPackVariant::TripleDes, 48);
    AddCharger({{ESimStep::BootRequest, kAny, ESimFaultKind::Disappear}});
    PressUpdate();
    ExpectEnding("Error opening COM port", "Error", EMessageIcon::Error);
}

TEST_F(SerialUpdateTest, BootRequestIsPacedAtFiftyMillisecondsPerCharacter) {
    UseFile(EPackVariant::TripleDes, 0);
    AddCharger({{ESimStep::Knock, kAny, ESimFaultKind::Silence, kAlways}});
    window_.onMessageBox = nullptr;
    PressUpdate();
    // First try: 10 x 50 ms of boot request, 150 ms after its "&", 100 ms of knock, 1000 ms
    // waiting for its answer. Each later try: 500 ms of pause, the boot request, which the
    // charger (still in its boot loader at 128000) cannot hear, so 2000 ms of waiting for an
    // answer, then knock and wait again.
    EXPECT_EQ(BoxTime(), (500u + 150 + 100 + 1000) + 6u * (500 + 500 + 2000 + 100 + 1000));
}

} // namespace
