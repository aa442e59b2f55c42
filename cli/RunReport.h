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

#include <chrono>
#include <cstdint>
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

struct SRunResult {
    bool ok = false;
    int code = -1; // 0 success; the dialogue's error number where it has one; -1 otherwise
    std::string message;
    std::uint32_t elapsedMs = 0;
};

// The result code of a run that ended with `boxText` (its last box, "" for none), `ok` or not:
// 0 for success, the number a box begins with ("1008: Error communication.\n"), else -1.
int ResultCode(bool ok, const std::string& boxText);

class CRunReporter {
public:
    enum class EForm { Terminal, Lines, Json };

    CRunReporter(std::ostream& out, std::ostream& err, EForm form, std::string fileSha256)
        : out_(out), err_(err), form_(form), fileSha256_(std::move(fileSha256)) {}

    // Before the runs start. Returns the run's index.
    int AddRun(SRunLabel label);

    void Status(int run, const std::string& text);
    void ProgressRange(int run, int upper);
    void Progress(int run, int position);
    void ProgressEnd(int run);
    void Box(int run, const std::string& text);
    // A line for people about one run: standard output when `toOut` (and not --json), else
    // standard error.
    void Line(int run, const std::string& text, bool toOut = false);
    // A line for people about all runs, on standard error.
    void Note(const std::string& text);
    void Result(int run, const SRunResult& result);
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
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace crenovix::cli
