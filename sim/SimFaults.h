// Fault injection for the simulated chargers: which step of the dialogue misbehaves, how, and
// how often.
//
// A charger takes a list of SFault records. When a frame of a step arrives and passes the
// charger's own checks, the first fault in list order planned for that step (and block or frame
// number) with firings left replaces the normal answer. Delivery faults (DuplicateReply,
// ExtraReport, AnswerBurst, LateReply) leave the charger's work and answer as they are and change
// only how the answer reaches the host; StrayReply adds a byte nobody asked for ahead of a
// refusal. Port faults (ReadsFail, WritesFail) break
// the channel instead, for `count` operations from that step on. SimFaultApplies says which
// combinations mean something, so a test matrix can iterate over all steps and kinds and keep
// the meaningful ones; combinations it rejects never fire.
#pragma once

#include "sim/SimWire.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

namespace crenovix::sim {

enum class ESimStep {
    BootRequest,  // the application firmware's boot request (HID and serial)
    Reconnection, // the boot loader coming up after an accepted boot request
    StartFrame,   // HID start frame
    KeyWord,      // HID key word
    DataBlock,    // HID 64-byte block k
    LengthFrame,  // serial length frame
    DataFrame,    // serial 16-byte frame k
    LastFrame,    // serial short last frame (its number is the count of full frames)
    Knock         // serial knock or short knock
};

enum class ESimFaultKind {
    Silence,           // no answer at all
    OtherByte,         // SFault::byOther instead of "&"
    Refuse,            // "5"; at the boot request it means "the file is not for this model"
    WrongCrc,          // start reply whose CRC word does not check (StartFrame only)
    NeverReturn,       // the boot loader never comes up (Reconnection only)
    ReturnElsewhere,   // HID: comes back at SFault::nPosition (Reconnection only)
    KnockOnlyAt128000, // serial: the boot loader listens at 128000 even on a plain port (Knock)
    ReadsFail,         // from this step on, `count` reads of the port fail at once
    WritesFail,        // from this step on, `count` writes to the port fail
    Disappear,         // the device leaves for good when the frame arrives, unanswered
    DuplicateReply,    // the answer goes out twice at once (serial "&&", HID the report twice):
                       // firmware that repeats itself, or noise that doubles a byte
    ExtraReport,       // HID: one more report, "&", follows the answer at once: firmware that
                       // reports a state change besides answering
    AnswerBurst,       // the answer, then SFault::nBurst more "&" at once, then nothing ever
                       // again: a charger that hangs with answers still queued on the line
    LateReply,         // the answer reaches the host SFault::dwDelayMs after the frame: a charger
                       // busy past the host's time-out (writing flash, say)
    StrayReply         // a stray "&" reaches the host while the frame is still on its way (after
                       // its first serial byte; a HID report just before the block), and the
                       // charger refuses the frame: its "5" follows SFault::dwDelayMs after the
                       // frame. Line noise ahead of a real refusal; payload frames only
};

enum class ESimTransport { Hid, Serial };

inline constexpr int kSimAnyIndex = -1;  // SFault::index: every block or frame
inline constexpr int kSimEveryTime = -1; // SFault::count: no limit

struct SFault {
    ESimStep step = ESimStep::BootRequest;
    int index = kSimAnyIndex; // block or frame number (DataBlock, DataFrame, LastFrame)
    ESimFaultKind kind = ESimFaultKind::Silence;
    // Answers replaced, or for port faults operations that fail; kSimEveryTime for no limit.
    int count = 1;
    std::uint8_t byOther = kDefaultOtherByte; // OtherByte: the byte sent instead of "&"
    int nPosition = 0; // ReturnElsewhere: the HID order the charger comes back at
    int nBurst = 300;  // AnswerBurst: the "&" (bytes or reports) queued after the answer
    // LateReply: past every time-out either dialogue gives an answer (5000 ms at most);
    // StrayReply: when the refusal behind the stray comes.
    std::uint32_t dwDelayMs = 6000;
};

// Whether `kind` at `step` means something for a charger on `transport`.
bool SimFaultApplies(ESimTransport transport, ESimStep step, ESimFaultKind kind);

std::string_view ToString(ESimStep step);
std::string_view ToString(ESimFaultKind kind);

// The faults of one charger with the firings each has left.
class CSimFaultPlan {
public:
    CSimFaultPlan() = default;
    explicit CSimFaultPlan(std::vector<SFault> faults);

    // The first fault of one of `kinds` planned for `step` and `index` with firings left; one
    // firing is used up (`whole`: all of them, for faults that act once and then persist).
    std::optional<SFault> Take(ESimStep step, int index, std::initializer_list<ESimFaultKind> kinds,
                               bool whole = false);

    // Whether the plan holds a fault of `kind` at all (faults that shape the charger's set-up).
    bool Has(ESimFaultKind kind) const;

private:
    struct SEntry {
        SFault fault;
        int left = 0; // kSimEveryTime: unlimited
    };
    std::vector<SEntry> entries_;
};

} // namespace crenovix::sim
