#include "app/RunAbort.h"
#include "protocol/Frames.h"
#include "support/FakePort.h"
#include "support/FakeUpdateLog.h"
#include "support/RunFixture.h"
#include "updatefile/Sha256.h"

#include <array>
#include <span>
#include <tuple>

using namespace crenovix;
using namespace crenovix::testsupport;
using sim::ESimFaultKind;
using sim::ESimStep;
using sim::SFault;

namespace {

// The charger leaves at the boot request's "&" and is back 1500 ms later; the run looks after
// 1000 ms and then every 200 ms, so it finds it at 1600 ms.
constexpr std::uint64_t kBackAtMs = 1600;

class HidUpdateTest : public CRunFixture {
protected:
    // A keyboard at position 0 and the charger at position 1, as on a real machine.
    sim::CSimHidCharger& AddCharger(std::vector<SFault> faults = {}, std::uint8_t model = 0x0A,
                                    bool startInBootLoader = false) {
        bench_.AddHidInterface({});
        sim::SSimHidConfig config;
        config.identity.byModelCode = model;
        config.identity.nHidPosition = 1;
        config.faults = std::move(faults);
        config.bStartInBootLoader = startInBootLoader;
        sim::CSimHidCharger& charger = bench_.AddHidCharger(config);
        ListDevices();
        return charger;
    }

    // A mouse listed after the charger's interface: a charger coming back takes the next name.
    void AddMouse() {
        sim::SSimHidInterface mouse;
        mouse.strProduct = "USB Mouse";
        mouse.nOrder = 3;
        bench_.AddHidInterface(mouse);
    }

    void ExpectCommunicationError(int code) {
        ExpectEnding(CommunicationErrorText(code), "Error", EMessageIcon::Error);
    }
};

class HidPayloadTest : public HidUpdateTest,
                       public ::testing::WithParamInterface<std::tuple<int, std::size_t>> {};

TEST_P(HidPayloadTest, StoresThePayloadByteForByte) {
    const auto [mode, size] = GetParam();
    SHeaderFields fields;
    fields.payloadMode = static_cast<std::uint8_t>(mode);
    UseFile(EPackVariant::Aes, size, fields);
    const sim::CSimHidCharger& charger = AddCharger();
    ASSERT_EQ(devices_.rows[0].strPort, "HID1");

    PressUpdate();

    ASSERT_TRUE(Completed()) << (window_.boxes.empty() ? "no box" : window_.boxes[0].text);
    ExpectEnding(CompletionText(static_cast<std::uint32_t>(BoxTime())), "Success",
                 EMessageIcon::None);
    EXPECT_EQ(BoxTime(), kBackAtMs + kAnswerGuardMs) << "the guard after the last answer";
    const sim::SSimResults& results = charger.Results();
    EXPECT_TRUE(results.bComplete);
    EXPECT_EQ(results.payload, packed_.loadedPayload);
    EXPECT_EQ(results.bMasked, mode == 0) << "payload mode 0 is sent masked, others as stored";
    EXPECT_TRUE(results.bPaddingZero) << "bytes past the payload are zero before masking";

    const std::size_t blocks = (size + 63) / 64;
    EXPECT_EQ(results.Frames(ESimStep::DataBlock), static_cast<int>(blocks));
    EXPECT_EQ(window_.progressUpper, blocks);
    EXPECT_EQ(window_.progressPositions.size(), blocks + 1);
    EXPECT_EQ(window_.statusTexts,
              (std::vector<std::string>{"Open file: " + path_, "Connecting...", "Upgrading ..."}));
}

INSTANTIATE_TEST_SUITE_P(PayloadModesAndSizes, HidPayloadTest,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(0, 15, 16, 32, 65, 4096)));

TEST_F(HidUpdateTest, TripleDesFilesAndSignedModelCodesReachTheCharger) {
    SHeaderFields fields;
    fields.deviceCode = 0x90;
    fields.payloadMode = 1;
    UseFile(EPackVariant::TripleDes, 640, fields);
    const auto& charger = AddCharger({}, 0x90);
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(charger.Results().payload, packed_.loadedPayload);
}

TEST_F(HidUpdateTest, FileProblemsEndTheRunBeforeAnyPortIsOpened) {
    AddCharger();
    struct SCase {
        std::string name;
        std::vector<std::uint8_t> bytes;
        std::string errorLine;
        bool box;
    };
    const std::vector<SCase> cases = {
        {"too big", std::vector<std::uint8_t>(kUpdateImageSize + 1, 0), "The file is big!", false},
        {"format", PatternPayload(600, 5), "File format error!", false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        window_.Clear();
        window_.path = dir_.File(c.name + ".bin");
        WriteBytes(window_.path, c.bytes);
        PressUpdate();
        EXPECT_TRUE(window_.boxes.empty());
        EXPECT_EQ(window_.errorLine, c.errorLine);
        EXPECT_TRUE(window_.fileInfoReset);
        EXPECT_FALSE(devices_.bFileValid);
        ExpectPortClosedAndControlsRestored();
    }
    EXPECT_TRUE(bench_.Opens().empty());

    window_.Clear();
    window_.path = dir_.File("missing.bin");
    PressUpdate();
    ExpectEnding("Error open file", "Error", EMessageIcon::Error);
    EXPECT_EQ(window_.errorLine, "");
    EXPECT_EQ(window_.events, (std::vector<std::string>{"reset", "box", "restore"}));

    window_.Clear();
    window_.path = dir_.File("empty.bin");
    WriteBytes(window_.path, {});
    window_.statusShown = true;
    window_.updateEnabled = false;
    PressUpdate();
    EXPECT_TRUE(window_.boxes.empty()) << "an empty file ends the run quietly";
    EXPECT_FALSE(window_.fileInfoReset);
    EXPECT_FALSE(window_.statusShown);
    EXPECT_TRUE(window_.updateEnabled);
    EXPECT_TRUE(bench_.Opens().empty());
}

// The engine records each run once its port is closed, after the front end's last word, and a
// log that fails is said without changing the update's result.
TEST_F(HidUpdateTest, TheRunIsRecordedWithItsPortClosed) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger();
    CFakeUpdateLog log;
    SRunJob job{window_, cappedClock_, bench_, devices_, nonces_, image_, path_, 0, false, &log};
    int openAtTheEnd = -1;
    job.conclude = [&](SRunResult& result) {
        openAtTheEnd = bench_.OpenChannels();
        result.errorLine = "concluded";
    };
    const std::uint64_t started = clock_.Now();
    const SRunResult result = RunUpdate(job);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(openAtTheEnd, 0);
    ASSERT_EQ(log.records.size(), 1u);
    const SUpdateRecord& record = log.records[0];
    EXPECT_EQ(record.port, "HID1");
    EXPECT_EQ(record.type, devices_.rows[0].strType);
    EXPECT_EQ(record.serial, devices_.rows[0].strSerial);
    EXPECT_EQ(record.file, path_);
    EXPECT_EQ(record.fileVersion, "V1.00");
    EXPECT_EQ(record.fileSha256, Sha256Hex(packed_.bytes));
    EXPECT_TRUE(record.ok);
    EXPECT_EQ(record.code, 0);
    EXPECT_EQ(record.message, result.boxText);
    EXPECT_EQ(record.elapsedMs, clock_.Now() - started);
    EXPECT_EQ(result.logError, "");

    log.failure = "disk full";
    clock_.Sleep(5000); // the charger restarts into its new firmware
    ListDevices();
    const SRunResult again = RunUpdate(job);
    EXPECT_TRUE(again.Ok());
    EXPECT_EQ(again.logError, "The update log could not be written: disk full");
    // A selection that names no row starts nothing and leaves nothing to record.
    log.failure.clear();
    job.selection = 5;
    EXPECT_EQ(RunUpdate(job).outcome, ERunOutcome::NothingSelected);
    EXPECT_EQ(log.records.size(), 1u);
}

// An abort after the charger's last answer, during the wait to see whether anything follows it:
// that check is not made, so the run must not end in success.
TEST_F(HidUpdateTest, AnAbortDuringTheLastCheckIsNoSuccess) {
    UseFile(EPackVariant::Aes, 128);
    // Aborted from the run's first wait after the charger stored the whole payload.
    struct SAbortAtTheCheck final : IClock, IAbortSignal {
        SAbortAtTheCheck(IClock& c, const sim::CSimHidCharger& s) : inner(c), charger(s) {}
        std::uint32_t TickCount() override { return inner.TickCount(); }
        void Sleep(std::uint32_t ms) override {
            aborted = aborted || charger.Results().bComplete;
            inner.Sleep(ms);
        }
        bool Aborted() override { return aborted; }
        IClock& inner;
        const sim::CSimHidCharger& charger;
        bool aborted = false;
    } abort{cappedClock_, AddCharger()};
    CAbortableClock clock(abort, abort);
    CAbortablePorts ports(bench_, abort);
    SRunJob job{window_, clock, ports, devices_, nonces_, image_, path_, 0};
    EXPECT_FALSE(RunUpdate(job).Ok());
    EXPECT_TRUE(abort.aborted);
    EXPECT_EQ(bench_.OpenChannels(), 0);
}

TEST_F(HidUpdateTest, PortThatCannotBeOpened) {
    UseFile(EPackVariant::Aes, 64);
    devices_.rows[0] = {"Kelvorin K4", "SIM0001", "HID7", 7};
    devices_.nDeviceCount = 1;
    PressUpdate();
    ExpectEnding("Error opening USB HID", "Error", EMessageIcon::Error);
    EXPECT_EQ(BoxTime(), 0u);
}

TEST_F(HidUpdateTest, FileForAnotherModelIsRefusedAtTheBootRequest) {
    UseFile(EPackVariant::Aes, 64); // device code 0x0A
    const auto& charger = AddCharger({}, 0x0B);
    PressUpdate();
    ExpectEnding("The update file is in inconformity with the device.", "Error",
                 EMessageIcon::Error);
    EXPECT_EQ(window_.events, (std::vector<std::string>{"restore", "box"}))
        << "the controls come back before the box";
    EXPECT_EQ(charger.Results().nTransfers, 0);
}

TEST_F(HidUpdateTest, ChargerThatNeverComesBack) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger({{ESimStep::Reconnection, sim::kSimAnyIndex, ESimFaultKind::NeverReturn}});
    PressUpdate();
    ExpectEnding("Error opening USB HID", "Error", EMessageIcon::Error);
    EXPECT_EQ(BoxTime(), 1000u + 50u * 200u);
    EXPECT_EQ(window_.dispatches, 50);
}

// Each refusal goes back through reconnection: 1000 ms, and the charger, still in its boot
// loader, opens at the first attempt.
TEST_F(HidUpdateTest, NoStartReply) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger({{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::Silence}});
    PressUpdate();
    ExpectCommunicationError(1001);
    EXPECT_EQ(BoxTime(), kBackAtMs + 5000);
}

TEST_F(HidUpdateTest, FifthStartRefusalEndsTheRun) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger({{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::Refuse, 5}});
    PressUpdate();
    ExpectCommunicationError(1002);
    EXPECT_EQ(BoxTime(), kBackAtMs + 4 * 1000);
    EXPECT_EQ(nonces_.Drawn(), 5u) << "every start frame carries a fresh nonce";
}

TEST_F(HidUpdateTest, FourStartRefusalsThenAcceptance) {
    UseFile(EPackVariant::Aes, 200);
    const auto& charger =
        AddCharger({{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::Refuse, 4}});
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(charger.Results().payload, packed_.loadedPayload);
}

TEST_F(HidUpdateTest, StartReplyWithWrongCrc) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger({{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::WrongCrc}});
    PressUpdate();
    ExpectCommunicationError(1003);
    EXPECT_EQ(BoxTime(), kBackAtMs);
}

TEST_F(HidUpdateTest, KeyWordFailures) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger({{ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::Silence}});
    PressUpdate();
    ExpectCommunicationError(1006);
    EXPECT_EQ(BoxTime(), kBackAtMs + 5000);
}

TEST_F(HidUpdateTest, KeyWordAnsweredWithAnotherByte) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger({{ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::OtherByte}});
    PressUpdate();
    ExpectCommunicationError(1007);
}

TEST_F(HidUpdateTest, KeyWordRefusalsGoBackThroughReconnectionAndAreBounded) {
    UseFile(EPackVariant::Aes, 64);
    const auto& twice =
        AddCharger({{ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::Refuse, 2}});
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(twice.Results().Frames(ESimStep::StartFrame), 3);
}

TEST_F(HidUpdateTest, AChargerThatKeepsRefusingTheKeyCannotHoldTheRun) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger({{ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::Refuse, sim::kSimEveryTime}});
    PressUpdate();
    ExpectCommunicationError(1002);
    EXPECT_EQ(nonces_.Drawn(), 5u);
}

TEST_F(HidUpdateTest, BlockFailures) {
    UseFile(EPackVariant::Aes, 640);
    AddCharger({{ESimStep::DataBlock, 3, ESimFaultKind::Silence}});
    PressUpdate();
    ExpectCommunicationError(1008);
    EXPECT_EQ(BoxTime(), kBackAtMs + 2000);
    EXPECT_EQ(window_.progressPos, 3);
}

TEST_F(HidUpdateTest, BlockRefused) {
    UseFile(EPackVariant::Aes, 640);
    AddCharger({{ESimStep::DataBlock, 9, ESimFaultKind::Refuse}});
    PressUpdate();
    ExpectCommunicationError(1009);
    EXPECT_EQ(window_.progressPos, 9);
}

// Found by fuzzing the dialogue: the charger answers block 0 twice, the write of block 1 fails,
// and the repeated "&", arriving while block 1 was written, was taken as block 1's answer, so the
// run showed "Upgrade completion!" although block 1 never left the computer. A failed write now
// ends its step as a missing reply.
TEST_F(HidUpdateTest, AFailedBlockWriteIsNotAnsweredByARepeatedReply) {
    UseFile(EPackVariant::Aes, 2 * kHidBlockSize);
    CFakePortOpener ports;
    // Writes: boot request (no answer: already in the boot loader), start frame, key word,
    // block 0, block 1.
    ports.line->FailWriteAt(4);
    ports.line->onWrite = [](CFakeLine& line, std::span<const std::uint8_t> report) {
        const std::size_t index = line.Writes().size() - 1;
        if (index == 1) {
            // Accepted, with the CRC word that makes the reply check against the nonce.
            std::array<std::uint32_t, 4> words = {ReadLe32(&report[1 + 32]), 0x00010002u,
                                                  0x13572468u, 0u};
            Bytes reply(20, 0);
            for (std::size_t i = 1; i < words.size(); ++i) {
                WriteLe32(&reply[4 * i], words[i]);
            }
            WriteLe32(&reply[16], CrcWords(words));
            reply[0] = kReplyAccepted;
            line.QueueHidReport(reply);
        } else if (index == 2) {
            line.QueueHidReport({kReplyAccepted});
        } else if (index == 3) {
            line.QueueHidReport({kReplyAccepted});
        } else if (index == 4) {
            line.QueueHidReport({kReplyAccepted}); // block 0's answer repeated, arriving late
        }
    };
    devices_.rows[0] = {"Kavro Kelvorin K4", "SIM0001", "HID0", 0};
    devices_.nDeviceCount = 1;
    window_.selection = 0;
    SUpdateContext context{window_, clock_, ports, devices_, nonces_, image_};

    RunHidUpdate(context);

    ASSERT_EQ(window_.boxes.size(), 1u);
    EXPECT_EQ(window_.boxes[0].text, CommunicationErrorText(1008));
    EXPECT_EQ(ports.line->Writes().size(), 5u) << "nothing is sent after the failed block";
    EXPECT_EQ(ports.line->OpenChannels(), 0);
    EXPECT_NE(std::find(window_.events.begin(), window_.events.end(), "restore"),
              window_.events.end());
}

TEST_F(HidUpdateTest, ChargerAlreadyInItsBootLoader) {
    UseFile(EPackVariant::Aes, 128);
    const auto& charger = AddCharger({}, 0x0A, true);
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(BoxTime(), 2000u + kAnswerGuardMs)
        << "the silent boot request times out; no reconnection follows";
    EXPECT_EQ(charger.Results().Frames(ESimStep::Reconnection), 0);
    EXPECT_EQ(charger.Results().payload, packed_.loadedPayload);
}

TEST_F(HidUpdateTest, ChargerComingBackUnderAnotherPortNameIsNotTheSameCharger) {
    UseFile(EPackVariant::Aes, 128);
    AddMouse();
    const auto& charger =
        AddCharger({{ESimStep::Reconnection, sim::kSimAnyIndex, ESimFaultKind::ReturnElsewhere, 1,
                     sim::kDefaultOtherByte, 5}});
    ASSERT_EQ(devices_.rows[0].strPort, "HID1");
    PressUpdate();
    // Back as HID2 (after the mouse): not the saved identity, so the run cannot use it.
    ExpectEnding("Error opening USB HID", "Error", EMessageIcon::Error);
    EXPECT_EQ(charger.Results().nTransfers, 0);
}

// Found again by serial number only where there is one: chargers without one all look alike.
TEST_F(HidUpdateTest, AChargerWithoutSerialIsNotFoundAgainBySerial) {
    UseFile(EPackVariant::Aes, 128);
    AddMouse();
    bench_.AddHidInterface({});
    sim::SSimHidConfig config;
    config.identity.strSerial = "";
    config.identity.nHidPosition = 1;
    config.faults = {{ESimStep::Reconnection, sim::kSimAnyIndex, ESimFaultKind::ReturnElsewhere, 1,
                      sim::kDefaultOtherByte, 5}};
    const auto& charger = bench_.AddHidCharger(config);
    ListDevices();
    context_.bReconnectBySerial = true;
    PressUpdate();
    ExpectEnding("Error opening USB HID", "Error", EMessageIcon::Error);
    EXPECT_EQ(charger.Results().nTransfers, 0);
}

// Updated beside others (found by serial number), a neighbour before the charger changes since
// the table was filled, and the system's news of it has not come: an interface arriving moves
// the charger one position on, where the neighbour now sits at its old one; the neighbour leaving
// just after the run's first look moves it back and empties the position it was listed at.
// Either way the run opens its own charger where it is now and leaves the neighbour alone.
TEST_F(HidUpdateTest, AChargerUpdatedBesideOthersIsOpenedWhereItIsNow) {
    for (const bool neighbourLeaves : {false, true}) {
        SCOPED_TRACE(neighbourLeaves ? "the neighbour leaves" : "an interface arrives");
        sim::CSimBench bench{cappedClock_};
        CDeviceEnumerator enumerator{bench, bench};
        UseFile(EPackVariant::Aes, 128);
        sim::SSimHidConfig other;
        other.identity.strSerial = "SIM0007";
        other.identity.nHidPosition = 1;
        other.identity.dwUnpluggedAtMs = neighbourLeaves ? clock_.Now() + 1 : 0;
        const auto& neighbour = bench.AddHidCharger(other);
        sim::SSimHidConfig config;
        config.identity.strSerial = "SIM0008";
        config.identity.nHidPosition = 2;
        const auto& charger = bench.AddHidCharger(config);
        RefreshDeviceList(devices_, listView_, enumerator);
        ASSERT_EQ(devices_.rows[1].strPort, "HID1");
        bench.TakeDevicesChanged();
        window_.onDispatch = [] {};
        if (!neighbourLeaves) {
            sim::SSimHidInterface hub;
            hub.nOrder = 1;
            bench.AddHidInterface(hub);
        }
        int looks = 0;
        SRunJob job{window_, cappedClock_, bench, devices_, nonces_, image_, path_, 1, true};
        job.relist = [&] {
            RefreshDeviceList(devices_, listView_, enumerator);
            if (++looks == 1) {
                clock_.Sleep(1);
            }
        };
        EXPECT_TRUE(RunUpdate(job).Ok());
        EXPECT_EQ(charger.Results().payload, packed_.loadedPayload);
        EXPECT_EQ(neighbour.Results().Frames(ESimStep::BootRequest), 0);
    }
}

TEST_F(HidUpdateTest, DeviceChangesDuringARunRefillTheTableNotTheList) {
    UseFile(EPackVariant::Aes, 256);
    AddCharger();
    const std::vector<std::string> linesBefore = listView_.lines;
    // Lines and selection only: a refresh that finds nothing disables Update even mid-run.
    auto listCalls = [this] {
        return std::count_if(listView_.log.begin(), listView_.log.end(),
                             [](const std::string& call) { return !call.starts_with("update"); });
    };
    const auto listCallsBefore = listCalls();
    std::vector<int> counts;
    window_.onDispatch = [this, &counts] {
        if (bench_.TakeDevicesChanged()) {
            RefreshDeviceList(devices_, listView_, enumerator_);
            counts.push_back(devices_.nDeviceCount);
        }
    };
    window_.onMessageBox = [&](const SMessageBoxCall&) {
        EXPECT_EQ(listView_.lines, linesBefore);
        EXPECT_EQ(listCalls(), listCallsBefore) << "the list box is left alone";
    };
    PressUpdate();
    ASSERT_TRUE(Completed());
    EXPECT_EQ(counts, (std::vector<int>{0, 1})) << "away while restarting, then back";
    EXPECT_GT(listCalls(), listCallsBefore) << "after the run the list is refilled";
    EXPECT_EQ(listView_.selected, 0);
}

TEST_F(HidUpdateTest, NoSelectedRowStartsNothing) {
    UseFile(EPackVariant::Aes, 64);
    AddCharger();
    for (const int selection : {-1, 1, 40}) {
        window_.selection = selection;
        OnUpdateClicked(context_, [] {});
        EXPECT_TRUE(window_.boxes.empty());
        EXPECT_TRUE(bench_.Opens().empty());
        EXPECT_TRUE(devices_.bListRefreshEnabled);
        EXPECT_TRUE(window_.listEnabled);
    }
}

} // namespace
