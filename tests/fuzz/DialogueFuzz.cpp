// Both update dialogues against a charger whose every reply comes from the fuzzer's bytes
// (layout in DialogueScript.h), on a virtual clock, so that a run of either dialogue ends in
// microseconds whatever the charger does.
//
// Every run must end, show at most one message box (exactly one when the file loads, or cannot
// be opened), close the port, restore the controls (except after an empty file, which ends the
// run quietly) and never show "Upgrade completion!" unless the charger acknowledged every block
// or frame, each carrying the right bytes. The scripted charger takes a frame only when its "&"
// arrived after the frame was written: an answer that was already waiting (a repeated reply)
// answers an earlier frame, so a success built on one would leave the charger without the
// payload. A run that goes on past ten minutes of virtual time,
// which no ending of either dialogue reaches, or past a million port and clock operations is a
// hang; a broken rule is reported and the target aborts, which the fuzzer records as a crash.
// With CRENOVIX_FUZZ_TRACE set in the environment each run prints its dialogue, file, virtual
// time and message (for checking seeds).
#include "DialogueScript.h"

#include "protocol/Frames.h"
#include "protocol/UpdateRun.h"
#include "support/FakeUpdateWindow.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

using namespace crenovix;
using namespace crenovix::fuzz;
using testsupport::CFakeUpdateWindow;
using testsupport::CFixedNonces;

namespace {

constexpr std::uint64_t kMaxVirtualMs = 10 * 60 * 1000;
constexpr std::uint64_t kMaxOperations = 1'000'000;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "dialogue fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void Require(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

// The run's clock: a virtual clock that counts what is asked of it and stops a run that has
// gone on longer than any ending allows.
class CBoundedClock final : public IClock {
public:
    std::uint32_t TickCount() override {
        Count();
        return clock_.TickCount();
    }
    void Sleep(std::uint32_t ms) override { Advance(ms); }
    void Advance(std::uint64_t ms) {
        clock_.Advance(ms);
        Count();
    }
    std::uint64_t Now() const { return clock_.Now(); }
    void Count() {
        if (++operations_ > kMaxOperations) {
            Fail("hang: more than a million port and clock operations in one run");
        }
        if (clock_.Now() > kMaxVirtualMs) {
            Fail("hang: the run went on past ten minutes of virtual time");
        }
    }

private:
    CVirtualClock clock_;
    std::uint64_t operations_ = 0;
};

// One write or read the dialogue made on an open channel, as the charger's end saw it.
struct SEvent {
    bool write = false;
    bool ok = false;                 // write: it went through; read: it completed
    std::vector<std::uint8_t> bytes; // write: HID report data or serial bytes; read: what it got
    bool fresh = true; // read: everything it got arrived after the channel's latest write
};

// Input that has arrived and not been read, with the number of writes made on the channel when
// it arrived.
struct SArrived {
    std::vector<std::uint8_t> bytes; // one serial byte, or one HID report's data
    std::size_t afterWrites = 0;
};

// The charger's end of the cable, fed by the script.
class CScriptedLine {
public:
    CScriptedLine(const std::uint8_t* data, std::size_t size, CBoundedClock& clock, bool fixCrc)
        : data_(data), size_(size), clock_(clock), fixCrc_(fixCrc) {}

    bool Present() const { return clock_.Now() >= absentUntil_; }
    int OpenChannels() const { return openChannels_; }
    // Events of the latest channel, from its open on.
    const std::vector<SEvent>& Session() const { return session_; }
    // The session's event count at its latest discard that found input: an event from there on
    // came after input nobody asked for, which must have failed its try.
    std::optional<std::size_t> FoundDiscardAt() const { return foundDiscardAt_; }

    // Channel bookkeeping; returns the channel's generation.
    std::uint64_t Opened() {
        ++openChannels_;
        session_.clear();
        foundDiscardAt_.reset();
        pending_.clear(); // opening purges both directions
        writes_ = 0;
        return ++generation_;
    }
    void Closed() { --openChannels_; }

    bool Write(std::uint64_t generation, std::span<const std::uint8_t> bytes, bool hid) {
        clock_.Count();
        const bool ok = generation == generation_ && !dropped_ && !failNextWrite_;
        failNextWrite_ = false;
        session_.push_back({true, ok, {bytes.begin(), bytes.end()}});
        ++writes_;
        if (ok && !hid && bytes.size() > 1 && std::exchange(strayNext_, false)) {
            pending_.push_back({{kReplyAccepted}, writes_});
        }
        return ok;
    }

    bool Discard(std::uint64_t generation, bool hid) {
        clock_.Count();
        if (generation != generation_) {
            return false;
        }
        if (hid && std::exchange(strayNext_, false)) {
            pending_.push_back({{kReplyAccepted}, writes_});
        }
        const bool dropped = !pending_.empty();
        pending_.clear();
        if (dropped) {
            foundDiscardAt_ = session_.size();
        }
        return dropped;
    }

    EReadStatus ReadReport(std::uint64_t generation, std::span<std::uint8_t> report,
                           std::uint32_t timeoutMs) {
        std::fill(report.begin(), report.end(), 0);
        bool fresh = true;
        const EReadStatus status = [&] {
            if (generation != generation_ || dropped_) {
                return EReadStatus::Failed;
            }
            if (pending_.empty() && !Arrive(timeoutMs, true)) {
                return lastStatus_;
            }
            const SArrived data = pending_.front();
            pending_.pop_front();
            fresh = data.afterWrites == writes_;
            std::copy_n(data.bytes.begin(), std::min(data.bytes.size(), report.size() - 1),
                        report.begin() + 1);
            FixStartReply(report);
            return EReadStatus::Completed;
        }();
        Log(status, report.subspan(1), fresh);
        return status;
    }

    EReadStatus ReadSerial(std::uint64_t generation, std::span<std::uint8_t> data,
                           std::uint32_t timeoutMs) {
        bool fresh = true;
        const EReadStatus status = [&] {
            if (generation != generation_ || dropped_) {
                return EReadStatus::Failed;
            }
            while (pending_.size() < data.size()) {
                if (!Arrive(timeoutMs, false)) {
                    pending_.clear(); // a cancelled read loses what it had gathered
                    return lastStatus_;
                }
            }
            for (std::uint8_t& byte : data) {
                fresh = fresh && pending_.front().afterWrites == writes_;
                byte = pending_.front().bytes.at(0);
                pending_.pop_front();
            }
            return EReadStatus::Completed;
        }();
        Log(status, data, fresh);
        return status;
    }

private:
    std::optional<std::uint8_t> Take() {
        if (next_ >= size_) {
            return std::nullopt;
        }
        return data_[next_++];
    }

    // The next operation of the script for a read waiting `timeoutMs`: the bytes that arrive,
    // or nothing with lastStatus_ telling how the read ended.
    std::optional<std::vector<std::uint8_t>> NextArrival(std::uint32_t timeoutMs) {
        clock_.Count();
        for (;;) {
            const std::optional<std::uint8_t> op = Take();
            if (!op || *op == kOpTimeout) {
                clock_.Advance(timeoutMs);
                lastStatus_ = EReadStatus::TimedOut;
                return std::nullopt;
            }
            if (*op == kOpRefuse) {
                lastStatus_ = EReadStatus::Failed;
                return std::nullopt;
            }
            if (*op == kOpDisappear) {
                const std::uint64_t tenths = Take().value_or(0);
                absentUntil_ = clock_.Now() + (tenths + 1) * 100;
                dropped_ = true;
                lastStatus_ = EReadStatus::Failed;
                return std::nullopt;
            }
            if (*op == kOpFailNextWrite) {
                failNextWrite_ = true;
                continue;
            }
            if (*op == kOpRepeat) {
                repeatNext_ = true;
                continue;
            }
            if (*op == kOpStray) {
                strayNext_ = true;
                continue;
            }
            const std::size_t count = std::min<std::size_t>(*op % kOpDataModulus, size_ - next_);
            std::vector<std::uint8_t> bytes(data_ + next_, data_ + next_ + count);
            next_ += count;
            return bytes;
        }
    }

    // With the fix-up on, an accepted reply to a start frame gets the CRC word that makes it
    // check, so that the fuzzer reaches the key word and the blocks without solving a CRC.
    void FixStartReply(std::span<std::uint8_t> report) {
        if (!fixCrc_ || report[1] != kReplyAccepted || session_.empty() || !session_.back().write) {
            return;
        }
        const std::vector<std::uint8_t>& frame = session_.back().bytes;
        static constexpr std::array<std::uint8_t, 8> kTag = {'$', 'S', 'T', 'A', 'R', 'T', '$', 0};
        if (frame.size() < kStartFrameSize ||
            !std::equal(kTag.begin(), kTag.end(), frame.begin())) {
            return;
        }
        const std::array<std::uint32_t, 4> words = {ReadLe32(&frame[32]), ReadLe32(&report[1 + 4]),
                                                    ReadLe32(&report[1 + 8]),
                                                    ReadLe32(&report[1 + 12])};
        // The register after the first four words is the fifth word that brings it to zero.
        WriteLe32(&report[1 + 16], CrcWords(words));
    }

    // The script's next arrival joins the input waiting (twice after kOpRepeat): one report, or
    // serial bytes one by one. False, with lastStatus_ telling how the read ended, when nothing
    // arrives.
    bool Arrive(std::uint32_t timeoutMs, bool hid) {
        const std::optional<std::vector<std::uint8_t>> arrived = NextArrival(timeoutMs);
        if (!arrived) {
            return false;
        }
        const int copies = std::exchange(repeatNext_, false) ? 2 : 1;
        for (int copy = 0; copy < copies; ++copy) {
            if (hid) {
                pending_.push_back({*arrived, writes_});
                continue;
            }
            for (const std::uint8_t byte : *arrived) {
                pending_.push_back({{byte}, writes_});
            }
        }
        return true;
    }

    void Log(EReadStatus status, std::span<const std::uint8_t> got, bool fresh) {
        SEvent event{false, status == EReadStatus::Completed, {}, fresh};
        if (event.ok) {
            event.bytes.assign(got.begin(), got.end());
        }
        session_.push_back(std::move(event));
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t next_ = 0;
    CBoundedClock& clock_;
    bool fixCrc_;
    EReadStatus lastStatus_ = EReadStatus::TimedOut;
    std::deque<SArrived> pending_; // serial bytes or HID reports that arrived and were not read
    std::size_t writes_ = 0;       // writes on the current channel
    bool failNextWrite_ = false;
    bool repeatNext_ = false;
    bool strayNext_ = false;
    std::optional<std::size_t> foundDiscardAt_;
    bool dropped_ = false; // the charger left while the current channel was open
    std::uint64_t absentUntil_ = 0;
    std::uint64_t generation_ = 0;
    int openChannels_ = 0;
    std::vector<SEvent> session_;
};

class CScriptedChannel final : public IPortChannel {
public:
    CScriptedChannel(CScriptedLine& line, bool hid)
        : line_(line), hid_(hid), generation_(line.Opened()) {}
    ~CScriptedChannel() override { line_.Closed(); }
    CScriptedChannel(const CScriptedChannel&) = delete;
    CScriptedChannel& operator=(const CScriptedChannel&) = delete;

    bool Write(std::span<const std::uint8_t> data) override {
        if (hid_) {
            Require(data.size() == kHidReportSize && data[0] == 0, "a HID write is one report");
            data = data.subspan(1);
        }
        return line_.Write(generation_, data, hid_);
    }
    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        if (hid_) {
            Require(data.size() == kHidReportSize, "a HID read takes one report");
            return line_.ReadReport(generation_, data, timeoutMs);
        }
        return line_.ReadSerial(generation_, data, timeoutMs);
    }
    bool DiscardInput() override { return line_.Discard(generation_, hid_); }

private:
    CScriptedLine& line_;
    bool hid_;
    std::uint64_t generation_;
};

class CScriptedOpener final : public IPortOpener {
public:
    explicit CScriptedOpener(CScriptedLine& line) : line_(line) {}

    std::optional<std::string> SerialPathFor(const std::string& portName) override {
        return FormatComPortPath(portName);
    }
    std::unique_ptr<IPortChannel> OpenSerial(const std::string& /*path*/,
                                             std::uint32_t baud) override {
        Require(baud == 9600 || baud == 128000, "a serial port opens at 9600 or 128000 baud");
        return Open(false);
    }
    std::unique_ptr<IPortChannel> OpenHid(int position) override {
        Require(position == 0, "the HID dialogue opens the listed position");
        return Open(true);
    }

private:
    std::unique_ptr<IPortChannel> Open(bool hid) {
        Require(line_.OpenChannels() == 0, "one channel at a time");
        if (!line_.Present()) {
            return nullptr;
        }
        return std::make_unique<CScriptedChannel>(line_, hid);
    }
    CScriptedLine& line_;
};

// The update files, written once per process into a directory of its own.
class CFiles {
public:
    CFiles()
        : dir_(std::filesystem::temp_directory_path() /
               ("crenovix-fuzz-dialogue-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir_);
        for (std::size_t i = 0; i < DialogueFiles().size(); ++i) {
            files_.push_back(WriteDialogueFile(dir_, i));
        }
    }
    ~CFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    CFiles(const CFiles&) = delete;
    CFiles& operator=(const CFiles&) = delete;
    const SWrittenFile& At(std::size_t index) const { return files_.at(index); }

private:
    std::filesystem::path dir_;
    std::vector<SWrittenFile> files_;
};

const CFiles& Files() {
    static const CFiles files;
    return files;
}

std::array<std::uint8_t, kUpdateImageSize>& Image() {
    static std::array<std::uint8_t, kUpdateImageSize> image{};
    return image;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 4 ? ReadLe32(bytes.data()) : 0;
}

// Input nobody asked for fails the try it arrives in: a success may not follow it. `first` is
// the session's first event of the transfer that succeeded; a discard just before it belongs to
// the step before (the answer it followed counted as a wrong one).
void CheckNoUnaskedInput(const CScriptedLine& line, std::size_t first) {
    const std::optional<std::size_t> found = line.FoundDiscardAt();
    Require(!found || *found <= first, "success after input nobody asked for was found");
}

// A success in the HID dialogue: the session ends with the start frame answered with a reply
// that checks, the key word answered "&", and every block, with its right bytes, answered "&".
void CheckHidSuccess(const CScriptedLine& line, const std::vector<std::uint8_t>& payload,
                     const SDialogueFile& file) {
    const std::vector<SEvent>& session = line.Session();
    const std::size_t length = payload.size();
    const std::size_t blocks = (length + kHidBlockSize - 1) / kHidBlockSize;
    Require(session.size() >= 2 * (blocks + 2), "success without a whole HID transfer");
    const std::size_t first = session.size() - 2 * (blocks + 2);
    CheckNoUnaskedInput(line, first);
    for (std::size_t i = first; i < session.size(); i += 2) {
        Require(session[i].write && session[i].ok, "success after a failed HID write");
        Require(!session[i + 1].write && session[i + 1].ok, "success after a HID read failed");
        Require(session[i + 1].fresh, "success with a HID step answered by a reply that was "
                                      "waiting before it was sent");
        if (i != first) {
            Require(session[i + 1].bytes.at(0) == kReplyAccepted,
                    "success with a HID step unacknowledged");
        }
    }
    // The start frame and its reply.
    const std::vector<std::uint8_t>& start = session[first].bytes;
    const std::vector<std::uint8_t>& reply = session[first + 1].bytes;
    Require(start.size() >= kStartFrameSize && start[0] == '$', "success without a start frame");
    Require(reply.at(0) == kReplyAccepted, "success after a refused start frame");
    const std::uint32_t nonce = ReadLe32(&start[32]);
    std::array<std::uint32_t, 5> words{};
    for (std::size_t i = 0; i < words.size(); ++i) {
        words[i] = ReadLe32(&reply[4 * i]);
    }
    words[0] = nonce;
    Require(CrcWords(words) == 0, "success after a start reply whose CRC does not check");
    // The key word and the transfer key.
    const std::uint32_t keyWord = Le32(session[first + 2].bytes);
    Require(keyWord == (words[2] ^ nonce), "the key word is not the start reply's");
    std::array<std::uint8_t, 4> key{};
    WriteLe32(key.data(), keyWord + static_cast<std::uint32_t>(length));
    for (std::size_t k = 0; k < blocks; ++k) {
        const std::vector<std::uint8_t>& sent = session[first + 4 + 2 * k].bytes;
        Require(sent.size() == kHidBlockSize, "a HID block is one report");
        for (std::size_t i = 0; i < kHidBlockSize; ++i) {
            const std::size_t at = k * kHidBlockSize + i;
            std::uint8_t expected = at < length ? payload[at] : 0;
            if (file.payloadMode == 0) {
                expected ^= key[i % 4] ^ TransferMask[i % 16];
            }
            Require(sent[i] == expected, "a HID block carried the wrong bytes");
        }
    }
}

// A success in the serial dialogue: the session ends with the length frame and every frame
// answered "&", each sent with its check byte, after at most three "5" for the same frame.
void CheckSerialSuccess(const CScriptedLine& line, const std::vector<std::uint8_t>& payload) {
    const std::vector<SEvent>& session = line.Session();
    const std::size_t length = payload.size();
    std::vector<std::vector<std::uint8_t>> frames;
    frames.push_back({static_cast<std::uint8_t>(length >> 24),
                      static_cast<std::uint8_t>(length >> 16),
                      static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    for (std::size_t offset = 0; offset < length; offset += kSerialFrameSize) {
        std::vector<std::uint8_t> frame;
        for (std::size_t i = 0; i < kSerialFrameSize && offset + i < length; ++i) {
            frame.push_back(payload[offset + i] ^ TransferMask[i]);
        }
        frames.push_back(std::move(frame));
    }
    // Walk back from the end: each frame is one or more exchanges (data, check byte, answer),
    // the last answered "&", up to three before it answered "5".
    std::size_t end = session.size();
    auto exchangeOf = [&](const std::vector<std::uint8_t>& frame, std::uint8_t reply) {
        if (end < 3) {
            return false;
        }
        std::uint8_t check = 0;
        for (const std::uint8_t byte : frame) {
            check ^= byte;
        }
        const SEvent& sent = session[end - 3];
        const SEvent& sum = session[end - 2];
        const SEvent& answer = session[end - 1];
        // A stale answer belongs to an earlier frame: the charger never took this one.
        return sent.write && sent.ok && sent.bytes == frame && sum.write && sum.ok &&
               sum.bytes == std::vector<std::uint8_t>{check} && !answer.write && answer.ok &&
               answer.fresh && answer.bytes == std::vector<std::uint8_t>{reply};
    };
    for (std::size_t f = frames.size(); f-- > 0;) {
        Require(exchangeOf(frames[f], kReplyAccepted),
                "success with a serial frame unacknowledged, or sent with the wrong bytes");
        end -= 3;
        for (int refusals = 0; exchangeOf(frames[f], kReplyRefused); ++refusals) {
            Require(refusals < 3, "a serial frame sent more than four times");
            end -= 3;
        }
    }
    CheckNoUnaskedInput(line, end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const std::size_t fileIndex = data[1] % DialogueFiles().size();
    const SDialogueFile& file = DialogueFiles()[fileIndex];
    const SWrittenFile& written = Files().At(fileIndex);
    const bool serial = (flags & kFlagSerial) != 0;

    CBoundedClock clock;
    CScriptedLine line(data + 2, size - 2, clock, (flags & kFlagFixStartCrc) != 0);
    CScriptedOpener opener(line);
    SDeviceListState devices;
    if (!serial) {
        devices.rows[0] = {"Kavro Kelvorin K4", "SIM0001", "HID0", 0};
    } else if ((flags & kFlagPlainPort) != 0) {
        devices.rows[0] = {"COMx", "", "COM1", -1};
    } else {
        devices.rows[0] = {"Kavro Kelvorin K4", "SIM0001", "COM3", -1};
    }
    devices.nDeviceCount = 1;
    devices.bFileValid = true;
    const SDeviceEntry row = devices.rows[0];

    CFakeUpdateWindow window(devices);
    window.path = written.path;
    window.selection = (flags & kFlagNoSelection) != 0 ? 1 : 0;
    // Device changes: the charger leaves the list while it is away and comes back as it was.
    window.onDispatch = [&] {
        clock.Count();
        devices.nDeviceCount = line.Present() ? 1 : 0;
        devices.rows[0] = row;
    };
    CFixedNonces nonces({kNonce});
    SUpdateContext context{window, clock, opener, devices, nonces, Image()};

    if (serial) {
        RunSerialUpdate(context);
    } else {
        RunHidUpdate(context);
    }

    // The rules every ending keeps.
    const bool loads =
        written.payload && (!serial || file.variant == testsupport::EPackVariant::TripleDes);
    Require(window.boxes.size() <= 1, "more than one message box");
    if (loads || file.kind == EDialogueFile::Missing) {
        Require(window.boxes.size() == 1, "a run ended without its message");
    } else {
        Require(window.boxes.empty(), "a message for a file that did not load");
    }
    Require(line.OpenChannels() == 0, "the port is left open");
    const bool restored =
        std::find(window.events.begin(), window.events.end(), "restore") != window.events.end();
    Require(restored || file.kind == EDialogueFile::Empty, "RestoreControls did not run");
    Require(!window.statusShown && !window.progressShown && window.updateEnabled,
            "the status line, progress bar or Update button left as the run had them");
    for (const int position : window.progressPositions) {
        Require(position >= 0 && position <= window.progressUpper, "progress beyond its range");
    }

    static const bool trace = std::getenv("CRENOVIX_FUZZ_TRACE") != nullptr;
    if (trace) {
        const std::string text = window.boxes.empty() ? "(no message)" : window.boxes[0].text;
        std::fprintf(stderr, "%s file %zu, %llu ms: %s\n", serial ? "serial" : "HID", fileIndex,
                     static_cast<unsigned long long>(clock.Now()),
                     text.substr(0, text.find('\n')).c_str());
    }

    const bool success = !window.boxes.empty() && window.boxes[0].title == run_text::kSuccessTitle;
    const bool completionText =
        !window.boxes.empty() && window.boxes[0].text.starts_with(run_text::kUpgradeCompletion);
    Require(success == completionText,
            "\"Upgrade completion!\" under another title, or the reverse");
    if (success) {
        Require(loads, "success with a file that does not load");
        if (serial) {
            CheckSerialSuccess(line, *written.payload);
        } else {
            CheckHidSuccess(line, *written.payload, file);
        }
    }
    return 0;
}
