#include "sim/SimHidCharger.h"

#include <algorithm>
#include <cstring>

namespace crenovix::sim {

namespace {

SimHidReport ReplyReport(std::uint8_t code) {
    SimHidReport report{};
    report[1] = code;
    return report;
}

std::optional<SimHidReport> AsReport(std::optional<std::uint8_t> code) {
    if (!code) {
        return std::nullopt;
    }
    return ReplyReport(*code);
}

// The model field carries the device code widened as a signed byte.
std::uint32_t ModelField(std::uint8_t code) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(code)));
}

std::uint32_t Field(const std::array<std::uint8_t, kHidBlockSize>& data, std::size_t offset) {
    return LoadLe32(std::span<const std::uint8_t>(data).subspan(offset, 4));
}

// A CRC word that cannot check: any change to a correct one will do.
constexpr std::uint32_t kCrcSpoiler = 0x00000001;

} // namespace

CSimHidCharger::CSimHidCharger(IClock& clock, SSimHidConfig config)
    : CSimChargerBase(clock, config.identity, config.faults), config_(std::move(config)),
      rng_(config_.dwSeed), order_(config_.identity.nHidPosition) {
    if (config_.bStartInBootLoader) {
        phase_ = EPhase::BootLoader;
    }
}

bool CSimHidCharger::IsPresent() {
    Refresh();
    return !IsGone() && phase_ != EPhase::Away;
}

bool CSimHidCharger::InBootLoader() {
    return IsPresent() && phase_ == EPhase::BootLoader;
}

ESimStep CSimHidCharger::ExpectedStep(int& index) {
    Refresh();
    index = -1;
    if (phase_ == EPhase::Away) {
        return ESimStep::Reconnection;
    }
    if (phase_ == EPhase::Application) {
        return ESimStep::BootRequest;
    }
    switch (loader_) {
    case ELoader::WaitStart:
        return ESimStep::StartFrame;
    case ELoader::WaitKey:
        return ESimStep::KeyWord;
    case ELoader::Blocks:
        index = block_;
        return ESimStep::DataBlock;
    }
    return ESimStep::StartFrame;
}

// Presence is worked out from the clock when someone looks, so a virtual clock needs no timer.
void CSimHidCharger::Refresh() {
    if (phase_ != EPhase::Away || bNeverBack_ || Now() - leftAt_ < config_.dwReenumerateMs) {
        return;
    }
    phase_ = next_;
    if (phase_ == EPhase::BootLoader) {
        loader_ = ELoader::WaitStart;
        results_.events.push_back({ESimStep::Reconnection, -1, 0, leftAt_ + config_.dwReenumerateMs,
                                   true, std::nullopt, returnFault_});
    }
}

void CSimHidCharger::Leave(bool bToBootLoader) {
    leftAt_ = Now();
    phase_ = EPhase::Away;
    next_ = bToBootLoader ? EPhase::BootLoader : EPhase::Application;
    ++instance_;
    returnFault_.reset();
    if (!bToBootLoader) {
        return;
    }
    const auto fault = plan_.Take(ESimStep::Reconnection, -1,
                                  {ESimFaultKind::NeverReturn, ESimFaultKind::ReturnElsewhere});
    if (!fault) {
        return;
    }
    returnFault_ = fault->kind;
    if (fault->kind == ESimFaultKind::NeverReturn) {
        bNeverBack_ = true;
    } else {
        order_ = fault->nPosition;
    }
}

std::optional<SimHidReport> CSimHidCharger::HandleReport(std::span<const std::uint8_t> report) {
    if (bHung_) {
        return std::nullopt;
    }
    if (StrayAhead()) {
        return std::nullopt; // the refusal comes late
    }
    const std::optional<SimHidReport> answer = Step(report);
    if (answer) {
        const SimHidReport accepted = ReplyReport(kReplyAccepted);
        if (!Deliver({answer->begin(), answer->end()}, {accepted.begin(), accepted.end()})) {
            return std::nullopt;
        }
    }
    return answer;
}

// A StrayReply planned for the block on its way: the stray goes out at once, the refusal after
// the fault's delay, and the block is not taken.
std::optional<SimHidReport> CSimHidCharger::StrayAhead() {
    int index = -1;
    const ESimStep step = ExpectedStep(index);
    if (step != ESimStep::DataBlock || !IsPresent()) {
        return std::nullopt;
    }
    const auto fault = plan_.Take(step, index, {ESimFaultKind::StrayReply});
    if (!fault) {
        return std::nullopt;
    }
    const SimHidReport stray = ReplyReport(kReplyAccepted);
    const SimHidReport refusal = ReplyReport(kReplyRefused);
    Send(0, {stray.begin(), stray.end()});
    Send(fault->dwDelayMs, {refusal.begin(), refusal.end()});
    Log(step, index, 0, true, kReplyRefused, fault->kind);
    return refusal;
}

std::optional<SimHidReport> CSimHidCharger::Step(std::span<const std::uint8_t> report) {
    if (!IsPresent() || report.empty()) {
        return std::nullopt;
    }
    Data data{};
    const std::size_t n = std::min(report.size() - 1, data.size());
    std::copy_n(report.begin() + 1, n, data.begin());
    if (phase_ == EPhase::Application) {
        return AsReport(OnApplication(data));
    }
    return OnBootLoader(data);
}

std::optional<std::uint8_t> CSimHidCharger::OnApplication(const Data& data) {
    const std::optional<SBootRequest> request = ParseHidBootRequest(data);
    if (!request || request->b0 != kBootRequestByte0 || request->b1 != kBootRequestByte1) {
        // The application firmware knows no other report; it lets them pass unanswered.
        return Log(ESimStep::BootRequest, -1, 0, false, std::nullopt);
    }
    if (const auto fault = TakeAnswerFault(ESimStep::BootRequest, -1)) {
        return Log(ESimStep::BootRequest, -1, 0, true, FaultAnswer(*fault), fault->kind);
    }
    if (request->b2 != identity_.byModelCode) {
        return Log(ESimStep::BootRequest, -1, 0, true, kReplyRefused);
    }
    Log(ESimStep::BootRequest, -1, 0, true, kReplyAccepted);
    Leave(true);
    return kReplyAccepted;
}

std::optional<SimHidReport> CSimHidCharger::OnBootLoader(const Data& data) {
    const std::optional<SBootRequest> request = ParseHidBootRequest(data);
    if (request && request->b0 == kBootRequestByte0 && request->b1 == kBootRequestByte1) {
        return AsReport(OnInLoaderBootRequest());
    }
    switch (loader_) {
    case ELoader::WaitStart:
    case ELoader::WaitKey:
        if (std::equal(kStartMagic.begin(), kStartMagic.end(), data.begin())) {
            return OnStartFrame(data);
        }
        if (loader_ == ELoader::WaitKey) {
            return AsReport(OnKeyWord(data));
        }
        return AsReport(Log(ESimStep::StartFrame, -1, 0, false, kReplyRefused));
    case ELoader::Blocks:
        return AsReport(OnBlock(data));
    }
    return std::nullopt;
}

// A host that starts over asks the boot loader to restart into itself; whatever ran is dropped.
std::optional<std::uint8_t> CSimHidCharger::OnInLoaderBootRequest() {
    loader_ = ELoader::WaitStart;
    if (const auto fault = TakeAnswerFault(ESimStep::BootRequest, -1)) {
        return Log(ESimStep::BootRequest, -1, 0, true, FaultAnswer(*fault), fault->kind);
    }
    std::optional<std::uint8_t> answer;
    if (config_.inLoaderReply == ESimInLoaderReply::OtherByte) {
        answer = config_.byInLoaderOther;
    }
    return Log(ESimStep::BootRequest, -1, 0, true, answer);
}

std::optional<SimHidReport> CSimHidCharger::OnStartFrame(const Data& data) {
    const std::uint32_t length = Field(data, 8);
    const std::uint32_t model = Field(data, 16);
    const bool bValid =
        Field(data, 12) == kHidBlockSize && Field(data, 20) == kStartConstantA &&
        Field(data, 28) == kStartConstantB && length <= config_.dwFlashCapacity &&
        (model == kMaskedTransferModel || model == ModelField(identity_.byModelCode));
    loader_ = ELoader::WaitStart;
    if (!bValid) {
        return AsReport(Log(ESimStep::StartFrame, -1, 0, false, kReplyRefused));
    }
    const auto fault = TakeAnswerFault(ESimStep::StartFrame, -1, true);
    if (fault && fault->kind != ESimFaultKind::WrongCrc) {
        return AsReport(Log(ESimStep::StartFrame, -1, 0, true, FaultAnswer(*fault), fault->kind));
    }
    nonce_ = Field(data, 32);
    length_ = length;
    bMasked_ = model == kMaskedTransferModel;
    key_ = static_cast<std::uint32_t>(rng_());
    loader_ = ELoader::WaitKey;

    const std::array<std::uint32_t, 4> checked = {nonce_, config_.dwLoaderVersion, key_,
                                                  config_.dwFlashCapacity};
    std::uint32_t crc = CrcWords(checked);
    if (fault) {
        crc ^= kCrcSpoiler;
    }
    SimHidReport reply{};
    const std::span<std::uint8_t> words = std::span<std::uint8_t>(reply).subspan(1);
    StoreLe32(words.subspan(0), kReplyAccepted);
    StoreLe32(words.subspan(4), config_.dwLoaderVersion);
    StoreLe32(words.subspan(8), key_);
    StoreLe32(words.subspan(12), config_.dwFlashCapacity);
    StoreLe32(words.subspan(16), crc);
    Log(ESimStep::StartFrame, -1, 0, true, kReplyAccepted,
        fault ? std::optional(fault->kind) : std::nullopt);
    return reply;
}

std::optional<std::uint8_t> CSimHidCharger::OnKeyWord(const Data& data) {
    const std::uint32_t word = Field(data, 0);
    // Whatever the answer, only "&" lets the session go on; the host comes back with a new start
    // frame after anything else.
    loader_ = ELoader::WaitStart;
    if (word != (key_ ^ nonce_)) {
        return Log(ESimStep::KeyWord, -1, 0, false, kReplyRefused);
    }
    if (const auto fault = TakeAnswerFault(ESimStep::KeyWord, -1)) {
        return Log(ESimStep::KeyWord, -1, 0, true, FaultAnswer(*fault), fault->kind);
    }
    transferKey_ = word + length_;
    block_ = 0;
    results_.payload.clear();
    results_.payload.reserve(length_);
    results_.dwAnnouncedLength = length_;
    results_.bComplete = false;
    results_.bMasked = bMasked_;
    results_.bPaddingZero = true;
    ++results_.nTransfers;
    Log(ESimStep::KeyWord, -1, 0, true, kReplyAccepted);
    if (length_ == 0) {
        Finish();
    } else {
        loader_ = ELoader::Blocks;
    }
    return kReplyAccepted;
}

std::optional<std::uint8_t> CSimHidCharger::OnBlock(const Data& data) {
    const int k = block_;
    if (const auto fault = TakeAnswerFault(ESimStep::DataBlock, k)) {
        return Log(ESimStep::DataBlock, k, 0, true, FaultAnswer(*fault), fault->kind);
    }
    const std::size_t stored = results_.payload.size();
    const std::size_t take = std::min<std::size_t>(kHidBlockSize, length_ - stored);
    for (std::size_t i = 0; i < kHidBlockSize; ++i) {
        std::uint8_t plain = data[i];
        if (bMasked_) {
            plain ^= static_cast<std::uint8_t>(transferKey_ >> (8 * (i % 4))) ^
                     kTransferMask[i % kTransferMask.size()];
        }
        if (i < take) {
            results_.payload.push_back(plain);
        } else if (plain != 0) {
            results_.bPaddingZero = false;
        }
    }
    ++block_;
    Log(ESimStep::DataBlock, k, 0, true, kReplyAccepted);
    if (results_.payload.size() == length_) {
        Finish();
    }
    return kReplyAccepted;
}

void CSimHidCharger::Finish() {
    results_.bComplete = true;
    ++results_.nCompleted;
    loader_ = ELoader::WaitStart;
    if (config_.bRestartAfterUpdate) {
        Leave(false);
    }
}

} // namespace crenovix::sim
