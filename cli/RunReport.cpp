#include "cli/RunReport.h"

#include "text/Json.h"
#include "text/PrintableText.h"

#include <algorithm>
#include <cstdio>

namespace crenovix::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Lines longer than the terminal wrap and spoil the redraw; most terminals are wider.
constexpr std::size_t kTerminalLineWidth = 79;
constexpr int kBarWidth = 30;

std::string WithoutTrailingBreaks(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::string ProgressLine(int percent, int position, double seconds, int upper) {
    const int filled = percent * kBarWidth / 100;
    std::string line = "[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    line += "] ";
    char numbers[96];
    if (seconds > 0.05 && position > 0) {
        const double rate = position / seconds;
        const double left = (upper - position) / rate;
        std::snprintf(numbers, sizeof numbers, "%3d%%  %.1f blocks/s  %.0f s left", percent, rate,
                      left);
    } else {
        std::snprintf(numbers, sizeof numbers, "%3d%%", percent);
    }
    return line + numbers;
}

} // namespace

SRunRecord RunRecordOf(const crenovix::SRunResult& result, std::uint32_t elapsedMs) {
    SRunRecord record;
    record.ok = result.outcome == ERunOutcome::Success;
    record.code = result.Code();
    record.message = RunMessageOf(result);
    record.elapsedMs = elapsedMs;
    return record;
}

int CRunReporter::AddRun(SRunLabel label) {
    const std::lock_guard lock(mutex_);
    runs_.push_back({std::move(label), "", {}, 0, -1, {}});
    return static_cast<int>(runs_.size()) - 1;
}

std::string CRunReporter::Prefix(const SRun& run) const {
    return Several() || form_ == EForm::Terminal ? Printable(run.label.port) + ": " : "";
}

void CRunReporter::EmitLocked(SRun& run, const std::string& text, bool toOut, bool box) {
    const std::string prefix = Prefix(run);
    if (form_ == EForm::Terminal) {
        run.line = prefix + Printable(text);
        RedrawLocked(false);
        return;
    }
    // Only a box's own line breaks are meant; a status text quotes paths and device texts.
    std::ostream& stream = toOut && form_ == EForm::Lines ? out_ : err_;
    stream << prefix << (box ? PrintableLines(text, prefix) : Printable(text)) << "\n"
           << std::flush;
}

void CRunReporter::RedrawLocked(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawnLines_ != 0 && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    lastDraw_ = now;
    if (drawnLines_ != 0) {
        err_ << "\x1b[" << drawnLines_ << "A"; // back to the first line of the runs
    }
    for (const SRun& run : runs_) {
        err_ << "\r\x1b[2K" << run.line.substr(0, kTerminalLineWidth) << "\n";
    }
    drawnLines_ = runs_.size();
    err_ << std::flush;
}

void CRunReporter::Status(int run, const std::string& text) {
    const std::lock_guard lock(mutex_);
    EmitLocked(runs_.at(static_cast<std::size_t>(run)), text, false, false);
}

void CRunReporter::ProgressRange(int run, int upper) {
    const std::lock_guard lock(mutex_);
    SRun& state = runs_.at(static_cast<std::size_t>(run));
    state.upper = upper;
    state.lastPercent = -1;
    state.progressStart = std::chrono::steady_clock::now();
}

void CRunReporter::Progress(int run, int position) {
    const std::lock_guard lock(mutex_);
    SRun& state = runs_.at(static_cast<std::size_t>(run));
    const int upper = std::max(state.upper, 1);
    const int percent = std::clamp(position * 100 / upper, 0, 100);
    if (form_ == EForm::Terminal) {
        const std::chrono::duration<double> seconds =
            std::chrono::steady_clock::now() - state.progressStart;
        state.line = Prefix(state) + ProgressLine(percent, position, seconds.count(), upper);
        RedrawLocked(false);
        return;
    }
    if (percent == state.lastPercent) {
        return;
    }
    const int lastTens = state.lastPercent < 0 ? -1 : state.lastPercent / 10;
    state.lastPercent = percent;
    if (form_ == EForm::Json) {
        out_ << CJsonObject()
                    .Add("event", "progress")
                    .Add("port", state.label.port)
                    .Add("serial", state.label.serial)
                    .Add("percent", std::int64_t{percent})
                    .Text()
             << "\n"
             << std::flush;
    }
    if (percent / 10 != lastTens) { // a log needs no line per percent
        err_ << Prefix(state) << "Progress: " << percent / 10 * 10 << "%\n" << std::flush;
    }
}

void CRunReporter::ProgressEnd(int run) {
    const std::lock_guard lock(mutex_);
    runs_.at(static_cast<std::size_t>(run)).lastPercent = -1;
}

void CRunReporter::Box(int run, const std::string& text) {
    const std::lock_guard lock(mutex_);
    SRun& state = runs_.at(static_cast<std::size_t>(run));
    const std::string shown = WithoutTrailingBreaks(text);
    if (form_ == EForm::Terminal) {
        state.boxes.push_back(shown);
    }
    EmitLocked(state, shown, true, true);
}

void CRunReporter::Line(int run, const std::string& text, bool toOut) {
    const std::lock_guard lock(mutex_);
    SRun& state = runs_.at(static_cast<std::size_t>(run));
    if (form_ == EForm::Terminal && toOut) {
        state.boxes.push_back(text);
    }
    EmitLocked(state, text, toOut, false);
}

void CRunReporter::Note(const std::string& text) {
    const std::lock_guard lock(mutex_);
    if (form_ == EForm::Terminal && drawnLines_ != 0) {
        RedrawLocked(true);
    }
    err_ << PrintableLines(text, "") << "\n" << std::flush;
    drawnLines_ = 0; // the note moved the cursor below the runs' lines
}

void CRunReporter::Result(int run, const SRunRecord& result) {
    const std::lock_guard lock(mutex_);
    const SRun& state = runs_.at(static_cast<std::size_t>(run));
    if (form_ != EForm::Json) {
        return;
    }
    out_ << CJsonObject()
                .Add("event", "result")
                .Add("port", state.label.port)
                .Add("serial", state.label.serial)
                .Add("type", state.label.type)
                .Add("ok", result.ok)
                .Add("code", std::int64_t{result.code})
                .Add("message", result.message)
                .Add("elapsed_ms", std::int64_t{result.elapsedMs})
                .Add("file_sha256", fileSha256_)
                .Text()
         << "\n"
         << std::flush;
}

void CRunReporter::Finish(int ok, int failed) {
    const std::lock_guard lock(mutex_);
    if (form_ == EForm::Terminal) {
        RedrawLocked(true);
        for (const SRun& run : runs_) {
            for (const std::string& box : run.boxes) {
                const std::string prefix = Several() ? Printable(run.label.port) + ": " : "";
                out_ << prefix << PrintableLines(box, prefix) << "\n";
            }
        }
    }
    if (form_ == EForm::Json) {
        out_ << CJsonObject()
                    .Add("event", "summary")
                    .Add("ok", std::int64_t{ok})
                    .Add("failed", std::int64_t{failed})
                    .Text()
             << "\n";
    } else if (Several()) {
        out_ << "Summary: " << ok << " updated, " << failed << " failed\n";
    }
    out_ << std::flush;
}

void CReportingObserver::End(const crenovix::SRunResult& result) {
    if (result.bBox) {
        reporter_.Box(run_, result.boxText);
    }
    progressShown_ = false;
    reporter_.ProgressEnd(run_);
}

void CReportingObserver::SetProgressPos(int position) {
    if (progressShown_) {
        reporter_.Progress(run_, position);
    }
}

void CReportingObserver::ShowProgress(bool shown) {
    progressShown_ = shown;
    if (!shown) {
        reporter_.ProgressEnd(run_);
    }
}

void CReportingObserver::ResetFileInfo(const std::string& errorText) {
    if (!errorText.empty()) {
        // The window shows these in its error line; a console has only its streams.
        reporter_.Status(run_, errorText);
    }
}

bool CReportingObserver::DispatchPendingMessages() {
    if (onDispatch_) {
        onDispatch_();
    }
    return true;
}

} // namespace crenovix::cli
