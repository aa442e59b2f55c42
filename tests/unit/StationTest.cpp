#include "app/Station.h"
#include "device/SerialEnumeration.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"
#include "support/FakeUpdateLog.h"
#include "support/SteppedClock.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <thread>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

// The bench's devices as the station lists them, without the chargers the test has unplugged.
struct SListing final : IDeviceEnumerator {
    explicit SListing(sim::CSimBench& bench) : devices(bench, bench) {}
    void ListDevices(SerInfoList& list, bool probe) override {
        devices.ListDevices(list, probe);
        std::erase_if(list, [this](const SSerInfo& record) {
            return unplugged.contains(SerialFromPath(record.strPath));
        });
    }
    CDeviceEnumerator devices;
    std::set<std::string> unplugged; // by serial number
};

// Listings of the runs that fail before one succeeds (a system listing that fails while other
// chargers restart).
std::atomic<int> failingRunListings{0};

// A run's devices: the same bench, its table refilled whenever the run looks.
struct SRunDevices final : IStationRunDevices, IDeviceEnumerator {
    SRunDevices(sim::CSimBench& bench, std::optional<bool> stored)
        : bench_(bench), enumerator_(bench, bench), stored_(stored) {}
    IDeviceEnumerator& Enumerator() override { return *this; }
    void ListDevices(SerInfoList& list, bool probe) override {
        if (failingRunListings > 0) {
            --failingRunListings;
            throw CEnumerationError("listing failed");
        }
        enumerator_.ListDevices(list, probe);
    }
    IPortOpener& Ports() override { return bench_; }
    bool TakeDevicesChanged() override { return true; }
    std::optional<bool> StoredPayloadIs(const std::string&, const std::string&,
                                        std::span<const std::uint8_t>) override {
        return stored_;
    }
    sim::CSimBench& bench_;
    CDeviceEnumerator enumerator_;
    std::optional<bool> stored_;
};

// Real time the test can move on between runs: runs that overlap each wait in real time, as on
// a machine. (On one virtual clock each run's waits would jump the others' time, and a serial
// charger takes a jump for the host's pause and starts over.)
class CShiftedClock final : public IClock {
public:
    std::uint32_t TickCount() override {
        return steady_.TickCount() + static_cast<std::uint32_t>(shift_.load());
    }
    void Sleep(std::uint32_t ms) override { steady_.Sleep(ms); }
    void Advance(std::uint64_t ms) { shift_ += ms; }

private:
    CSteadyClock steady_;
    std::atomic<std::uint64_t> shift_{0};
};

struct SCountingObserver final : IStationObserver {
    void OnStationChanged() override { ++changes; }
    void OnRunEnded(const SStationRow&, const SRunResult& result) override {
        const std::lock_guard lock(mutex);
        outcomes.push_back(result.outcome);
    }
    std::atomic<int> changes{0};
    std::mutex mutex;
    std::vector<ERunOutcome> outcomes;
};

class StationTest : public ::testing::Test {
protected:
    enum class ETime { Virtual, Held, Real };
    // A new station over a new bench with `chargers` (as sim::AddDemoChargers) on a virtual
    // clock, one whose runs wait for turns that never come (Held), or real time.
    void Make(const std::string& chargers, std::optional<bool> stored = std::nullopt,
              ETime time = ETime::Virtual) {
        station_.reset();
        listing_.reset();
        bench_.reset();
        stepped_ = nullptr;
        if (time == ETime::Real) {
            auto real = std::make_unique<CShiftedClock>();
            advance_ = [clock = real.get()](std::uint32_t ms) { clock->Advance(ms); };
            clock_ = std::move(real);
        } else {
            auto stepped = std::make_unique<CSteppedClock>();
            stepped_ = stepped.get();
            advance_ = [stepped = stepped_](std::uint32_t ms) { stepped->Advance(ms); };
            if (time == ETime::Virtual) {
                stepped->Release();
            }
            clock_ = std::move(stepped);
        }
        bench_ = std::make_unique<sim::CSimBench>(*clock_);
        listing_ = std::make_unique<SListing>(*bench_);
        ASSERT_FALSE(sim::AddDemoChargers(*bench_, chargers));
        SHeaderFields fields;
        fields.version = "V2.07";
        fields.type = "Kelvorin K4";
        WriteBytes(dir_.File("fw.bin"),
                   Pack(EPackVariant::TripleDes, fields, PatternPayload(640, 5)).bytes);
        station_ = std::make_unique<CStation>(SStationServices{
            *listing_,
            [this, stored] { return std::make_unique<SRunDevices>(*bench_, stored); },
            *clock_,
            [] { return 7u; },
            &observer_,
            {},
            &log_});
        ASSERT_TRUE(station_->ChooseFile(dir_.File("fw.bin")));
    }
    // Until the runs under way have ended (a real-time bound: the runs go on other threads).
    void Settle() {
        for (int i = 0; i < 20'000 && station_->Busy(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(station_->Wait(0));
    }
    // Lists again `ms` later, and lets the runs that started end.
    void Look(std::uint32_t ms = 0) {
        advance_(ms);
        ASSERT_FALSE(station_->OnDevicesChanged());
        Settle();
    }
    std::vector<std::string> States() {
        std::vector<std::string> states;
        for (const SStationRow& row : station_->Rows()) {
            states.push_back(row.device.strSerial + " " + StationStateText(row.state));
            if (row.state == EStationState::Failed) {
                states.back() += " " + row.resultText;
            }
        }
        return states;
    }
    // Whole transfers the HID charger stored (a serial try that failed half-way is taken again).
    int Transfers(std::size_t charger) { return bench_->HidCharger(charger).Results().nCompleted; }

    SCountingObserver observer_;
    CTempDir dir_;
    std::unique_ptr<IClock> clock_;
    CSteppedClock* stepped_ = nullptr;
    std::function<void(std::uint32_t)> advance_;
    std::unique_ptr<sim::CSimBench> bench_;
    testsupport::CFakeUpdateLog log_;
    std::unique_ptr<SListing> listing_;
    std::unique_ptr<CStation> station_; // last: its runs use everything above
};

TEST_F(StationTest, TheFileChosenOnceIsShownAndAnUnusableOneStartsNothing) {
    Make("hid");
    const SStationFile file = station_->File();
    EXPECT_TRUE(file.bValid);
    EXPECT_EQ(file.version, "V2.07");
    EXPECT_EQ(file.type, "Kelvorin K4");
    EXPECT_EQ(file.deviceCode, 0x0A);

    WriteBytes(dir_.File("bad.bin"), std::vector<std::uint8_t>(600, 0x41));
    ASSERT_TRUE(station_->ChooseFile(dir_.File("bad.bin")));
    EXPECT_FALSE(station_->File().bValid);
    EXPECT_EQ(station_->File().errorText, "File format error!");
    Look();
    EXPECT_FALSE(station_->UpdateAll());
    station_->SetAutomatic(true);
    Look();
    EXPECT_EQ(States(), std::vector<std::string>{"SIM1001 waiting"});
    EXPECT_EQ(Transfers(0), 0);
}

// Automatic: each unit once, however often the list is looked at while it stays plugged; a unit
// unplugged and plugged back is a new unit, updated again; the counters count runs. Several runs
// at once, in real time.
TEST_F(StationTest, AutomaticUpdatesEachUnitOnceAndAReplugAgain) {
    Make("serial,serial,serial", std::nullopt, ETime::Real);
    station_->SetAutomatic(true);
    Look();
    EXPECT_EQ(States(), (std::vector<std::string>{"SIM2001 done", "SIM2002 done", "SIM2003 done"}));
    for (const std::uint32_t later : {0u, 2'000u, 20'000u, 60'000u}) {
        Look(later);
    }
    const auto completed = [this](std::size_t serial) {
        return bench_->SerialCharger(serial).Results().nCompleted;
    };
    EXPECT_EQ(completed(0), 1);
    EXPECT_EQ(completed(1), 1);

    const std::uint64_t first = station_->Rows()[1].id;
    listing_->unplugged = {"SIM2002"};
    Look(1'000);
    EXPECT_EQ(States()[1], "SIM2002 unplugged");
    listing_->unplugged.clear();
    Look(1'000);
    const std::vector<SStationRow> rows = station_->Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].device.strSerial, "SIM2002");
    EXPECT_NE(rows[3].id, first);
    EXPECT_EQ(rows[3].state, EStationState::Done);
    EXPECT_EQ(completed(1), 2);
    EXPECT_EQ(completed(0), 1);
    EXPECT_EQ(station_->Counters().updated, 4);
    EXPECT_EQ(station_->Counters().failed, 0);
    EXPECT_GT(observer_.changes.load(), 0);

    // Update all: every listed unit again, each in a run of its own.
    EXPECT_TRUE(station_->UpdateAll());
    Settle();
    EXPECT_EQ(completed(0), 2);
    EXPECT_EQ(completed(1), 3);
    EXPECT_EQ(completed(2), 2);
    EXPECT_EQ(station_->Counters().updated, 7);
}

// After a success the unit restarts into its new firmware: leaving soon after and coming back
// soon is that restart (same row, no second run); anything else is an unplug and a new unit.
TEST_F(StationTest, ARestartAfterSuccessKeepsTheRowAndAnUnplugDoesNot) {
    struct SCase {
        const char* name;
        std::uint32_t leaveAfterMs;
        std::uint32_t backAfterMs;
        int transfers;
        std::size_t rows;
    };
    const SCase cases[] = {
        {"restart", 500, 1'500, 1, 1},
        {"unplugged long after the success", CStation::kRestartStartMs + 1, 1'000, 2, 2},
        {"away too long for a restart", 500, CStation::kRestartReturnMs + 1, 2, 2},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        Make("hid");
        station_->SetAutomatic(true);
        Look();
        ASSERT_EQ(States(), std::vector<std::string>{"SIM1001 done"});
        const std::uint64_t id = station_->Rows()[0].id;
        advance_(c.leaveAfterMs);
        listing_->unplugged = {"SIM1001"};
        Look();
        listing_->unplugged.clear();
        Look(c.backAfterMs);
        EXPECT_EQ(Transfers(0), c.transfers);
        ASSERT_EQ(station_->Rows().size(), c.rows);
        EXPECT_EQ(station_->Rows()[0].id, id);
        EXPECT_EQ(station_->Rows().back().state, EStationState::Done);
    }
}

// The boot loader comes back at another HID position: the run follows it there by serial
// number, and the row stays with the unit under its new port.
TEST_F(StationTest, AUnitThatComesBackElsewhereKeepsItsRow) {
    Make("hid:moved,hid");
    Look();
    ASSERT_TRUE(station_->UpdateRow(station_->Rows()[0].id));
    Settle();
    Look(20'000);
    const std::vector<SStationRow> rows = station_->Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].device.strSerial, "SIM1001");
    EXPECT_EQ(rows[0].state, EStationState::Done) << rows[0].resultText;
    EXPECT_NE(rows[0].device.strPort, "HID1");
    EXPECT_EQ(rows[0].runs, 1);
    EXPECT_EQ(rows[1].state, EStationState::Waiting);
    EXPECT_EQ(Transfers(0), 1);
}

// Refused and failed endings: the row's state and text, the counters, and what the chargers
// stored (a refusing charger nothing at all); twins are two units, each updated once.
TEST_F(StationTest, RunEndingsShowInTheirRows) {
    struct SCase {
        const char* chargers;
        std::vector<std::string> states;
        const char* text; // of the first row
        int updated;
    };
    const SCase cases[] = {
        {"hid:refuse", {"SIM1001 refused"}, run_text::kInconformity, 0},
        {"serial:noreturn", {"SIM2001 failed Device not found."}, run_text::kDeviceNotFound, 0},
        {"serial,serial:twin", {"SIM2001 done", "SIM2001 done"}, "Upgrade completion!", 2},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.chargers);
        Make(c.chargers);
        station_->SetAutomatic(true);
        Look();
        EXPECT_EQ(States(), c.states);
        EXPECT_EQ(station_->Rows()[0].resultText, c.text);
        EXPECT_EQ(station_->Counters().updated, c.updated);
        EXPECT_EQ(station_->Counters().failed, static_cast<int>(c.states.size()) - c.updated);
    }
    EXPECT_EQ(bench_->SerialCharger(0).Results().nCompleted, 1);
    EXPECT_EQ(bench_->SerialCharger(1).Results().nCompleted, 1);
    // A run whose first listings fail looks again before it calls its charger gone.
    Make("hid");
    failingRunListings = 3;
    station_->SetAutomatic(true);
    Look();
    EXPECT_EQ(States(), std::vector<std::string>{"SIM1001 done"});
    // A record that could not be written is said in the row; the update stays done.
    log_.failure = "disk full";
    Make("hid");
    station_->SetAutomatic(true);
    Look();
    EXPECT_EQ(States(), std::vector<std::string>{"SIM1001 done"});
    EXPECT_TRUE(station_->Rows()[0].resultText.ends_with("; " + LogFailureText("disk full")));
    log_.failure.clear();
    Make("hid:refuse");
    station_->SetAutomatic(true);
    Look();
    EXPECT_EQ(bench_->HidCharger(0).Results().nTransfers, 0);
    EXPECT_TRUE(bench_->HidCharger(0).Results().payload.empty());
}

TEST_F(StationTest, ASuccessTheChargerDoesNotConfirmIsAFailure) {
    Make("hid", false);
    station_->SetAutomatic(true);
    Look();
    ASSERT_EQ(station_->Rows().size(), 1u);
    EXPECT_EQ(station_->Rows()[0].state, EStationState::Failed);
    EXPECT_NE(station_->Rows()[0].resultText.find("Verification failed"), std::string::npos);
    EXPECT_EQ(station_->Counters().failed, 1);
}

// Wait is bounded on the station's clock; Abort ends the runs through their failure paths.
TEST_F(StationTest, AbortEndsRunsAndWaitIsBounded) {
    Make("hid,hid", std::nullopt, ETime::Held);
    station_->SetAutomatic(true);
    ASSERT_FALSE(station_->OnDevicesChanged());
    EXPECT_TRUE(station_->Busy());
    EXPECT_FALSE(station_->Wait(500));
    station_->Abort();
    EXPECT_FALSE(station_->UpdateAll()) << "nothing starts once stopped";
    stepped_->Release();
    Settle();
    for (const SStationRow& row : station_->Rows()) {
        EXPECT_EQ(row.state, EStationState::Failed);
        EXPECT_NE(row.resultText.find("aborted"), std::string::npos) << row.resultText;
    }
    EXPECT_EQ(observer_.outcomes,
              (std::vector<ERunOutcome>{ERunOutcome::Aborted, ERunOutcome::Aborted}));
    EXPECT_FALSE(bench_->HidCharger(0).Results().bComplete);
    EXPECT_EQ(bench_->OpenChannels(), 0);
}

} // namespace
