#include "protocol/Trace.h"

#include "text/Json.h"

namespace crenovix {

namespace {

class CRecordingChannel final : public IPortChannel {
public:
    CRecordingChannel(std::unique_ptr<IPortChannel> inner, CTrace& trace, const std::string& port)
        : inner_(std::move(inner)), trace_(trace), port_(port) {}

    bool Write(std::span<const std::uint8_t> data) override {
        const bool written = inner_->Write(data);
        if (written) {
            trace_.Record(port_, true, data);
        }
        return written;
    }
    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        const EReadStatus status = inner_->Read(data, timeoutMs);
        trace_.Record(port_, false,
                      status == EReadStatus::Completed ? data : std::span<std::uint8_t>());
        return status;
    }
    // Only a discard that dropped input is recorded: it steers the dialogue (an answer followed
    // by more input is a wrong answer), so a replay has to give the same result at that point.
    bool DiscardInput() override {
        const bool dropped = inner_->DiscardInput();
        if (dropped) {
            trace_.RecordDiscard(port_);
        }
        return dropped;
    }

private:
    std::unique_ptr<IPortChannel> inner_;
    CTrace& trace_;
    std::string port_;
};

} // namespace

std::string HexText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::int64_t CTrace::Now() {
    return static_cast<std::uint32_t>(clock_.TickCount() - start_);
}

void CTrace::WriteLine(const std::string& line) {
    const std::lock_guard lock(mutex_);
    KeepLine(line);
}

void CTrace::Start(const std::string& port, const std::string& type, const std::string& serial,
                   std::uint32_t nonceSeed) {
    WriteLine(CJsonObject()
                  .Add("t_ms", Now())
                  .Add("port", port)
                  .Add("dir", "start")
                  .Add("type", type)
                  .Add("serial", serial)
                  .Add("nonce_seed", std::int64_t{nonceSeed})
                  .Text());
}

void CTrace::Record(const std::string& port, bool out, std::span<const std::uint8_t> bytes) {
    WriteLine(CJsonObject()
                  .Add("t_ms", Now())
                  .Add("port", port)
                  .Add("dir", out ? "out" : "in")
                  .Add("hex", HexText(bytes))
                  .Text());
}

void CTrace::RecordDiscard(const std::string& port) {
    WriteLine(CJsonObject()
                  .Add("t_ms", Now())
                  .Add("port", port)
                  .Add("dir", "discard")
                  .Add("hex", "")
                  .Text());
}

std::unique_ptr<CTraceFile> CTraceFile::Create(const std::string& path, IClock& clock) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<CTraceFile>(new CTraceFile(file, clock));
}

CTraceFile::~CTraceFile() {
    Close();
}

bool CTraceFile::Close() {
    const std::lock_guard lock(LineMutex());
    if (file_ != nullptr) {
        failed_ = std::fclose(file_) != 0 || failed_;
        file_ = nullptr;
    }
    return !failed_;
}

void CTraceFile::KeepLine(const std::string& line) {
    if (file_ == nullptr) {
        failed_ = true;
        return;
    }
    // What was recorded survives a crash: every line is flushed at once.
    if (std::fputs(line.c_str(), file_) < 0 || std::fputc('\n', file_) == EOF ||
        std::fflush(file_) != 0) {
        failed_ = true;
    }
}

std::string CTraceBuffer::Text() {
    const std::lock_guard lock(LineMutex());
    return text_;
}

std::unique_ptr<IPortChannel> CRecordingPorts::Wrap(std::unique_ptr<IPortChannel> channel) {
    return std::make_unique<CRecordingChannel>(std::move(channel), trace_, port_);
}

} // namespace crenovix
