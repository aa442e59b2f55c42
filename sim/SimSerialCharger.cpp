#include "sim/SimSerialCharger.h"

#include <utility>

namespace crenovix::sim {

namespace {

constexpr std::array<std::uint8_t, 3> kKnockEnd = {'&', 'u', 0x07};

std::uint8_t XorOf(const std::vector<std::uint8_t>& bytes, std::size_t n) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= bytes[i];
    }
    return x;
}

} // namespace

CSimSerialCharger::CSimSerialCharger(IClock& clock, SSimSerialConfig config)
    : CSimChargerBase(clock, config.identity, config.faults), config_(std::move(config)) {
    const bool bFast = config_.bUsb || plan_.Has(ESimFaultKind::KnockOnlyAt128000);
    loaderBaud_ = bFast ? kFastBaud : kApplicationBaud;
    if (config_.bStartInBootLoader) {
        phase_ = EPhase::BootLoader;
    }
}

bool CSimSerialCharger::InBootLoader() {
    Refresh(Now());
    return !bGone_ && phase_ == EPhase::BootLoader;
}

ESimStep CSimSerialCharger::ExpectedStep(int& index) {
    Refresh(Now());
    index = -1;
    switch (phase_) {
    case EPhase::Application:
        return ESimStep::BootRequest;
    case EPhase::Restarting:
    case EPhase::Dead:
        return ESimStep::Reconnection;
    case EPhase::BootLoader:
        break;
    }
    switch (loader_) {
    case ELoader::WaitKnock:
        return ESimStep::Knock;
    case ELoader::WaitLength:
        return ESimStep::LengthFrame;
    case ELoader::WaitFrame:
        break;
    }
    ESimStep step = ESimStep::DataFrame;
    FrameSize(step, index);
    return step;
}

std::optional<std::uint8_t> CSimSerialCharger::HandleByte(std::uint8_t byte, std::uint32_t baud) {
    if (bGone_ || bHung_) {
        return std::nullopt;
    }
    const std::optional<std::uint8_t> answer = Step(byte, baud);
    if (answer && !Deliver({*answer}, {kReplyAccepted})) {
        return std::nullopt;
    }
    return answer;
}

std::optional<std::uint8_t> CSimSerialCharger::Step(std::uint8_t byte, std::uint32_t baud) {
    const std::uint32_t now = Now();
    const bool bGap = bHeard_ && now - lastByteAt_ > kSerialResyncGapMs;
    bHeard_ = true;
    lastByteAt_ = now;
    Refresh(now);
    if (bGap) {
        Resync();
    }
    switch (phase_) {
    case EPhase::Application:
        return OnApplication(byte, baud);
    case EPhase::BootLoader:
        return OnBootLoader(byte, baud);
    case EPhase::Restarting:
    case EPhase::Dead:
        break;
    }
    ++results_.nNoiseBytes;
    return std::nullopt;
}

// The boot loader comes up by the clock, so a virtual clock needs no timer.
void CSimSerialCharger::Refresh(std::uint32_t now) {
    if (phase_ != EPhase::Restarting || now - restartAt_ < config_.dwBootDelayMs) {
        return;
    }
    phase_ = EPhase::BootLoader;
    Resync();
    results_.events.push_back({ESimStep::Reconnection, -1, loaderBaud_,
                               restartAt_ + config_.dwBootDelayMs, true, std::nullopt,
                               std::nullopt});
}

void CSimSerialCharger::Resync() {
    strayRefusalDelayMs_.reset();
    request_.clear();
    knock_ = {};
    frame_.clear();
    loader_ = ELoader::WaitKnock;
}

std::optional<std::uint8_t> CSimSerialCharger::OnApplication(std::uint8_t byte,
                                                             std::uint32_t baud) {
    if (baud != kApplicationBaud) {
        ++results_.nNoiseBytes;
        return std::nullopt;
    }
    if (byte == ':') {
        request_.assign(1, byte);
    } else if (!request_.empty()) {
        request_.push_back(byte);
    }
    if (request_.size() == kSerialBootRequestSize) {
        return OnBootRequest(baud);
    }
    return std::nullopt;
}

std::optional<std::uint8_t> CSimSerialCharger::OnBootLoader(std::uint8_t byte, std::uint32_t baud) {
    if (baud != loaderBaud_) {
        ++results_.nNoiseBytes;
        return std::nullopt;
    }
    switch (loader_) {
    case ELoader::WaitKnock:
        if (byte == ':') {
            request_.assign(1, byte);
        } else if (!request_.empty()) {
            request_.push_back(byte);
        }
        if (request_.size() == kSerialBootRequestSize) {
            knock_ = {};
            return OnBootRequest(baud);
        }
        knock_ = {knock_[1], knock_[2], byte};
        if (knock_ == kKnockEnd) {
            knock_ = {};
            request_.clear();
            return OnKnock(baud);
        }
        return std::nullopt;
    case ELoader::WaitLength:
        frame_.push_back(byte);
        if (frame_.size() == 1) {
            ArmStray(ESimStep::LengthFrame, -1);
        }
        if (frame_.size() == kLengthFrameSize + 1) {
            return OnLengthFrame(baud);
        }
        return std::nullopt;
    case ELoader::WaitFrame: {
        frame_.push_back(byte);
        ESimStep step = ESimStep::DataFrame;
        int index = 0;
        const std::size_t size = FrameSize(step, index);
        if (frame_.size() == 1) {
            ArmStray(step, index);
        }
        if (frame_.size() == size + 1) {
            return OnDataFrame(baud);
        }
        return std::nullopt;
    }
    }
    return std::nullopt;
}

void CSimSerialCharger::ArmStray(ESimStep step, int index) {
    if (const auto fault = plan_.Take(step, index, {ESimFaultKind::StrayReply})) {
        Send(0, {kReplyAccepted});
        strayRefusalDelayMs_ = fault->dwDelayMs;
    }
}

std::optional<std::uint8_t> CSimSerialCharger::RefuseAfterStray(ESimStep step, int index,
                                                                std::uint32_t baud) {
    const std::uint32_t delayMs = *std::exchange(strayRefusalDelayMs_, std::nullopt);
    Log(step, index, baud, true, kReplyRefused, ESimFaultKind::StrayReply);
    Send(delayMs, {kReplyRefused});
    return std::nullopt;
}

std::optional<std::uint8_t> CSimSerialCharger::OnBootRequest(std::uint32_t baud) {
    const std::optional<SBootRequest> request = ParseSerialBootRequest(request_);
    request_.clear();
    if (!request || request->b0 != kBootRequestByte0 || request->b1 != kBootRequestByte1) {
        return Log(ESimStep::BootRequest, -1, baud, false, std::nullopt);
    }
    if (const auto fault = TakeAnswerFault(ESimStep::BootRequest, -1)) {
        return Log(ESimStep::BootRequest, -1, baud, true, FaultAnswer(*fault), fault->kind);
    }
    if (phase_ == EPhase::BootLoader) {
        std::optional<std::uint8_t> answer;
        if (config_.inLoaderReply == ESimInLoaderReply::OtherByte) {
            answer = config_.byInLoaderOther;
        }
        return Log(ESimStep::BootRequest, -1, baud, true, answer);
    }
    if (request->b2 != identity_.byModelCode) {
        return Log(ESimStep::BootRequest, -1, baud, true, kReplyRefused);
    }
    phase_ = EPhase::Restarting;
    restartAt_ = Now();
    if (plan_.Take(ESimStep::Reconnection, -1, {ESimFaultKind::NeverReturn})) {
        phase_ = EPhase::Dead;
    }
    return Log(ESimStep::BootRequest, -1, baud, true, kReplyAccepted);
}

std::optional<std::uint8_t> CSimSerialCharger::OnKnock(std::uint32_t baud) {
    if (const auto fault = TakeAnswerFault(ESimStep::Knock, -1)) {
        return Log(ESimStep::Knock, -1, baud, true, FaultAnswer(*fault), fault->kind);
    }
    loader_ = ELoader::WaitLength;
    frame_.clear();
    return Log(ESimStep::Knock, -1, baud, true, kReplyAccepted);
}

std::optional<std::uint8_t> CSimSerialCharger::OnLengthFrame(std::uint32_t baud) {
    const std::uint32_t length = (std::uint32_t{frame_[0]} << 24) |
                                 (std::uint32_t{frame_[1]} << 16) |
                                 (std::uint32_t{frame_[2]} << 8) | std::uint32_t{frame_[3]};
    const bool bValid = XorOf(frame_, kLengthFrameSize) == frame_[kLengthFrameSize] &&
                        length <= config_.dwFlashCapacity;
    frame_.clear();
    if (strayRefusalDelayMs_) {
        return RefuseAfterStray(ESimStep::LengthFrame, -1, baud);
    }
    if (!bValid) {
        return Log(ESimStep::LengthFrame, -1, baud, false, kReplyRefused);
    }
    if (const auto fault = TakeAnswerFault(ESimStep::LengthFrame, -1)) {
        return Log(ESimStep::LengthFrame, -1, baud, true, FaultAnswer(*fault), fault->kind);
    }
    length_ = length;
    nextFrame_ = 0;
    results_.payload.clear();
    results_.payload.reserve(length_);
    results_.dwAnnouncedLength = length_;
    results_.bComplete = false;
    ++results_.nTransfers;
    Log(ESimStep::LengthFrame, -1, baud, true, kReplyAccepted);
    if (length_ == 0) {
        Finish();
    } else {
        loader_ = ELoader::WaitFrame;
    }
    return kReplyAccepted;
}

// Full frames first, then one short frame for what is left.
std::size_t CSimSerialCharger::FrameSize(ESimStep& step, int& index) const {
    const std::uint32_t fullFrames = length_ / kSerialFrameSize;
    index = nextFrame_;
    if (static_cast<std::uint32_t>(nextFrame_) < fullFrames) {
        step = ESimStep::DataFrame;
        return kSerialFrameSize;
    }
    step = ESimStep::LastFrame;
    return length_ % kSerialFrameSize;
}

std::optional<std::uint8_t> CSimSerialCharger::OnDataFrame(std::uint32_t baud) {
    ESimStep step = ESimStep::DataFrame;
    int index = 0;
    const std::size_t n = FrameSize(step, index);
    const bool bValid = XorOf(frame_, n) == frame_[n];
    const std::vector<std::uint8_t> data(frame_.begin(), frame_.begin() + static_cast<long>(n));
    frame_.clear();
    if (strayRefusalDelayMs_) {
        return RefuseAfterStray(step, index, baud);
    }
    if (!bValid) {
        return Log(step, index, baud, false, kReplyRefused);
    }
    if (const auto fault = TakeAnswerFault(step, index)) {
        return Log(step, index, baud, true, FaultAnswer(*fault), fault->kind);
    }
    for (std::size_t i = 0; i < n; ++i) {
        results_.payload.push_back(data[i] ^ kTransferMask[i]);
    }
    ++nextFrame_;
    Log(step, index, baud, true, kReplyAccepted);
    if (results_.payload.size() == length_) {
        Finish();
    }
    return kReplyAccepted;
}

void CSimSerialCharger::Finish() {
    results_.bComplete = true;
    ++results_.nCompleted;
    Resync();
    if (config_.bRestartAfterUpdate) {
        phase_ = EPhase::Application;
    }
}

} // namespace crenovix::sim
