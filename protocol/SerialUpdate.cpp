// The serial boot-loader dialogue: boot request at 9600 baud, reopen at the boot loader's rate,
// knock, length frame, 16-byte frames with an XOR check byte. A failure while talking to the
// boot loader starts over from the boot request, seven tries in all.
#include "protocol/Frames.h"
#include "protocol/UpdateRun.h"

#include <algorithm>
#include <array>

namespace crenovix {

namespace {

constexpr std::uint32_t kApplicationBaud = 9600;
constexpr std::uint32_t kChargerBootLoaderBaud = 128000;
constexpr std::uint32_t kBootReplyTimeoutMs = 2000;
constexpr std::uint32_t kKnockReplyTimeoutMs = 1000;
// Failures before the one that ends the run; the run makes seven tries in all.
constexpr int kRetries = 6;

// How a try ended.
enum class ETry {
    Done,
    PortFailed,
    NoBootLoader,
    KnockRefused,
    LengthRefused,
    FrameRefused,
    LastFrameRefused
};

ERunOutcome FailureOutcome(ETry failure) {
    switch (failure) {
    case ETry::NoBootLoader:
        return ERunOutcome::DeviceNotFound;
    case ETry::KnockRefused:
        return ERunOutcome::KnockRefused;
    case ETry::LengthRefused:
        return ERunOutcome::LengthRefused;
    case ETry::FrameRefused:
        return ERunOutcome::FrameRefused;
    case ETry::LastFrameRefused:
        return ERunOutcome::LastFrameRefused;
    case ETry::Done:
    case ETry::PortFailed:
        break;
    }
    return ERunOutcome::PortOpenFailed;
}

class CSerialRun {
public:
    explicit CSerialRun(SRunJob& job)
        : job_(job), observer_(job.observer), clock_(job.clock), port_(job.ports) {}

    SRunResult Run();

private:
    // The steps of a run, in order. Each ends the run itself when it fails (port closed, the
    // ending in result_) and then answers false.
    bool LoadFile();
    bool OpenSelectedPort();
    // The boot request at the application rate and its answer, with the pause the answer asks
    // for; false when the charger refused the file.
    bool SendBootRequest();
    // One try with the boot loader: reopen at its rate, knock, length frame, the frames.
    ETry TalkToBootLoader();
    // The knock and its answer, again at the charger rate on a plain port that stays silent;
    // Done: the boot loader answered "&".
    ETry Knock();
    // False when input was waiting before the knock's last byte: it was not asked for.
    bool WriteKnock(bool shortKnock);
    bool SendLengthFrame();
    ETry SendFrames();
    // The failure of the step whose answer came last, when input follows it.
    ETry LastStepFailure() const;
    // Ends the run after a try that failed, or gets ready for the next one; false when the run
    // has ended.
    bool StartOver(ETry failure, int failures);
    void End(ERunOutcome outcome) {
        port_.Close();
        result_ = RunEnding(outcome, false);
        result_.target = target_;
        result_.strVersion = header_.szVersion;
        result_.fileSha256 = fileSha256_;
    }

    SRunJob& job_;
    IRunObserver& observer_;
    SRunResult result_;
    SDeviceEntry target_;
    IClock& clock_;
    CDevicePort port_;
    std::string portName_;
    bool plainPort_ = false;
    std::uint32_t bootLoaderBaud_ = kApplicationBaud;
    SUpdateHeader header_;
    std::string fileSha256_; // of the file as the run read it
};

// Writes the knock (or the short knock of the 128000-baud fall-back). Its last byte asks for the
// answer: input waiting just before it answers nothing and fails the knock, which is then not
// finished.
bool CSerialRun::WriteKnock(bool shortKnock) {
    static constexpr std::array<std::uint8_t, 5> kKnock = {'&', '&', '&', 'u', 0x07};
    static constexpr std::array<std::uint32_t, 4> kKnockPauses = {30, 30, 20, 20};
    static constexpr std::array<std::uint8_t, 3> kShortKnock = {'&', 'u', 0x07};
    static constexpr std::array<std::uint32_t, 2> kShortKnockPauses = {20, 20};
    const std::span<const std::uint8_t> bytes = shortKnock
                                                    ? std::span<const std::uint8_t>(kShortKnock)
                                                    : std::span<const std::uint8_t>(kKnock);
    const std::span<const std::uint32_t> pauses =
        shortKnock ? std::span<const std::uint32_t>(kShortKnockPauses)
                   : std::span<const std::uint32_t>(kKnockPauses);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            clock_.Sleep(pauses[i - 1]);
        }
        if (i + 1 == bytes.size() && port_.DiscardInput()) {
            return false;
        }
        port_.Write(&bytes[i], 1);
    }
    return true;
}

SRunResult CSerialRun::Run() {
    if (!LoadFile() || !OpenSelectedPort()) {
        return result_;
    }
    for (int failures = 0;; ++failures) {
        if (!SendBootRequest()) {
            return result_;
        }
        const ETry tried = TalkToBootLoader();
        if (tried == ETry::Done) {
            End(ERunOutcome::Success);
            return result_;
        }
        if (!StartOver(tried, failures)) {
            return result_;
        }
    }
}

bool CSerialRun::LoadFile() {
    if (const SDeviceEntry* selected = SelectedDevice(job_)) {
        target_ = *selected;
    }
    if (std::optional<SRunResult> ending = LoadRunFile(job_, false, fileSha256_)) {
        result_ = std::move(*ending);
        result_.target = target_;
        return false;
    }
    header_ = ReadUpdateHeader(job_.image);
    return true;
}

bool CSerialRun::OpenSelectedPort() {
    observer_.SetStatusText(run_text::kConnecting);
    const SDeviceEntry* selected = SelectedDevice(job_);
    if (selected == nullptr) {
        End(ERunOutcome::PortOpenFailed);
        return false;
    }
    // Nothing of the row is needed later: every reopen uses the same port name.
    portName_ = selected->strPort;
    plainPort_ = selected->strType == "COMx" && selected->strSerial.empty();
    bootLoaderBaud_ = plainPort_ ? kApplicationBaud : kChargerBootLoaderBaud;
    if (!port_.Open(portName_, kApplicationBaud)) {
        End(ERunOutcome::PortOpenFailed);
        return false;
    }
    return true;
}

bool CSerialRun::SendBootRequest() {
    SendEnterFrameSerial(kBootRequestByte0, kBootRequestByte1, header_.byDeviceCode, port_, clock_);
    if (const std::optional<std::uint8_t> answer = ReadAnswerByte(port_, kBootReplyTimeoutMs)) {
        if (*answer == kReplyAccepted) {
            clock_.Sleep(150);
        } else if (*answer == kReplyRefused) {
            End(ERunOutcome::Inconformity);
            return false;
        } else {
            clock_.Sleep(2000);
        }
    }
    return true;
}

ETry CSerialRun::TalkToBootLoader() {
    port_.Close();
    if (!port_.Open(portName_, bootLoaderBaud_)) {
        return ETry::PortFailed;
    }
    if (const ETry knock = Knock(); knock != ETry::Done) {
        return knock;
    }
    clock_.Sleep(50);
    if (!SendLengthFrame()) {
        return ETry::LengthRefused;
    }
    const ETry frames = SendFrames();
    if (frames == ETry::Done && InputFollowsLastAnswer(port_, clock_)) {
        return LastStepFailure();
    }
    return frames;
}

ETry CSerialRun::LastStepFailure() const {
    const std::uint32_t length = header_.dwPayloadLength;
    if (length % kSerialFrameSize != 0) {
        return ETry::LastFrameRefused;
    }
    return length == 0 ? ETry::LengthRefused : ETry::FrameRefused;
}

ETry CSerialRun::Knock() {
    if (!WriteKnock(false)) {
        return ETry::KnockRefused;
    }
    std::optional<std::uint8_t> answer = ReadAnswerByte(port_, kKnockReplyTimeoutMs);
    if (!answer && plainPort_) {
        // A plain port's boot loader may listen only at the charger rate.
        port_.Close();
        if (!port_.Open(portName_, kChargerBootLoaderBaud)) {
            return ETry::PortFailed;
        }
        if (!WriteKnock(true)) {
            return ETry::KnockRefused;
        }
        answer = ReadAnswerByte(port_, kKnockReplyTimeoutMs);
    }
    if (!answer) {
        return ETry::NoBootLoader;
    }
    if (*answer != kReplyAccepted) {
        return ETry::KnockRefused;
    }
    return ETry::Done;
}

bool CSerialRun::SendLengthFrame() {
    const std::uint32_t length = header_.dwPayloadLength;
    const std::array<std::uint8_t, 4> lengthFrame = {
        static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    return SendXorFrame(port_, clock_, lengthFrame.data(), lengthFrame.size());
}

ETry CSerialRun::SendFrames() {
    observer_.SetStatusText(run_text::kUpgrading);
    observer_.ShowProgress(true);
    const std::uint32_t length = header_.dwPayloadLength;
    const std::uint32_t frames = length / kSerialFrameSize;
    observer_.SetProgressRange(static_cast<std::uint16_t>(frames));
    observer_.SetProgressPos(0);
    auto sendFrame = [&](std::uint32_t k, std::size_t size) {
        std::array<std::uint8_t, kSerialFrameSize> frame{};
        const auto* payload = job_.image.data() + kHeaderSize + std::size_t{k} * kSerialFrameSize;
        for (std::size_t i = 0; i < size; ++i) {
            frame[i] = payload[i] ^ TransferMask[i];
        }
        return SendXorFrame(port_, clock_, frame.data(), size);
    };
    for (std::uint32_t k = 0; k < frames; ++k) {
        observer_.DispatchPendingMessages();
        observer_.SetProgressPos(static_cast<int>(k));
        if (!sendFrame(k, kSerialFrameSize)) {
            return ETry::FrameRefused;
        }
    }
    if (const std::size_t rest = length % kSerialFrameSize; rest != 0) {
        observer_.DispatchPendingMessages();
        if (!sendFrame(frames, rest)) {
            return ETry::LastFrameRefused;
        }
    }
    return ETry::Done;
}

bool CSerialRun::StartOver(ETry failure, int failures) {
    if (failure == ETry::PortFailed) {
        End(ERunOutcome::PortOpenFailed);
        return false;
    }
    port_.Close();
    if (failures >= kRetries) {
        End(FailureOutcome(failure));
        return false;
    }
    observer_.SetStatusText(run_text::kConnectingAgain);
    clock_.Sleep(500);
    if (!port_.Open(portName_, kApplicationBaud)) {
        End(ERunOutcome::PortOpenFailed);
        return false;
    }
    return true;
}

} // namespace

SRunResult RunSerial(SRunJob& job) {
    return CSerialRun(job).Run();
}

} // namespace crenovix
