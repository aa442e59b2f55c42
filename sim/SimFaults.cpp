#include "sim/SimFaults.h"

#include <algorithm>
#include <array>

namespace crenovix::sim {

namespace {

using enum ESimStep;
using enum ESimFaultKind;

struct SStepRule {
    ESimStep step;
    bool bHid;
    bool bSerial;
    std::string_view name;
};

// Which transport has which step.
constexpr std::array<SStepRule, 9> kSteps = {{
    {BootRequest, true, true, "boot request"},
    {Reconnection, true, true, "reconnection"},
    {StartFrame, true, false, "start frame"},
    {KeyWord, true, false, "key word"},
    {DataBlock, true, false, "data block"},
    {LengthFrame, false, true, "length frame"},
    {DataFrame, false, true, "data frame"},
    {LastFrame, false, true, "last frame"},
    {Knock, false, true, "knock"},
}};

enum class EWhere {
    FrameSteps,    // every step at which the host sends something and reads an answer
    FrameStepsHid, // the same, on a HID charger only
    StartOnly,     // only the start reply carries a CRC
    ReconnectHid,  // only a HID charger has a position to come back at
    Reconnect,     // the boot loader coming up, either transport
    KnockSerial,   // only a plain port's boot loader has a choice of rate
    PayloadFrames  // the frames that carry the transfer: serial length and data frames, HID
                   // blocks
};

struct SKindRule {
    ESimFaultKind kind;
    EWhere where;
    std::string_view name;
};

constexpr std::array<SKindRule, 15> kKinds = {{
    {Silence, EWhere::FrameSteps, "silence"},
    {OtherByte, EWhere::FrameSteps, "other byte"},
    {Refuse, EWhere::FrameSteps, "refuse"},
    {WrongCrc, EWhere::StartOnly, "wrong CRC"},
    {NeverReturn, EWhere::Reconnect, "never return"},
    {ReturnElsewhere, EWhere::ReconnectHid, "return elsewhere"},
    {KnockOnlyAt128000, EWhere::KnockSerial, "knock only at 128000"},
    {ReadsFail, EWhere::FrameSteps, "reads fail"},
    {WritesFail, EWhere::FrameSteps, "writes fail"},
    {Disappear, EWhere::FrameSteps, "disappear"},
    {DuplicateReply, EWhere::FrameSteps, "duplicate reply"},
    {ExtraReport, EWhere::FrameStepsHid, "extra report"},
    {AnswerBurst, EWhere::FrameSteps, "answer burst"},
    {LateReply, EWhere::FrameSteps, "late reply"},
    {StrayReply, EWhere::PayloadFrames, "stray reply"},
}};

const SStepRule* FindStep(ESimStep step) {
    const auto it = std::find_if(kSteps.begin(), kSteps.end(),
                                 [step](const SStepRule& rule) { return rule.step == step; });
    return it == kSteps.end() ? nullptr : &*it;
}

const SKindRule* FindKind(ESimFaultKind kind) {
    const auto it = std::find_if(kKinds.begin(), kKinds.end(),
                                 [kind](const SKindRule& rule) { return rule.kind == kind; });
    return it == kKinds.end() ? nullptr : &*it;
}

// Steps without a block or frame number (index -1) match whatever index the fault names.
bool Matches(const SFault& fault, ESimStep step, int index) {
    return fault.step == step && (fault.index == kSimAnyIndex || index < 0 || fault.index == index);
}

} // namespace

bool SimFaultApplies(ESimTransport transport, ESimStep step, ESimFaultKind kind) {
    const SStepRule* stepRule = FindStep(step);
    const SKindRule* kindRule = FindKind(kind);
    if (stepRule == nullptr || kindRule == nullptr) {
        return false;
    }
    const bool hid = transport == ESimTransport::Hid;
    if (!(hid ? stepRule->bHid : stepRule->bSerial)) {
        return false;
    }
    switch (kindRule->where) {
    case EWhere::FrameSteps:
        return step != Reconnection;
    case EWhere::FrameStepsHid:
        return hid && step != Reconnection;
    case EWhere::StartOnly:
        return step == StartFrame;
    case EWhere::ReconnectHid:
        return hid && step == Reconnection;
    case EWhere::Reconnect:
        return step == Reconnection;
    case EWhere::KnockSerial:
        return !hid && step == Knock;
    case EWhere::PayloadFrames:
        return step == DataBlock || step == LengthFrame || step == DataFrame || step == LastFrame;
    }
    return false;
}

std::string_view ToString(ESimStep step) {
    const SStepRule* rule = FindStep(step);
    return rule == nullptr ? "?" : rule->name;
}

std::string_view ToString(ESimFaultKind kind) {
    const SKindRule* rule = FindKind(kind);
    return rule == nullptr ? "?" : rule->name;
}

CSimFaultPlan::CSimFaultPlan(std::vector<SFault> faults) {
    entries_.reserve(faults.size());
    for (SFault& fault : faults) {
        const int left = fault.count;
        entries_.push_back({std::move(fault), left});
    }
}

std::optional<SFault> CSimFaultPlan::Take(ESimStep step, int index,
                                          std::initializer_list<ESimFaultKind> kinds, bool whole) {
    for (SEntry& entry : entries_) {
        if (entry.left == 0 || !Matches(entry.fault, step, index) ||
            std::find(kinds.begin(), kinds.end(), entry.fault.kind) == kinds.end()) {
            continue;
        }
        if (whole) {
            entry.left = 0;
        } else if (entry.left > 0) {
            --entry.left;
        }
        return entry.fault;
    }
    return std::nullopt;
}

bool CSimFaultPlan::Has(ESimFaultKind kind) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [kind](const SEntry& entry) { return entry.fault.kind == kind; });
}

} // namespace crenovix::sim
