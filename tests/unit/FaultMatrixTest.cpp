// The fault matrix: every step of both dialogues against every way the charger or its port can
// let the run down, with the fault repeated every time the step comes round, so the run has to
// end on it. Each case checks what every ending owes the user: an end within a bounded time, the
// one message the step's failure gives, the port closed, the controls back, and never a success
// unless the charger stored exactly the file's payload.
//
// The expected endings come from the tables below, written from the dialogues' failure rules,
// never from a run of the product. A run that does not end is cut off by the clock (a hard cap
// on virtual time and on the number of waits) and by the window (a cap on dispatches), so a hang
// fails its case instead of the whole test program.
#include "sim/SimBench.h"
#include "support/RunFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace crenovix;
using namespace crenovix::testsupport;
using sim::ESimFaultKind;
using sim::ESimStep;
using sim::ESimTransport;
using sim::SFault;

namespace {

// The payload every case sends: 200 bytes are 4 HID blocks (0 to 3, the last one short) and 12
// full serial frames (0 to 11) with a last frame of 8 bytes (number 12).
constexpr std::size_t kPayloadSize = 200;
constexpr int kHidBlocks = 4;
constexpr int kSerialFullFrames = 12;

// ---- How long a run may take, from the dialogues' own waits --------------------------------

// HID: the boot request's answer, then at most nine rounds of reconnection, start frame and key
// word (four refusals of each, the fifth of either ends the run), then every block's answer.
constexpr std::uint64_t kHidBootReplyMs = 2000;
constexpr std::uint64_t kHidReconnectMs = 1000 + 50 * 200;
constexpr std::uint64_t kHidStartReplyMs = 5000;
constexpr std::uint64_t kHidKeyReplyMs = 5000;
constexpr std::uint64_t kHidBlockReplyMs = 2000;
constexpr std::uint64_t kHidRounds = 9;
constexpr std::uint64_t kHidBoundMs =
    kHidBootReplyMs + kHidRounds * (kHidReconnectMs + kHidStartReplyMs + kHidKeyReplyMs) +
    kHidBlocks * kHidBlockReplyMs;

// Serial, per try: the boot request (ten pauses of 50 ms, 2000 ms for its answer, at most 2000 ms
// after another byte), the knock and the short knock with their answers, 50 ms, then every frame
// (length, full frames, last frame) sent at most four times with 1000 ms for each answer, 5 ms
// before each resend and 10 ms after a failure; then 500 ms before the next try. Seven tries.
constexpr std::uint64_t kSerialBootRequestMs = 10 * 50 + 2000 + 2000;
constexpr std::uint64_t kSerialKnocksMs = (30 + 30 + 20 + 20 + 1000) + (20 + 20 + 1000);
constexpr std::uint64_t kSerialFrameMs = 4 * 1000 + 3 * 5 + 10;
constexpr std::uint64_t kSerialFrames = 1 + kSerialFullFrames + 1;
constexpr std::uint64_t kSerialTryMs =
    kSerialBootRequestMs + kSerialKnocksMs + 50 + kSerialFrames * kSerialFrameMs + 500;
constexpr std::uint64_t kSerialBoundMs = 7 * kSerialTryMs;

// Past these a run is taken to hang and is cut off.
constexpr std::uint64_t kHardCapFactor = 4;
constexpr int kMaxDispatches = 100'000;

// ---- The cases ----------------------------------------------------------------------------

enum class EDialogue { Hid, Serial };

// A step and, for blocks and frames, which one.
struct SPlace {
    ESimStep step;
    int index;
    const char* which; // "First", "Middle", "Last" or ""
};

const std::vector<SPlace> kHidPlaces = {
    {ESimStep::BootRequest, sim::kSimAnyIndex, ""},
    {ESimStep::Reconnection, sim::kSimAnyIndex, ""},
    {ESimStep::StartFrame, sim::kSimAnyIndex, ""},
    {ESimStep::KeyWord, sim::kSimAnyIndex, ""},
    {ESimStep::DataBlock, 0, "First"},
    {ESimStep::DataBlock, kHidBlocks / 2, "Middle"},
    {ESimStep::DataBlock, kHidBlocks - 1, "Last"},
};

const std::vector<SPlace> kSerialPlaces = {
    {ESimStep::BootRequest, sim::kSimAnyIndex, ""},
    {ESimStep::Reconnection, sim::kSimAnyIndex, ""},
    {ESimStep::Knock, sim::kSimAnyIndex, ""},
    {ESimStep::LengthFrame, sim::kSimAnyIndex, ""},
    {ESimStep::DataFrame, 0, "First"},
    {ESimStep::DataFrame, kSerialFullFrames / 2, "Middle"},
    {ESimStep::DataFrame, kSerialFullFrames - 1, "Last"},
    {ESimStep::LastFrame, kSerialFullFrames, ""},
};

// Every kind that persists, and with it every way an answer can reach the host besides once and
// in time. KnockOnlyAt128000 is left out: it is the plain port's fall-back, which succeeds
// (SerialUpdateTest covers it).
const std::vector<ESimFaultKind> kKinds = {
    ESimFaultKind::Silence,        ESimFaultKind::OtherByte,   ESimFaultKind::Refuse,
    ESimFaultKind::ReadsFail,      ESimFaultKind::WritesFail,  ESimFaultKind::Disappear,
    ESimFaultKind::WrongCrc,       ESimFaultKind::NeverReturn, ESimFaultKind::ReturnElsewhere,
    ESimFaultKind::DuplicateReply, ESimFaultKind::ExtraReport, ESimFaultKind::AnswerBurst,
    ESimFaultKind::LateReply,      ESimFaultKind::StrayReply,
};

// Kinds after which the charger has taken the frame: only the way its answer arrives is wrong.
bool ChargerTakesTheFrame(ESimFaultKind kind) {
    return kind == ESimFaultKind::ReadsFail || kind == ESimFaultKind::DuplicateReply ||
           kind == ESimFaultKind::ExtraReport || kind == ESimFaultKind::AnswerBurst ||
           kind == ESimFaultKind::LateReply;
}

struct SEnding {
    std::string text;
    std::string title;
    EMessageIcon icon = EMessageIcon::Error;
    bool restoreFirst = false; // the inconformity ending restores the controls before its box
};

SEnding Error(std::string text) {
    return {std::move(text), "Error", EMessageIcon::Error, false};
}
SEnding HidCode(int code) {
    return Error(std::to_string(code) + ": Error communication.\n");
}
const SEnding kInconformity{"The update file is in inconformity with the device.", "Error",
                            EMessageIcon::Error, true};
const SEnding kDeviceNotFound{"Device not found.", "Info", EMessageIcon::None, false};
const SEnding kCompletion{"Upgrade completion!", "Success", EMessageIcon::None, false};

// How the dialogue sees a fault: a step's answer missing, another byte, a "5", or the device
// gone from the system. A failing read is no answer; a failing write never reaches the charger,
// so it too ends in no answer; so does an answer that comes after the time-out. An answer
// followed at once by more input is a wrong answer, like another byte.
enum class ESeen { NoAnswer, OtherByte, Refusal, Gone, Special };

ESeen Seen(ESimFaultKind kind) {
    switch (kind) {
    case ESimFaultKind::Silence:
    case ESimFaultKind::ReadsFail:
    case ESimFaultKind::WritesFail:
    case ESimFaultKind::LateReply:
        return ESeen::NoAnswer;
    case ESimFaultKind::OtherByte:
    case ESimFaultKind::DuplicateReply:
    case ESimFaultKind::ExtraReport:
    case ESimFaultKind::AnswerBurst:
    case ESimFaultKind::StrayReply: // a byte nobody asked for, then a refusal: never an answer
        return ESeen::OtherByte;
    case ESimFaultKind::Refuse:
        return ESeen::Refusal;
    case ESimFaultKind::Disappear:
        return ESeen::Gone;
    default:
        return ESeen::Special;
    }
}

// HID: one failure ends the run, so the step's own rule decides. A boot request without a usable
// answer means "already in the boot loader", so its failure shows at the start frame, which the
// application firmware (or nobody) does not answer; an accepted boot request answered late or
// with more input leaves the charger restarting, so the start frame cannot be written. Refusals
// of the start frame and of the key word are counted apart and the fifth of either ends the run
// with 1002. A burst of "&" after the start reply is a wrong answer, a refusal, and the charger,
// hung since, leaves the next start frame unanswered.
struct SHidRow {
    ESimStep step;
    SEnding noAnswer;
    SEnding otherByte;
    SEnding refusal;
};
const std::vector<SHidRow> kHidTable = {
    {ESimStep::BootRequest, HidCode(1001), HidCode(1001), kInconformity},
    {ESimStep::StartFrame, HidCode(1001), HidCode(1002), HidCode(1002)},
    {ESimStep::KeyWord, HidCode(1006), HidCode(1007), HidCode(1002)},
    {ESimStep::DataBlock, HidCode(1008), HidCode(1009), HidCode(1009)},
};

SEnding ExpectedHid(ESimStep step, ESimFaultKind kind) {
    switch (kind) {
    case ESimFaultKind::WrongCrc:
        return HidCode(1003);
    case ESimFaultKind::NeverReturn:
    case ESimFaultKind::ReturnElsewhere:
        return Error("Error opening USB HID");
    case ESimFaultKind::AnswerBurst:
        if (step == ESimStep::StartFrame) {
            return HidCode(1001);
        }
        break;
    default:
        break;
    }
    const auto row = std::find_if(kHidTable.begin(), kHidTable.end(),
                                  [step](const SHidRow& r) { return r.step == step; });
    switch (Seen(kind)) {
    case ESeen::OtherByte:
        return row->otherByte;
    case ESeen::Refusal:
        return row->refusal;
    default:
        return row->noAnswer; // a device gone from the system answers nothing either
    }
}

// Serial: the seventh failure in a row ends the run with the message of that failure. An answer
// fault meets every try at its step. A port fault persists from its step on, so every later try
// fails at its first read that matters, the knock's answer: "Device not found.". A device that
// disappears takes its port along, so the next open fails. A boot request without an answer
// leaves the charger in its application firmware, which never answers the knock. A boot request
// the charger accepted, but whose answer came late or with more input, has the charger in its
// boot loader by the knock: the run completes. A charger that hung after a burst of "&" answers
// no later try.
struct SSerialRow {
    ESimStep step;
    SEnding noAnswer;
    SEnding otherByte;
    SEnding refusal;
};
const std::vector<SSerialRow> kSerialTable = {
    {ESimStep::BootRequest, kDeviceNotFound, kDeviceNotFound, kInconformity},
    {ESimStep::Knock, kDeviceNotFound, Error("Error communication.\n0"),
     Error("Error communication.\n0")},
    {ESimStep::LengthFrame, Error("Error communication.\n1"), Error("Error communication.\n1"),
     Error("Error communication.\n1")},
    {ESimStep::DataFrame, Error("Error communication.\n2"), Error("Error communication.\n2"),
     Error("Error communication.\n2")},
    {ESimStep::LastFrame, Error("Error communication.\n3"), Error("Error communication.\n3"),
     Error("Error communication.\n3")},
};

SEnding ExpectedSerial(ESimStep step, ESimFaultKind kind) {
    switch (kind) {
    case ESimFaultKind::NeverReturn: // the boot loader never comes up: the knock stays unanswered
    case ESimFaultKind::ReadsFail:
    case ESimFaultKind::WritesFail:
        return kDeviceNotFound;
    case ESimFaultKind::Disappear:
        return Error("Error opening COM port");
    case ESimFaultKind::AnswerBurst:
        return kDeviceNotFound;
    case ESimFaultKind::DuplicateReply:
    case ESimFaultKind::LateReply:
        if (step == ESimStep::BootRequest) {
            return kCompletion;
        }
        break;
    default:
        break;
    }
    const auto row = std::find_if(kSerialTable.begin(), kSerialTable.end(),
                                  [step](const SSerialRow& r) { return r.step == step; });
    switch (Seen(kind)) {
    case ESeen::OtherByte:
        return row->otherByte;
    case ESeen::Refusal:
        return row->refusal;
    default:
        return row->noAnswer;
    }
}

struct SMatrixCase {
    EDialogue dialogue;
    SPlace place;
    ESimFaultKind kind;
};

// "other byte" -> "OtherByte".
std::string Camel(std::string_view words) {
    std::string name;
    bool upper = true;
    for (const char c : words) {
        if (c == ' ') {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upper = false;
    }
    return name;
}

std::string CaseName(const SMatrixCase& c) {
    return std::string(c.dialogue == EDialogue::Hid ? "Hid_" : "Serial_") +
           Camel(sim::ToString(c.place.step)) + c.place.which + "_" + Camel(sim::ToString(c.kind));
}

void PrintTo(const SMatrixCase& c, std::ostream* out) {
    *out << CaseName(c);
}

std::vector<SMatrixCase> AllCases() {
    std::vector<SMatrixCase> cases;
    for (const EDialogue dialogue : {EDialogue::Hid, EDialogue::Serial}) {
        const ESimTransport transport =
            dialogue == EDialogue::Hid ? ESimTransport::Hid : ESimTransport::Serial;
        for (const SPlace& place : dialogue == EDialogue::Hid ? kHidPlaces : kSerialPlaces) {
            for (const ESimFaultKind kind : kKinds) {
                if (sim::SimFaultApplies(transport, place.step, kind)) {
                    cases.push_back({dialogue, place, kind});
                }
            }
        }
    }
    return cases;
}

// ---- The bench ----------------------------------------------------------------------------

// A simulated desk on the capped clock, with the device table the window would show, an update
// file of kPayloadSize bytes, and a window whose dispatching refills the table as device-change
// notifications do.
class FaultRunTest : public CRunFixture {
protected:
    FaultRunTest() {
        window_.onDispatch = [this] {
            if (window_.dispatches > kMaxDispatches) {
                throw SRunCutOff{"the run dispatched " + std::to_string(window_.dispatches) +
                                 " times"};
            }
            if (bench_.TakeDevicesChanged()) {
                RefreshDeviceList(devices_, listView_, enumerator_);
            }
        };
        window_.onMessageBox = [this](const SMessageBoxCall&) {
            portsOpenAtBox_.push_back(bench_.OpenChannels());
        };
        packed_ = Pack(EPackVariant::TripleDes, {}, PatternPayload(kPayloadSize, 29));
        window_.path = dir_.File("update.bin");
        WriteBytes(window_.path, packed_.bytes);
    }

    // A keyboard at HID position 0, the charger at 1 and a mouse after it, so a charger that comes
    // back at order 5 is listed under another port name (HID2).
    sim::CSimHidCharger& AddHidCharger(std::vector<SFault> faults, bool startInBootLoader = false,
                                       std::optional<std::uint8_t> inLoaderOther = {}) {
        bench_.AddHidInterface({});
        sim::SSimHidInterface mouse;
        mouse.strProduct = "USB Mouse";
        mouse.nOrder = 3;
        bench_.AddHidInterface(mouse);
        sim::SSimHidConfig config;
        config.identity.nHidPosition = 1;
        config.faults = std::move(faults);
        config.bStartInBootLoader = startInBootLoader;
        if (inLoaderOther) {
            config.inLoaderReply = sim::ESimInLoaderReply::OtherByte;
            config.byInLoaderOther = *inLoaderOther;
        }
        sim::CSimHidCharger& charger = bench_.AddHidCharger(config);
        ListDevices();
        cappedClock_.SetCap(kHardCapFactor * kHidBoundMs);
        return charger;
    }

    // A USB serial charger, recognised by its bus description.
    sim::CSimSerialCharger& AddSerialCharger(std::vector<SFault> faults) {
        sim::SSimSerialConfig config;
        config.identity.strType = "Kavro Kelvorin K4";
        config.faults = std::move(faults);
        sim::CSimSerialCharger& charger = bench_.AddSerialCharger(config);
        ListDevices();
        cappedClock_.SetCap(kHardCapFactor * kSerialBoundMs);
        return charger;
    }

    // Presses Update on the first row; false (with a failure recorded) when the run had to be
    // cut off.
    bool PressUpdate() {
        window_.selection = 0;
        try {
            OnUpdateClicked(context_,
                            [this] { RefreshDeviceList(devices_, listView_, enumerator_); });
        } catch (const SRunCutOff& cutOff) {
            ADD_FAILURE() << "the run did not end: " << cutOff.why;
            return false;
        }
        return true;
    }

    void ExpectEnding(const SEnding& expected) {
        ASSERT_EQ(window_.boxes.size(), 1u) << "exactly one message box ends the run";
        EXPECT_EQ(window_.boxes[0].text, expected.text);
        EXPECT_EQ(window_.boxes[0].title, expected.title);
        EXPECT_EQ(window_.boxes[0].icon, expected.icon);
        std::vector<std::string> endingEvents;
        for (const std::string& event : window_.events) {
            if (event == "box" || event == "restore") {
                endingEvents.push_back(event);
            }
        }
        EXPECT_EQ(endingEvents, expected.restoreFirst
                                    ? (std::vector<std::string>{"restore", "box"})
                                    : (std::vector<std::string>{"box", "restore"}));
    }

    void ExpectPortClosedAndControlsRestored() {
        EXPECT_EQ(bench_.OpenChannels(), 0) << "the port is closed at every ending";
        if (!window_.boxes.empty() && window_.boxes[0].title != "Success") {
            EXPECT_EQ(portsOpenAtBox_, std::vector<int>{0})
                << "a failure closes the port before its message comes up";
        }
        EXPECT_FALSE(window_.statusShown);
        EXPECT_FALSE(window_.progressShown);
        EXPECT_TRUE(window_.updateEnabled);
        EXPECT_TRUE(window_.listEnabled);
        EXPECT_TRUE(devices_.bListRefreshEnabled);
    }

    void ExpectNoSuccessShown() {
        for (const SMessageBoxCall& box : window_.boxes) {
            EXPECT_EQ(box.text.find("Upgrade completion!"), std::string::npos) << box.text;
            EXPECT_NE(box.title, "Success");
        }
    }

    // What the charger stored is the judge: a success with any other payload is a false one.
    void ExpectSuccessOnlyWithThePayloadStored(const sim::CSimChargerBase& charger) {
        for (const SMessageBoxCall& box : window_.boxes) {
            if (box.title == "Success") {
                EXPECT_TRUE(charger.Results().bComplete) << "success, the payload incomplete";
                EXPECT_EQ(charger.Results().payload, packed_.loadedPayload)
                    << "success, another payload stored";
            }
        }
    }

    std::vector<int> portsOpenAtBox_; // channels open when each message box came up
};

// ---- Persistent faults: the run must end on them ------------------------------------------

class FaultMatrixTest : public FaultRunTest, public ::testing::WithParamInterface<SMatrixCase> {};

TEST_P(FaultMatrixTest, EndsBoundedWithItsMessagePortClosedControlsBack) {
    const SMatrixCase& c = GetParam();
    SFault fault{c.place.step,       c.place.index,          c.kind,
                 sim::kSimEveryTime, sim::kDefaultOtherByte, 5};
    if (c.kind == ESimFaultKind::StrayReply) {
        fault.dwDelayMs = 3; // the refusal within the guard after the last answer
    }
    const bool hid = c.dialogue == EDialogue::Hid;
    const sim::CSimChargerBase& charger =
        hid ? static_cast<sim::CSimChargerBase&>(AddHidCharger({fault}))
            : AddSerialCharger({fault});
    ASSERT_EQ(devices_.nDeviceCount, 1);

    ASSERT_TRUE(PressUpdate());

    EXPECT_LT(clock_.Now(), hid ? kHidBoundMs : kSerialBoundMs);
    const SEnding expected =
        hid ? ExpectedHid(c.place.step, c.kind) : ExpectedSerial(c.place.step, c.kind);
    ExpectEnding(expected);
    ExpectPortClosedAndControlsRestored();
    ExpectSuccessOnlyWithThePayloadStored(charger);
    if (expected.title == kCompletion.title) {
        return;
    }
    ExpectNoSuccessShown();
    if (!ChargerTakesTheFrame(c.kind)) { // only the answer to a frame the charger took is lost
        EXPECT_EQ(charger.Results().nCompleted, 0) << "the fault keeps the payload from completing";
    }
    // A stray's late refusal may show only behind later HID blocks, which cost no time here.
    const bool showsLater = hid && c.kind == ESimFaultKind::StrayReply;
    if ((c.place.step == ESimStep::DataBlock || c.place.step == ESimStep::DataFrame) &&
        !showsLater) {
        EXPECT_EQ(window_.progressPos, c.place.index) << "the faulty block was the last one begun";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStepAndKind, FaultMatrixTest, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) { return CaseName(info.param); });

// ---- Faults the dialogues recover from ----------------------------------------------------

// The serial dialogue starts over after a failure, six times: a fault that lets a step down six
// times in a row is still overcome on the seventh try, and the payload arrives whole. A port
// fault that lasts one operation costs at most one try.
struct SRecoveryCase {
    SPlace place;
    ESimFaultKind kind;
    int count;
};

std::string RecoveryName(const SRecoveryCase& c) {
    return Camel(sim::ToString(c.place.step)) + c.place.which + "_" + Camel(sim::ToString(c.kind)) +
           "_" + std::to_string(c.count) + "Times";
}

void PrintTo(const SRecoveryCase& c, std::ostream* out) {
    *out << RecoveryName(c);
}

std::vector<SRecoveryCase> SerialRecoveryCases() {
    std::vector<SRecoveryCase> cases;
    for (const SPlace& place : kSerialPlaces) {
        if (place.step == ESimStep::Reconnection) {
            continue;
        }
        for (const ESimFaultKind kind : {ESimFaultKind::Silence, ESimFaultKind::OtherByte}) {
            cases.push_back({place, kind, 6});
        }
        for (const ESimFaultKind kind : {ESimFaultKind::ReadsFail, ESimFaultKind::WritesFail}) {
            cases.push_back({place, kind, 1});
        }
    }
    return cases;
}

class SerialRecoveryTest : public FaultRunTest,
                           public ::testing::WithParamInterface<SRecoveryCase> {};

TEST_P(SerialRecoveryTest, CompletesWithThePayloadWhole) {
    const SRecoveryCase& c = GetParam();
    const auto& charger =
        AddSerialCharger({{c.place.step, c.place.index, c.kind, c.count, sim::kDefaultOtherByte}});

    ASSERT_TRUE(PressUpdate());

    ASSERT_EQ(window_.boxes.size(), 1u);
    EXPECT_EQ(window_.boxes[0].text, "Upgrade completion!");
    EXPECT_EQ(window_.boxes[0].title, "Success");
    EXPECT_EQ(charger.Results().payload, packed_.loadedPayload);
    EXPECT_TRUE(charger.Results().bComplete);
    if (c.count == 6) {
        EXPECT_EQ(Retries(), 6) << "one try per failure, the seventh succeeds";
    } else {
        EXPECT_LE(Retries(), 1);
    }
    ExpectPortClosedAndControlsRestored();
    EXPECT_LT(clock_.Now(), kSerialBoundMs);
}

INSTANTIATE_TEST_SUITE_P(SixFailuresOrOneFailingOperation, SerialRecoveryTest,
                         ::testing::ValuesIn(SerialRecoveryCases()),
                         [](const auto& info) { return RecoveryName(info.param); });

// HID: anything but "&" to the start frame counts as a refusal (a start reply followed by another
// report too), and a key word's "5" goes back to the start frame; the two are counted apart, so
// up to four of each still lead to the transfer. A boot loader that answers the boot request with
// another byte is taken to be ready at once.
struct SHidRecoveryCase {
    const char* name;
    std::vector<SFault> faults;
    std::optional<std::uint8_t> inLoaderOther;
    int startFrames;
};

void PrintTo(const SHidRecoveryCase& c, std::ostream* out) {
    *out << c.name;
}

class HidRecoveryTest : public FaultRunTest,
                        public ::testing::WithParamInterface<SHidRecoveryCase> {};

TEST_P(HidRecoveryTest, CompletesWithThePayloadWhole) {
    const SHidRecoveryCase& c = GetParam();
    const auto& charger = AddHidCharger(c.faults, c.inLoaderOther.has_value(), c.inLoaderOther);

    ASSERT_TRUE(PressUpdate());

    ASSERT_EQ(window_.boxes.size(), 1u);
    EXPECT_TRUE(window_.boxes[0].text.starts_with("Upgrade completion!")) << window_.boxes[0].text;
    EXPECT_EQ(charger.Results().payload, packed_.loadedPayload);
    EXPECT_EQ(charger.Results().Frames(ESimStep::StartFrame), c.startFrames);
    ExpectPortClosedAndControlsRestored();
    EXPECT_LT(clock_.Now(), kHidBoundMs);
}

INSTANTIATE_TEST_SUITE_P(
    RefusalsBelowTheBound, HidRecoveryTest,
    ::testing::Values(
        SHidRecoveryCase{"StartAnsweredWithOtherBytesFourTimes",
                         {{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::OtherByte, 4}},
                         std::nullopt,
                         5},
        SHidRecoveryCase{"KeyWordRefusedFourTimes",
                         {{ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::Refuse, 4}},
                         std::nullopt,
                         5},
        SHidRecoveryCase{"StartRefusedTwiceThenKeyRefusedTwice",
                         {{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::Refuse, 2},
                          {ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::Refuse, 2}},
                         std::nullopt,
                         5},
        SHidRecoveryCase{"StartRefusedFourTimesThenKeyRefusedOnce",
                         {{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::Refuse, 4},
                          {ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::Refuse, 1}},
                         std::nullopt,
                         6},
        SHidRecoveryCase{"StartAndKeyRefusedFourTimesEach",
                         {{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::Refuse, 4},
                          {ESimStep::KeyWord, sim::kSimAnyIndex, ESimFaultKind::Refuse, 4}},
                         std::nullopt,
                         9},
        SHidRecoveryCase{"StartReplyFollowedByAnExtraReportOnce",
                         {{ESimStep::StartFrame, sim::kSimAnyIndex, ESimFaultKind::ExtraReport, 1}},
                         std::nullopt,
                         2},
        SHidRecoveryCase{"BootLoaderAnswersTheBootRequestWithAnotherByte", {}, 0x41, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A stray "&" while a frame is on its way, with the frame's real answer, a "5", D ms behind it.
// Taking the stray as the answer once had the next frame stored in the refused frame's place and
// the run end in "Upgrade completion!". The stray fails the try: the serial dialogue starts over
// and sends the whole payload again; a HID run, which has no second try for a block, ends with
// 1009. Never a success over another payload.
struct SStrayCase {
    EDialogue dialogue;
    SPlace place;
    std::uint32_t delayMs;
};

std::vector<SStrayCase> StrayCases() {
    std::vector<SStrayCase> cases;
    const std::vector<SPlace> hid = {{ESimStep::DataBlock, 0, "First"},
                                     {ESimStep::DataBlock, kHidBlocks / 2, "Middle"},
                                     {ESimStep::DataBlock, kHidBlocks - 1, "Last"}};
    const std::vector<SPlace> serial = {{ESimStep::LengthFrame, sim::kSimAnyIndex, ""},
                                        {ESimStep::DataFrame, 0, "First"},
                                        {ESimStep::DataFrame, kSerialFullFrames / 2, "Middle"},
                                        {ESimStep::LastFrame, kSerialFullFrames, ""}};
    for (const std::uint32_t delayMs : {0u, 3u, 20u}) {
        for (const SPlace& place : hid) {
            cases.push_back({EDialogue::Hid, place, delayMs});
        }
        for (const SPlace& place : serial) {
            cases.push_back({EDialogue::Serial, place, delayMs});
        }
    }
    return cases;
}

std::string StrayName(const SStrayCase& c) {
    return std::string(c.dialogue == EDialogue::Hid ? "Hid_" : "Serial_") +
           Camel(sim::ToString(c.place.step)) + c.place.which + "_RefusalAfter" +
           std::to_string(c.delayMs) + "ms";
}

void PrintTo(const SStrayCase& c, std::ostream* out) {
    *out << StrayName(c);
}

class StrayReplyTest : public FaultRunTest, public ::testing::WithParamInterface<SStrayCase> {};

TEST_P(StrayReplyTest, FailsTheTryNeverASuccessOverAnotherPayload) {
    const SStrayCase& c = GetParam();
    SFault fault{c.place.step, c.place.index, ESimFaultKind::StrayReply, 1};
    fault.dwDelayMs = c.delayMs;
    const bool hid = c.dialogue == EDialogue::Hid;
    const sim::CSimChargerBase& charger =
        hid ? static_cast<sim::CSimChargerBase&>(AddHidCharger({fault}))
            : AddSerialCharger({fault});

    ASSERT_TRUE(PressUpdate());

    ExpectSuccessOnlyWithThePayloadStored(charger);
    ExpectPortClosedAndControlsRestored();
    if (hid) {
        ExpectEnding(HidCode(1009));
        EXPECT_EQ(charger.Results().nCompleted, 0);
        return;
    }
    ExpectEnding(kCompletion);
    EXPECT_EQ(Retries(), 1) << "the stray fails one try; the next sends the whole payload";
    EXPECT_EQ(charger.Results().nTransfers, c.place.step == ESimStep::LengthFrame ? 1 : 2)
        << "a refused length frame opens no transfer";
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleLastAndDelays, StrayReplyTest,
                         ::testing::ValuesIn(StrayCases()),
                         [](const auto& info) { return StrayName(info.param); });

// A repeated answer must not shift the answers of later frames: "&&" to frame 2 and a "5" to
// frame 5 once had the "5" read one frame late, frame 6 resent into frame 5's place and the run
// shown as a success over a corrupted payload. Now the "&&" fails its try as a wrong answer, the
// next try meets the "5" in its place and resends frame 5, and the charger stores the file's
// payload.
TEST_F(FaultRunTest, ARepeatedSerialAnswerDoesNotShiftLaterAnswers) {
    const auto& charger =
        AddSerialCharger({{ESimStep::DataFrame, 2, ESimFaultKind::DuplicateReply, 1},
                          {ESimStep::DataFrame, 5, ESimFaultKind::Refuse, 1}});

    ASSERT_TRUE(PressUpdate());

    ExpectEnding(kCompletion);
    ExpectSuccessOnlyWithThePayloadStored(charger);
    EXPECT_EQ(Retries(), 1);
    EXPECT_EQ(charger.Results().Replies(ESimStep::DataFrame, sim::kReplyRefused), 1);
    ExpectPortClosedAndControlsRestored();
}

} // namespace
