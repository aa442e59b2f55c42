// A test bench for whole update runs: a simulated charger desk on a virtual clock, the device
// table filled from it, a fake window whose DispatchPendingMessages refills the table when the
// desk's devices change (as device-change notifications do), and update files from the packer.
#pragma once

#include "device/SerialEnumeration.h"
#include "protocol/UpdateRun.h"
#include "sim/SimBench.h"
#include "support/FakeDeviceList.h"
#include "support/FakeUpdateWindow.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace crenovix::testsupport {

// Thrown out of a run that does not end; the test reports it instead of hanging.
struct SRunCutOff {
    std::string why;
};

inline constexpr std::uint64_t kMaxClockCalls = 1'000'000;

// A virtual clock that ends a run which would wait past a cap, or which keeps asking the clock
// without end, by throwing out of the dialogue (its port closes on the way out). Without a cap
// set, only the count of calls limits it.
class CCappedClock final : public IClock {
public:
    explicit CCappedClock(CVirtualClock& time) : time_(time) {}
    void SetCap(std::uint64_t capMs) { capMs_ = capMs; }

    std::uint32_t TickCount() override {
        Count();
        return time_.TickCount();
    }
    void Sleep(std::uint32_t ms) override {
        Count();
        if (time_.Now() + ms > capMs_) {
            throw SRunCutOff{"the run would wait past " + std::to_string(capMs_) + " ms"};
        }
        time_.Sleep(ms);
    }

private:
    void Count() {
        if (++calls_ > kMaxClockCalls) {
            throw SRunCutOff{"the run asked the clock " + std::to_string(calls_) + " times"};
        }
    }

    CVirtualClock& time_;
    std::uint64_t capMs_ = ~std::uint64_t{0};
    std::uint64_t calls_ = 0;
};

class CRunFixture : public ::testing::Test {
protected:
    CRunFixture() {
        window_.onDispatch = [this] {
            if (bench_.TakeDevicesChanged()) {
                RefreshDeviceList(devices_, listView_, enumerator_);
            }
        };
    }

    // Writes an update file made by the packer and makes it the window's path.
    void UseFile(EPackVariant variant, std::size_t payloadSize, SHeaderFields fields = {}) {
        packed_ = Pack(variant, fields, PatternPayload(payloadSize, 11));
        path_ = dir_.File("update.bin");
        WriteBytes(path_, packed_.bytes);
        window_.path = path_;
    }

    // The device list as the window shows it before Update is pressed.
    void ListDevices() {
        RefreshDeviceList(devices_, listView_, enumerator_);
        bench_.TakeDevicesChanged();
        devices_.bFileValid = true;
    }

    void PressUpdate(int row = 0) {
        window_.selection = row;
        OnUpdateClicked(context_, [this] { RefreshDeviceList(devices_, listView_, enumerator_); });
    }

    // The run's one message box, and the state every ending must leave behind.
    void ExpectEnding(const std::string& text, const std::string& title, EMessageIcon icon) {
        ASSERT_EQ(window_.boxes.size(), 1u);
        EXPECT_EQ(window_.boxes[0].text, text);
        EXPECT_EQ(window_.boxes[0].title, title);
        EXPECT_EQ(window_.boxes[0].icon, icon);
        ExpectPortClosedAndControlsRestored();
    }
    void ExpectPortClosedAndControlsRestored() {
        EXPECT_EQ(bench_.OpenChannels(), 0) << "the port is closed at every ending";
        EXPECT_NE(std::find(window_.events.begin(), window_.events.end(), "restore"),
                  window_.events.end())
            << "RestoreControls runs at every ending";
        EXPECT_FALSE(window_.statusShown);
        EXPECT_FALSE(window_.progressShown);
        EXPECT_TRUE(devices_.bListRefreshEnabled);
        EXPECT_TRUE(window_.listEnabled);
    }
    std::uint64_t BoxTime() const { return window_.boxes.at(0).atMs; }
    bool Completed() const {
        return window_.boxes.size() == 1 && window_.boxes[0].title == "Success";
    }

    // Full tries the serial dialogue started over.
    int Retries() const {
        return static_cast<int>(std::count(window_.statusTexts.begin(), window_.statusTexts.end(),
                                           "Connecting again..."));
    }

    CVirtualClock clock_;
    CCappedClock cappedClock_{clock_}; // what the run and the charger wait on
    sim::CSimBench bench_{cappedClock_};
    SDeviceListState devices_;
    CFakeUpdateWindow window_{devices_, &clock_};
    CFakeDeviceListView listView_;
    CDeviceEnumerator enumerator_{bench_, bench_};
    CFixedNonces nonces_{{0x1234, 0x0042, 0x7FFF, 0, 12345, 777}};
    std::array<std::uint8_t, kUpdateImageSize> image_{};
    SUpdateContext context_{window_, cappedClock_, bench_, devices_, nonces_, image_};
    CTempDir dir_;
    SPackedFile packed_;
    std::string path_;
};

} // namespace crenovix::testsupport
