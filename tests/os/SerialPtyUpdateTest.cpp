// The serial dialogue in real time through the real termios adapter, against the simulated
// charger behind a pseudo-terminal. The charger side reads the rates the host sets from the
// master end, so the test sees what a real charger's line would carry.
#include "device/linux/LinuxPortOpener.h"
#include "protocol/UpdateRun.h"
#include "sim/linux/SimPtyHost.h"
#include "support/FakeUpdateWindow.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

class SerialPtyUpdateTest : public ::testing::Test {
protected:
    std::unique_ptr<sim::CSimPtyHost> StartCharger(bool usb, std::vector<sim::SFault> faults = {}) {
        sim::SSimSerialConfig config;
        config.faults = std::move(faults);
        config.bUsb = usb;
        config.identity.strType = usb ? "Kavro Kelvorin K4" : "";
        int error = 0;
        auto host = sim::CSimPtyHost::Start(chargerClock_, config, error);
        EXPECT_NE(host, nullptr) << "pseudo-terminal: errno " << error;
        return host;
    }

    void Run(const std::string& portPath, bool usb) {
        const SPackedFile file = Pack(EPackVariant::TripleDes, {}, PatternPayload(100, 3));
        payload_ = file.loadedPayload;
        window_.path = dir_.File("update.bin");
        WriteBytes(window_.path, file.bytes);
        devices_.rows[0] = usb ? SDeviceEntry{"Kavro Kelvorin K4", "SIM0001", portPath}
                               : SDeviceEntry{"COMx", "", portPath};
        devices_.nDeviceCount = 1;
        window_.selection = 0;
        RunSerialUpdate(context_);
    }

    CSteadyClock chargerClock_;
    CSteadyClock clock_;
    CLinuxPortOpener opener_;
    SDeviceListState devices_;
    CFakeUpdateWindow window_{devices_};
    CNonceGenerator nonces_{1};
    std::array<std::uint8_t, kUpdateImageSize> image_{};
    SUpdateContext context_{window_, clock_, opener_, devices_, nonces_, image_};
    CTempDir dir_;
    std::vector<std::uint8_t> payload_;
};

TEST_F(SerialPtyUpdateTest, RecognisedChargerIsUpdatedAt128000) {
    const auto host = StartCharger(true);
    ASSERT_NE(host, nullptr);
    Run(host->SlavePath(), true);

    ASSERT_EQ(window_.boxes.size(), 1u);
    EXPECT_EQ(window_.boxes[0].text, "Upgrade completion!");
    const sim::SSimResults results = host->Results();
    EXPECT_EQ(results.payload, payload_);
    EXPECT_EQ(results.BaudsAt(sim::ESimStep::BootRequest), (std::vector<std::uint32_t>{9600}));
    const auto frameBauds = results.BaudsAt(sim::ESimStep::DataFrame);
    ASSERT_EQ(frameBauds.size(), 6u);
    EXPECT_TRUE(std::all_of(frameBauds.begin(), frameBauds.end(),
                            [](std::uint32_t baud) { return baud == 128000; }));
    EXPECT_EQ(results.BaudsAt(sim::ESimStep::Knock), (std::vector<std::uint32_t>{128000}));
}

// In real time, through the termios adapter: a stray "&" after the first byte of a frame the
// charger then refuses, its "5" 0, 3 or 20 ms behind. The try fails (the stray met the check byte
// or the refusal met a later discard or the guard after the last answer), the next try sends the
// whole payload, and the charger holds the file's payload: never a success over another one.
TEST_F(SerialPtyUpdateTest, AStrayReplyFailsItsTryInRealTime) {
    // First, middle and last frame (100 bytes: 6 full frames, 4 bytes left), one delay each.
    for (const auto& [frame, delayMs] :
         std::vector<std::pair<int, std::uint32_t>>{{0, 0u}, {3, 3u}, {6, 20u}}) {
        {
            sim::SFault fault{frame == 6 ? sim::ESimStep::LastFrame : sim::ESimStep::DataFrame,
                              frame, sim::ESimFaultKind::StrayReply, 1};
            fault.dwDelayMs = delayMs;
            const auto host = StartCharger(true, {fault});
            ASSERT_NE(host, nullptr);
            window_.boxes.clear();
            Run(host->SlavePath(), true);

            ASSERT_EQ(window_.boxes.size(), 1u);
            EXPECT_EQ(window_.boxes[0].text, "Upgrade completion!") << frame << " " << delayMs;
            const sim::SSimResults results = host->Results();
            EXPECT_TRUE(results.bComplete) << frame << " " << delayMs;
            EXPECT_EQ(results.payload, payload_) << frame << " " << delayMs;
            EXPECT_EQ(results.nTransfers, 2) << "the stray cost one try";
        }
    }
}

TEST_F(SerialPtyUpdateTest, PlainPortStaysAt9600) {
    const auto host = StartCharger(false);
    ASSERT_NE(host, nullptr);
    Run(host->SlavePath(), false);

    ASSERT_EQ(window_.boxes.size(), 1u);
    EXPECT_EQ(window_.boxes[0].text, "Upgrade completion!");
    const sim::SSimResults results = host->Results();
    EXPECT_EQ(results.payload, payload_);
    EXPECT_EQ(results.BaudsAt(sim::ESimStep::Knock), (std::vector<std::uint32_t>{9600}));
}

} // namespace
