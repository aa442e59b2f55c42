// The HID boot-loader dialogue: boot request, reconnection after the charger restarts into its
// boot loader, start frame with challenge and CRC, key word, then 64-byte blocks, each answered
// before the next is sent.
#include "protocol/Frames.h"
#include "protocol/UpdateRun.h"

#include <algorithm>
#include <array>
#include <optional>

namespace crenovix {

namespace {

constexpr std::uint32_t kBootReplyTimeoutMs = 2000;
constexpr std::uint32_t kStartReplyTimeoutMs = 5000;
constexpr std::uint32_t kKeyReplyTimeoutMs = 5000;
constexpr std::uint32_t kBlockReplyTimeoutMs = 2000;
constexpr std::uint32_t kReconnectFirstWaitMs = 1000;
constexpr std::uint32_t kReconnectAttemptWaitMs = 200;
constexpr int kReconnectAttempts = 50;
// Looks for a charger found by serial number before the run gives up: each open is checked
// against a listing after it, and a charger that moved meanwhile is opened again where it went.
// A look that failed (its position emptied by another charger restarting, news of which may come
// late) is tried again after a pause, so a charger still plugged is not called unopenable.
constexpr int kOpenChecks = 10;
constexpr std::uint32_t kOpenCheckWaitMs = 200;
// The fifth refusal of the start frame ends the run. Refusals of the key word are counted apart,
// with the same bound, so a charger that keeps refusing it cannot hold the run forever.
constexpr int kMaxStartRefusals = 5;
constexpr int kMaxKeyRefusals = 5;

enum EHidError {
    kNoStartReply = 1001,
    kStartRefused = 1002,
    kStartReplyCrc = 1003,
    kNoKeyReply = 1006,
    kKeyReplyUnknown = 1007,
    kNoBlockReply = 1008,
    kBlockRefused = 1009,
};

struct SIdentity {
    std::string strType;
    std::string strSerial;
    std::string strPort;

    bool bAnyPort = false;

    bool Matches(const SDeviceEntry& entry) const {
        return entry.strType == strType && entry.strSerial == strSerial &&
               (bAnyPort || entry.strPort == strPort);
    }
};

// How a step of the handshake ended.
enum class EStepEnd {
    Accepted,
    Refused, // "5": the handshake may start over
    Ended    // the run has ended with its message
};

class CHidRun {
public:
    explicit CHidRun(SRunJob& job)
        : job_(job), observer_(job.observer), clock_(job.clock), port_(job.ports) {}

    SRunResult Run();

private:
    // The steps of a run, in order. Each ends the run itself when it fails (port closed, the
    // ending in result_) and then answers false (nothing, Ended).
    bool LoadFile();
    bool OpenSelectedCharger();
    // The boot request and its answer; false when the charger refused the file. Otherwise
    // `restarting` says whether it restarts into its boot loader (answered "&") or is taken to be
    // there already (any other answer, or none).
    bool SendBootRequest(bool& restarting);
    // Start frame and key word, started over after a refusal (after waiting for the charger to
    // come back each time): the key of the blocks, or nothing.
    std::optional<std::uint32_t> Handshake(bool reconnect);
    EStepEnd SendStartFrame(std::uint32_t nonce, std::uint32_t& keyWord);
    EStepEnd SendKeyWord(std::uint32_t keyWord);
    bool SendBlocks(std::uint32_t transferKey);

    bool Reconnect();
    bool TryOpen(const SDeviceEntry& entry);
    bool OpenSavedRow();
    // A charger found by serial number (saved_.bAnyPort): where a listing made now shows it.
    std::optional<std::string> ListedAt();
    // One look: opened where listed, and still listed there after the open.
    bool OpenWhereListed();
    bool OpenWhereItIsNow();
    void End(ERunOutcome outcome, int code = 0);
    void EndWithError(int code) { End(ERunOutcome::HidCommunication, code); }
    void EndCannotOpen() { End(ERunOutcome::PortOpenFailed); }
    // Reads the answer report. Reports following it at once are dropped and make it a wrong
    // answer: the reply is cleared, and its first byte, neither "&" nor "5", fails every step.
    bool ReadReply(std::uint32_t timeoutMs) {
        reply_.fill(0);
        if (!port_.Read(reply_.data(), kHidReportData, timeoutMs)) {
            return false;
        }
        if (port_.DiscardInput()) {
            reply_.fill(kWrongAnswer);
        }
        return true;
    }
    // Sends one frame and reads its answer. A report already waiting came before the frame, so
    // nothing asked for it: it is dropped and the frame is not sent, and the step sees a wrong
    // answer. A failed write never reached the charger, so whatever could be read next is not
    // its answer either: the step ends as if the reply were missing.
    bool Exchange(const std::uint8_t* data, std::size_t n, std::uint32_t timeoutMs) {
        if (port_.DiscardInput()) {
            reply_.fill(kWrongAnswer);
            return true;
        }
        return port_.Write(data, n) && ReadReply(timeoutMs);
    }

    SRunJob& job_;
    IRunObserver& observer_;
    SRunResult result_;
    SDeviceEntry target_;
    std::uint32_t startTick_ = 0;
    IClock& clock_;
    CDevicePort port_;
    SIdentity saved_;
    SUpdateHeader header_;
    std::string fileSha256_; // of the file as the run read it
    std::int32_t version_ = 0;
    std::array<std::uint8_t, kHidReportData> reply_{};
};

void CHidRun::End(ERunOutcome outcome, int code) {
    port_.Close();
    result_ = RunEnding(outcome, true, code, clock_.TickCount() - startTick_);
    result_.target = target_;
    result_.strVersion = header_.szVersion;
    result_.fileSha256 = fileSha256_;
}

bool CHidRun::TryOpen(const SDeviceEntry& entry) {
    if (port_.Open(entry.strPort, 9600)) {
        return true;
    }
    port_.Close();
    return false;
}

// Waits for the charger to come back under the saved identity. Device changes handled by
// DispatchPendingMessages rewrite the table meanwhile; the list box and its selection stay.
bool CHidRun::Reconnect() {
    port_.Close();
    clock_.Sleep(kReconnectFirstWaitMs);
    for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
        if (saved_.bAnyPort ? OpenWhereListed() : OpenSavedRow()) {
            return true;
        }
        clock_.Sleep(kReconnectAttemptWaitMs);
    }
    return false;
}

// The selected row when it still holds the saved identity, else the first row that does.
bool CHidRun::OpenSavedRow() {
    observer_.DispatchPendingMessages();
    SDeviceListState& devices = job_.devices;
    devices.nDeviceCount = std::clamp(devices.nDeviceCount, 0, kDeviceTableRows);
    const int selection = job_.selection;
    if (selection >= 0 && selection < devices.nDeviceCount &&
        saved_.Matches(devices.rows[selection])) {
        return TryOpen(devices.rows[selection]);
    }
    for (int row = 0; row < devices.nDeviceCount; ++row) {
        if (saved_.Matches(devices.rows[row]) && TryOpen(devices.rows[row])) {
            return true;
        }
    }
    return false;
}

SRunResult CHidRun::Run() {
    startTick_ = clock_.TickCount();
    if (!LoadFile() || !OpenSelectedCharger()) {
        return result_;
    }
    bool restarting = false;
    if (!SendBootRequest(restarting)) {
        return result_;
    }
    const std::optional<std::uint32_t> transferKey = Handshake(restarting);
    if (!transferKey || !SendBlocks(*transferKey)) {
        return result_;
    }
    if (InputFollowsLastAnswer(port_, clock_)) {
        // The last answer was not the only one: the charger may not have taken the last block.
        EndWithError(header_.dwPayloadLength == 0 ? kKeyReplyUnknown : kBlockRefused);
        return result_;
    }
    End(ERunOutcome::Success);
    return result_;
}

bool CHidRun::LoadFile() {
    if (const SDeviceEntry* selected = SelectedDevice(job_)) {
        target_ = *selected;
    }
    if (std::optional<SRunResult> ending = LoadRunFile(job_, true, fileSha256_)) {
        result_ = std::move(*ending);
        result_.target = target_;
        return false;
    }
    header_ = ReadUpdateHeader(job_.image);
    version_ = HeaderVersionNumber(job_.image);
    return true;
}

bool CHidRun::OpenSelectedCharger() {
    observer_.SetStatusText(run_text::kConnecting);
    const SDeviceEntry* selected = SelectedDevice(job_);
    if (selected == nullptr) {
        EndCannotOpen();
        return false;
    }
    // By serial only when there is one: chargers without one all look alike, and with several
    // updated at once another one's boot loader could be taken for this one's.
    saved_ = {selected->strType, selected->strSerial, selected->strPort,
              job_.bReconnectBySerial && !selected->strSerial.empty()};
    if (saved_.bAnyPort) {
        return OpenWhereItIsNow();
    }
    if (!port_.Open(saved_.strPort, 9600)) {
        EndCannotOpen();
        return false;
    }
    return true;
}

// Updated beside others: another charger restarting since the table was filled moves the
// positions behind it, and whatever now sits at the old one is not this charger. The table is
// looked at again, the charger opened where it is now, and the table looked at once more: only
// when the charger is still listed at the position opened was the open this charger's.
std::optional<std::string> CHidRun::ListedAt() {
    observer_.DispatchPendingMessages();
    if (job_.relist) {
        job_.relist();
    }
    const SDeviceListState& devices = job_.devices;
    const int count = std::clamp(devices.nDeviceCount, 0, kDeviceTableRows);
    for (int row = 0; row < count; ++row) {
        const SDeviceEntry& entry = devices.rows[static_cast<std::size_t>(row)];
        if (saved_.Matches(entry) && entry.strPort.starts_with("HID")) {
            return entry.strPort;
        }
    }
    return std::nullopt;
}

bool CHidRun::OpenWhereListed() {
    const std::optional<std::string> port = ListedAt();
    if (port && port_.Open(*port, 9600) && ListedAt() == port) {
        saved_.strPort = *port;
        return true;
    }
    port_.Close();
    return false;
}

bool CHidRun::OpenWhereItIsNow() {
    for (int attempt = 0; attempt < kOpenChecks; ++attempt) {
        if (attempt > 0) {
            clock_.Sleep(kOpenCheckWaitMs);
        }
        if (OpenWhereListed()) {
            return true;
        }
    }
    EndCannotOpen();
    return false;
}

bool CHidRun::SendBootRequest(bool& restarting) {
    port_.DiscardInput();
    SendEnterFrameHid(kBootRequestByte0, kBootRequestByte1, header_.byDeviceCode, port_);
    restarting = false;
    if (ReadReply(kBootReplyTimeoutMs)) {
        if (reply_[0] == kReplyAccepted) {
            restarting = true; // the application firmware restarts into its boot loader
        } else if (reply_[0] == kReplyRefused) {
            End(ERunOutcome::Inconformity);
            return false;
        }
    }
    return true;
}

std::optional<std::uint32_t> CHidRun::Handshake(bool reconnect) {
    int startRefusals = 0;
    int keyRefusals = 0;
    for (;;) {
        if (reconnect && !Reconnect()) {
            EndCannotOpen();
            return std::nullopt;
        }
        reconnect = true;

        const std::uint32_t nonce = job_.nonces.NextNonce();
        std::uint32_t keyWord = 0;
        EStepEnd end = SendStartFrame(nonce, keyWord);
        int* refusals = &startRefusals;
        int maxRefusals = kMaxStartRefusals;
        if (end == EStepEnd::Accepted) {
            end = SendKeyWord(keyWord);
            refusals = &keyRefusals;
            maxRefusals = kMaxKeyRefusals;
        }
        if (end == EStepEnd::Accepted) {
            return keyWord + header_.dwPayloadLength;
        }
        if (end == EStepEnd::Ended) {
            return std::nullopt;
        }
        // Refused: counted for its step; the last refusal of either ends the run with one code.
        if (++*refusals >= maxRefusals) {
            EndWithError(kStartRefused);
            return std::nullopt;
        }
    }
}

// Accepted: the reply's CRC checks, and `keyWord` is the key word it carries.
EStepEnd CHidRun::SendStartFrame(std::uint32_t nonce, std::uint32_t& keyWord) {
    const auto start =
        StartFrame(header_.dwPayloadLength,
                   StartFrameModel(header_.byPayloadMode, header_.byDeviceCode), version_, nonce);
    if (!Exchange(start.data(), start.size(), kStartReplyTimeoutMs)) {
        EndWithError(kNoStartReply);
        return EStepEnd::Ended;
    }
    if (reply_[0] != kReplyAccepted) {
        return EStepEnd::Refused;
    }
    std::array<std::uint32_t, 5> words{};
    for (std::size_t i = 0; i < words.size(); ++i) {
        words[i] = ReadLe32(&reply_[4 * i]);
    }
    words[0] = nonce;
    if (CrcWords(words) != 0) {
        EndWithError(kStartReplyCrc);
        return EStepEnd::Ended;
    }
    keyWord = words[2] ^ nonce;
    return EStepEnd::Accepted;
}

EStepEnd CHidRun::SendKeyWord(std::uint32_t keyWord) {
    std::array<std::uint8_t, 4> keyBytes{};
    WriteLe32(keyBytes.data(), keyWord);
    if (!Exchange(keyBytes.data(), keyBytes.size(), kKeyReplyTimeoutMs)) {
        EndWithError(kNoKeyReply);
        return EStepEnd::Ended;
    }
    if (reply_[0] == kReplyAccepted) {
        return EStepEnd::Accepted;
    }
    if (reply_[0] != kReplyRefused) {
        EndWithError(kKeyReplyUnknown);
        return EStepEnd::Ended;
    }
    return EStepEnd::Refused;
}

bool CHidRun::SendBlocks(std::uint32_t transferKey) {
    observer_.SetStatusText(run_text::kUpgrading);
    observer_.ShowProgress(true);
    const std::uint32_t length = header_.dwPayloadLength;
    const std::uint32_t blocks = (length + kHidBlockSize - 1) / kHidBlockSize;
    observer_.SetProgressRange(static_cast<std::uint16_t>(blocks));
    observer_.SetProgressPos(0);
    std::array<std::uint8_t, 4> key{};
    WriteLe32(key.data(), transferKey);
    for (std::uint32_t k = 0; k < blocks; ++k) {
        observer_.DispatchPendingMessages();
        observer_.SetProgressPos(static_cast<int>(k));
        std::array<std::uint8_t, kHidBlockSize> block{};
        const std::size_t offset = std::size_t{k} * kHidBlockSize;
        const std::size_t count = std::min<std::size_t>(kHidBlockSize, length - offset);
        std::copy_n(job_.image.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + offset), count,
                    block.begin());
        if (header_.byPayloadMode == 0) {
            for (std::size_t i = 0; i < block.size(); ++i) {
                block[i] ^= key[i % 4] ^ TransferMask[i % 16];
            }
        }
        if (!Exchange(block.data(), block.size(), kBlockReplyTimeoutMs)) {
            EndWithError(kNoBlockReply);
            return false;
        }
        if (reply_[0] != kReplyAccepted) {
            EndWithError(kBlockRefused);
            return false;
        }
    }
    return true;
}

} // namespace

SRunResult RunHid(SRunJob& job) {
    return CHidRun(job).Run();
}

} // namespace crenovix
