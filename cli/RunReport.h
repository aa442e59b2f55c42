// What the update runs tell people and scripts, for one charger or many at once.
//
// Each run reports through its own index; the reporter serialises the runs' output and decides
// its form:
//  - people on a terminal (standard output and standard error both terminals, no --json): one
//    line per charger on standard error, redrawn in place (status, or bar, percent, blocks per
//    second and time left); the message boxes' texts on standard output once the runs are done;
//  - otherwise plain lines: status texts and progress in tens of percent on standard error, the
//    boxes' texts on standard output as they come; with several runs every line starts with the
//    run's port name;
//  - --json: standard output holds only JSON Lines (progress, result and summary events); the
//    texts for people all go to standard error as plain lines.
#pragma once

#include "protocol/UpdateLog.h"
#include "protocol/UpdateRun.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace crenovix::cli {

struct SRunLabel {
    std::string port;
    std::string serial;
    std::string type;
};

// Said after a simulated charger's success when it stored exactly the file's payload.
inline constexpr const char* kVerifiedText = "Verified: payload matches";

// What a run's JSON result record says.
struct SRunRecord {
    bool ok = false;
    int code = -1; // 0 success; the HID dialogue's error number (1001 to 1009); -1 otherwise
    std::string message;
    std::uint32_t elapsedMs = 0;
};

// The record of the engine's result: ok only for a success; the message is the box's text, else
// the error line's ("The file is big!"), "The file is empty." for a run that ended quietly on an
// empty file.
SRunRecord RunRecordOf(const crenovix::SRunResult& result, std::uint32_t elapsedMs);

class CRunReporter {
public:
    enum class EForm { Terminal, Lines, Json };

    CRunReporter(std::ostream& out, std::ostream& err, EForm form, std::string fileSha256)
        : out_(out), err_(err), form_(form), fileSha256_(std::move(fileSha256)) {}

    // Before the run starts. Returns the run's index.
    int AddRun(SRunLabel label);
    // Runs will come one after another (--watch): lines name their run's port from the first
    // run on, and a summary ends the output.
    void ExpectSeveralRuns() { several_ = true; }

    void Status(int run, const std::string& text);
    void ProgressRange(int run, int upper);
    void Progress(int run, int position);
    void ProgressEnd(int run);
    void Box(int run, const std::string& text);
    // A line for people about one run: standard output when `toOut` (and not --json), else
    // standard error.
    void Line(int run, const std::string& text, bool toOut = false);
    // A line for people about all runs, on standard error. Made printable here: pass texts as
    // they came, or they are escaped twice.
    void Note(const std::string& text);
    void Result(int run, const SRunRecord& record);
    // After the last run: the terminal's final lines, the boxes' texts, the summary (for several
    // runs, or --json).
    void Finish(int ok, int failed);

private:
    struct SRun {
        SRunLabel label;
        std::string line; // the terminal's line for the run
        std::vector<std::string> boxes;
        int upper = 0;
        int lastPercent = -1;
        std::chrono::steady_clock::time_point progressStart{};
    };

    bool Several() const { return runs_.size() > 1 || several_; }
    std::string Prefix(const SRun& run) const;
    void EmitLocked(SRun& run, const std::string& text, bool toOut, bool box);
    void RedrawLocked(bool force);

    std::mutex mutex_;
    std::ostream& out_;
    std::ostream& err_;
    EForm form_;
    std::string fileSha256_;
    std::vector<SRun> runs_;
    std::size_t drawnLines_ = 0;
    bool several_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// A run's events as the reporter shows them, under the run's index. `onDispatch` runs between
// blocks and while the run waits: where the command line learns of interrupts and device changes.
class CReportingObserver final : public IRunObserver {
public:
    CReportingObserver(CRunReporter& reporter, int run, std::function<void()> onDispatch = {})
        : reporter_(reporter), run_(run), onDispatch_(std::move(onDispatch)) {}

    // The run's ending as the window shows it: the box's text (the error line's went out with
    // ResetFileInfo), and the progress ended.
    void End(const crenovix::SRunResult& result);

    void SetUpdateEnabled(bool) override {}
    void SetStatusText(const std::string& text) override { reporter_.Status(run_, text); }
    void ShowStatus(bool) override {}
    void SetProgressRange(std::uint16_t upper) override { reporter_.ProgressRange(run_, upper); }
    void SetProgressPos(int position) override;
    void ShowProgress(bool shown) override;
    void ResetFileInfo(const std::string& errorText) override;
    bool DispatchPendingMessages() override;

private:
    CRunReporter& reporter_;
    int run_;
    std::function<void()> onDispatch_;
    bool progressShown_ = false;
};

} // namespace crenovix::cli
