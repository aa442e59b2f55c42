// Traces of update runs, for support: every report and byte each dialogue wrote or read, with
// its time and direction, as JSON Lines written the moment they happen (a crash or an interrupt
// keeps what was recorded). Each run starts with a line naming its charger and the seed of its
// start-frame challenges, so the same dialogue can be played again from the trace
// (`crenovix-cli replay`):
//   {"t_ms": 0, "port": "HID1", "dir": "start", "type": "Kelvorin K4", "serial": "SIM1001",
//    "nonce_seed": 1733600000}
//   {"t_ms": 12, "port": "HID1", "dir": "out", "hex": "00ac..."}
//   {"t_ms": 14, "port": "HID1", "dir": "in", "hex": "0026..."}
// "out" is one write as the port took it (a serial write's bytes, or a 65-byte HID report with
// its report ID first), "in" one read as the port gave it; "hex" is empty for a read that
// brought nothing (timed out or refused). "discard" marks input that was waiting and was dropped
// before a frame or after an answer (its bytes are not known, "hex" is empty); discards that
// dropped nothing are not recorded.
//
// The command line writes a trace to a file as it goes (--record, CTraceFile); the windows keep
// the last run's in memory (CTraceBuffer) for "Save diagnostic...". Times come from the clock
// the trace is given, counted from its making.
#pragma once

#include "base/Clock.h"
#include "protocol/PortDecorator.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace crenovix {

// A trace's lines, whatever keeps them; safe to record from several runs' threads at once.
class CTrace {
public:
    explicit CTrace(IClock& clock) : clock_(clock), start_(clock.TickCount()) {}
    virtual ~CTrace() = default;
    CTrace(const CTrace&) = delete;
    CTrace& operator=(const CTrace&) = delete;

    void Start(const std::string& port, const std::string& type, const std::string& serial,
               std::uint32_t nonceSeed);
    void Record(const std::string& port, bool out, std::span<const std::uint8_t> bytes);
    void RecordDiscard(const std::string& port);

protected:
    // Keeps one line (without its line end); called under LineMutex().
    virtual void KeepLine(const std::string& line) = 0;
    std::mutex& LineMutex() { return mutex_; }

private:
    void WriteLine(const std::string& line);
    std::int64_t Now();

    std::mutex mutex_;
    IClock& clock_;
    std::uint32_t start_;
};

// A trace written to a file line by line, each flushed at once.
class CTraceFile final : public CTrace {
public:
    // Nothing when the file cannot be created.
    static std::unique_ptr<CTraceFile> Create(const std::string& path, IClock& clock);
    ~CTraceFile() override;

    // Flushes and closes the file: false when any line could not be written completely (a full
    // disk, /dev/full), so that an incomplete trace is never taken for the whole dialogue.
    bool Close();

private:
    CTraceFile(std::FILE* file, IClock& clock) : CTrace(clock), file_(file) {}
    void KeepLine(const std::string& line) override;

    std::FILE* file_;
    bool failed_ = false;
};

// A trace kept in memory, for a window that saves it only when asked.
class CTraceBuffer final : public CTrace {
public:
    using CTrace::CTrace;
    // The lines so far, each ended with "\n": what a trace file of the same runs holds.
    std::string Text();

private:
    void KeepLine(const std::string& line) override { text_ += line + "\n"; }

    std::string text_;
};

// A run's ports, recorded into a trace under the run's port name.
class CRecordingPorts final : public CPortDecorator {
public:
    CRecordingPorts(IPortOpener& inner, CTrace& trace, std::string port)
        : CPortDecorator(inner), trace_(trace), port_(std::move(port)) {}

protected:
    std::unique_ptr<IPortChannel> Wrap(std::unique_ptr<IPortChannel> channel) override;

private:
    CTrace& trace_;
    std::string port_;
};

std::string HexText(std::span<const std::uint8_t> bytes);

} // namespace crenovix
