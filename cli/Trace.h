// Traces of update runs, for support: every report and byte each dialogue wrote or read, with
// its time and direction, as JSON Lines written the moment they happen (a crash or an interrupt
// keeps what was recorded). Each run starts with a line naming its charger and the seed of its
// start-frame challenges, so the same dialogue can be played again from the trace:
//   {"t_ms": 0, "port": "HID1", "dir": "start", "type": "Kelvorin K4", "serial": "SIM1001",
//    "nonce_seed": 1733600000}
//   {"t_ms": 12, "port": "HID1", "dir": "out", "hex": "00ac..."}
//   {"t_ms": 14, "port": "HID1", "dir": "in", "hex": "0026..."}
// "out" is one write as the port took it (a serial write's bytes, or a 65-byte HID report with
// its report ID first), "in" one read as the port gave it; "hex" is empty for a read that
// brought nothing (timed out or refused). "discard" marks input that was waiting and was dropped
// before a frame or after an answer (its bytes are not known, "hex" is empty); discards that
// dropped nothing are not recorded.
#pragma once

#include "app/PortDecorator.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::cli {

class CTraceFile {
public:
    // Nothing when the file cannot be created.
    static std::unique_ptr<CTraceFile> Create(const std::string& path);
    ~CTraceFile();
    CTraceFile(const CTraceFile&) = delete;
    CTraceFile& operator=(const CTraceFile&) = delete;

    void Start(const std::string& port, const std::string& type, const std::string& serial,
               std::uint32_t nonceSeed);
    void Record(const std::string& port, bool out, std::span<const std::uint8_t> bytes);
    void RecordDiscard(const std::string& port);
    // Flushes and closes the file: false when any line could not be written completely (a full
    // disk, /dev/full), so that an incomplete trace is never taken for the whole dialogue.
    bool Close();

private:
    explicit CTraceFile(std::FILE* file) : file_(file) {}
    void WriteLine(const std::string& line);
    std::int64_t Now() const;

    std::mutex mutex_;
    std::FILE* file_;
    bool failed_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// A run's ports, recorded into a trace under the run's port name.
class CRecordingPorts final : public CPortDecorator {
public:
    CRecordingPorts(IPortOpener& inner, CTraceFile& trace, std::string port)
        : CPortDecorator(inner), trace_(trace), port_(std::move(port)) {}

protected:
    std::unique_ptr<IPortChannel> Wrap(std::unique_ptr<IPortChannel> channel) override;

private:
    CTraceFile& trace_;
    std::string port_;
};

// One run read back from a trace: the first run it holds.
struct STraceEvent {
    bool out = false;
    bool discard = false; // waiting input was dropped here
    std::vector<std::uint8_t> bytes;
    int line = 0; // in the trace file, from 1
};
struct STraceRun {
    std::string port;
    std::string type;
    std::string serial;
    std::uint32_t nonceSeed = 0;
    std::vector<STraceEvent> events;
};

// Nothing, with `error` set, when the file cannot be read (only a regular file of at most
// kMaxTraceBytes is) or holds no run.
inline constexpr std::size_t kMaxTraceBytes = 64 * 1024 * 1024; // a whole 512 KiB file is ~10 MiB
std::optional<STraceRun> ReadTrace(const std::string& path, std::string& error);

std::string HexText(std::span<const std::uint8_t> bytes);

} // namespace crenovix::cli
