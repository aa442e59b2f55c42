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

struct SEnding {
    const char* text;
    const char* title;
    EMessageIcon icon;
};

SEnding FailureEnding(ETry failure) {
    switch (failure) {
    case ETry::NoBootLoader:
        return {run_text::kDeviceNotFound, run_text::kInfoTitle, EMessageIcon::None};
    case ETry::KnockRefused:
        return {"Error communication.\n0", run_text::kErrorTitle, EMessageIcon::Error};
    case ETry::LengthRefused:
        return {"Error communication.\n1", run_text::kErrorTitle, EMessageIcon::Error};
    case ETry::FrameRefused:
        return {"Error communication.\n2", run_text::kErrorTitle, EMessageIcon::Error};
    case ETry::LastFrameRefused:
        return {"Error communication.\n3", run_text::kErrorTitle, EMessageIcon::Error};
    case ETry::Done:
    case ETry::PortFailed:
        break;
    }
    return {run_text::kErrorOpeningCom, run_text::kErrorTitle, EMessageIcon::Error};
}

class CSerialRun {
public:
    explicit CSerialRun(SUpdateContext& context)
        : context_(context), window_(context.window), clock_(context.clock), port_(context.ports) {}

    void Run();

private:
    // The steps of a run, in order. Each ends the run itself when it fails and then answers
    // false.
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
    void EndPortFailed() {
        port_.Close();
        window_.MessageBox(run_text::kErrorOpeningCom, run_text::kErrorTitle, EMessageIcon::Error);
        window_.RestoreControls();
    }

    SUpdateContext& context_;
    IUpdateWindow& window_;
    IClock& clock_;
    CDevicePort port_;
    std::string portName_;
    bool plainPort_ = false;
    std::uint32_t bootLoaderBaud_ = kApplicationBaud;
    SUpdateHeader header_;
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

void CSerialRun::Run() {
    if (!LoadFile() || !OpenSelectedPort()) {
        return;
    }
    for (int failures = 0;; ++failures) {
        if (!SendBootRequest()) {
            return;
        }
        const ETry result = TalkToBootLoader();
        if (result == ETry::Done) {
            port_.Close();
            window_.MessageBox(run_text::kUpgradeCompletion, run_text::kSuccessTitle,
                               EMessageIcon::None);
            window_.RestoreControls();
            return;
        }
        if (!StartOver(result, failures)) {
            return;
        }
    }
}

bool CSerialRun::LoadFile() {
    if (!LoadRunFile(context_, false)) {
        return false;
    }
    header_ = ReadUpdateHeader(context_.image);
    return true;
}

bool CSerialRun::OpenSelectedPort() {
    window_.SetStatusText(run_text::kConnecting);
    const SDeviceEntry* selected = SelectedDevice(context_);
    if (selected == nullptr) {
        EndPortFailed();
        return false;
    }
    // Nothing of the row is needed later: every reopen uses the same port name.
    portName_ = selected->strPort;
    plainPort_ = selected->strType == "COMx" && selected->strSerial.empty();
    bootLoaderBaud_ = plainPort_ ? kApplicationBaud : kChargerBootLoaderBaud;
    if (!port_.Open(portName_, kApplicationBaud)) {
        EndPortFailed();
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
            port_.Close();
            window_.RestoreControls();
            window_.MessageBox(run_text::kInconformity, run_text::kErrorTitle, EMessageIcon::Error);
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
    window_.SetStatusText(run_text::kUpgrading);
    window_.ShowProgress(true);
    const std::uint32_t length = header_.dwPayloadLength;
    const std::uint32_t frames = length / kSerialFrameSize;
    window_.SetProgressRange(static_cast<std::uint16_t>(frames));
    window_.SetProgressPos(0);
    auto sendFrame = [&](std::uint32_t k, std::size_t size) {
        std::array<std::uint8_t, kSerialFrameSize> frame{};
        const auto* payload =
            context_.image.data() + kHeaderSize + std::size_t{k} * kSerialFrameSize;
        for (std::size_t i = 0; i < size; ++i) {
            frame[i] = payload[i] ^ TransferMask[i];
        }
        return SendXorFrame(port_, clock_, frame.data(), size);
    };
    for (std::uint32_t k = 0; k < frames; ++k) {
        window_.DispatchPendingMessages();
        window_.SetProgressPos(static_cast<int>(k));
        if (!sendFrame(k, kSerialFrameSize)) {
            return ETry::FrameRefused;
        }
    }
    if (const std::size_t rest = length % kSerialFrameSize; rest != 0) {
        window_.DispatchPendingMessages();
        if (!sendFrame(frames, rest)) {
            return ETry::LastFrameRefused;
        }
    }
    return ETry::Done;
}

bool CSerialRun::StartOver(ETry failure, int failures) {
    if (failure == ETry::PortFailed) {
        EndPortFailed();
        return false;
    }
    port_.Close();
    if (failures >= kRetries) {
        const SEnding ending = FailureEnding(failure);
        window_.MessageBox(ending.text, ending.title, ending.icon);
        window_.RestoreControls();
        return false;
    }
    window_.SetStatusText(run_text::kConnectingAgain);
    clock_.Sleep(500);
    if (!port_.Open(portName_, kApplicationBaud)) {
        EndPortFailed();
        return false;
    }
    return true;
}

} // namespace

void RunSerialUpdate(SUpdateContext& context) {
    CSerialRun(context).Run();
}

} // namespace crenovix
