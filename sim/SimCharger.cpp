#include "sim/SimCharger.h"

#include "sim/SimWire.h"

#include <algorithm>
#include <utility>

namespace crenovix::sim {

std::uint64_t PayloadDigest(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
    return hash;
}

namespace {

// Uses up one operation of an armed port failure; kSimEveryTime never runs out.
bool UseFailure(int& left) {
    if (left == 0) {
        return false;
    }
    if (left > 0) {
        --left;
    }
    return true;
}

} // namespace

int SSimResults::Frames(ESimStep step) const {
    return static_cast<int>(std::count_if(events.begin(), events.end(),
                                          [step](const SSimEvent& e) { return e.step == step; }));
}

int SSimResults::Replies(ESimStep step, std::uint8_t code) const {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const SSimEvent& e) {
        return e.step == step && e.reply == code;
    }));
}

std::vector<std::uint32_t> SSimResults::BaudsAt(ESimStep step) const {
    std::vector<std::uint32_t> bauds;
    for (const SSimEvent& event : events) {
        if (event.step == step) {
            bauds.push_back(event.baud);
        }
    }
    return bauds;
}

CSimChargerBase::CSimChargerBase(IClock& clock, SSimIdentity identity, std::vector<SFault> faults)
    : clock_(clock), identity_(std::move(identity)), plan_(std::move(faults)) {}

bool CSimChargerBase::TakeWriteFailure() {
    if (UseFailure(writeFailuresLeft_)) {
        return true;
    }
    int index = -1;
    const ESimStep step = ExpectedStep(index);
    if (const auto fault = plan_.Take(step, index, {ESimFaultKind::WritesFail}, true)) {
        writeFailuresLeft_ = fault->count;
        return UseFailure(writeFailuresLeft_);
    }
    return false;
}

bool CSimChargerBase::TakeReadFailure() {
    return UseFailure(readFailuresLeft_);
}

std::optional<SFault> CSimChargerBase::TakeAnswerFault(ESimStep step, int index,
                                                       bool allowWrongCrc) {
    if (const auto fault = plan_.Take(step, index, {ESimFaultKind::ReadsFail}, true)) {
        readFailuresLeft_ = fault->count;
    }
    std::optional<SFault> fault;
    if (allowWrongCrc) {
        fault = plan_.Take(step, index,
                           {ESimFaultKind::Silence, ESimFaultKind::OtherByte, ESimFaultKind::Refuse,
                            ESimFaultKind::Disappear, ESimFaultKind::WrongCrc});
    } else {
        fault = plan_.Take(step, index,
                           {ESimFaultKind::Silence, ESimFaultKind::OtherByte, ESimFaultKind::Refuse,
                            ESimFaultKind::Disappear});
    }
    if (fault && fault->kind == ESimFaultKind::Disappear) {
        bGone_ = true;
    }
    return fault;
}

std::optional<std::uint8_t> CSimChargerBase::Log(ESimStep step, int index, std::uint32_t baud,
                                                 bool bValid, std::optional<std::uint8_t> reply,
                                                 std::optional<ESimFaultKind> fault) {
    results_.events.push_back({step, index, baud, Now(), bValid, reply, fault});
    return reply;
}

std::vector<SSimDelivery> CSimChargerBase::TakeDeliveries() {
    return std::exchange(deliveries_, {});
}

bool CSimChargerBase::Deliver(const std::vector<std::uint8_t>& answer,
                              const std::vector<std::uint8_t>& accepted) {
    if (results_.events.empty()) {
        return true;
    }
    SSimEvent& event = results_.events.back();
    const auto fault = plan_.Take(event.step, event.index,
                                  {ESimFaultKind::DuplicateReply, ESimFaultKind::ExtraReport,
                                   ESimFaultKind::AnswerBurst, ESimFaultKind::LateReply});
    if (!fault) {
        return true;
    }
    if (!event.fault) {
        event.fault = fault->kind;
    }
    switch (fault->kind) {
    case ESimFaultKind::DuplicateReply:
        deliveries_.push_back({0, answer});
        break;
    case ESimFaultKind::ExtraReport:
        deliveries_.push_back({0, accepted});
        break;
    case ESimFaultKind::AnswerBurst:
        deliveries_.insert(deliveries_.end(), static_cast<std::size_t>(std::max(fault->nBurst, 0)),
                           SSimDelivery{0, accepted});
        bHung_ = true;
        break;
    case ESimFaultKind::LateReply:
        deliveries_.push_back({fault->dwDelayMs, answer});
        return false;
    default:
        break;
    }
    return true;
}

std::optional<std::uint8_t> CSimChargerBase::FaultAnswer(const SFault& fault) {
    switch (fault.kind) {
    case ESimFaultKind::OtherByte:
        return fault.byOther;
    case ESimFaultKind::Refuse:
        return kReplyRefused;
    default:
        return std::nullopt; // silence, and a device that has just left
    }
}

} // namespace crenovix::sim
