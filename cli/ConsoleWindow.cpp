#include "cli/ConsoleWindow.h"

#include "cli/PrintableText.h"
#include "protocol/UpdateRun.h"

#include <algorithm>
#include <string>

namespace crenovix::cli {

bool CConsoleWindow::Succeeded() const {
    return !boxes.empty() && boxes.back().title == run_text::kSuccessTitle &&
           boxes.back().text.starts_with(run_text::kUpgradeCompletion);
}

void CConsoleWindow::EndProgressLine() {
    if (progressLineOpen_) {
        err_ << "\n";
        progressLineOpen_ = false;
    }
}

void CConsoleWindow::SetStatusText(const std::string& text) {
    EndProgressLine();
    err_ << Printable(text) << "\n" << std::flush;
}

void CConsoleWindow::SetProgressRange(std::uint16_t upper) {
    progressUpper_ = upper;
    lastPercent_ = -1;
}

void CConsoleWindow::ShowProgress(bool shown) {
    progressShown_ = shown;
    if (!shown) {
        EndProgressLine();
    }
}

void CConsoleWindow::SetProgressPos(int position) {
    if (!progressShown_) {
        return;
    }
    const int upper = std::max<int>(progressUpper_, 1);
    int percent = std::clamp(position * 100 / upper, 0, 100);
    if (!interactive_) {
        percent -= percent % 10; // a log needs no line per percent
    }
    if (percent == lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    if (interactive_) {
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << percent
             << "%" << std::flush;
        progressLineOpen_ = true;
    } else {
        err_ << "Progress: " << percent << "%\n";
    }
}

void CConsoleWindow::MessageBox(const std::string& text, const std::string& title, EMessageIcon) {
    EndProgressLine();
    boxes.push_back({text, title});
    // Boxes hold the program's texts, whose line breaks are meant.
    out_ << PrintableLines(text, "");
    if (!text.ends_with('\n')) {
        out_ << "\n";
    }
    out_ << std::flush;
}

void CConsoleWindow::ResetFileInfo(const std::string& errorText) {
    EndProgressLine();
    devices_.bFileValid = false;
    updateEnabled = false;
    if (!errorText.empty()) {
        // The window shows these in its error line; a console has only its streams.
        err_ << Printable(errorText) << "\n";
    }
}

void CConsoleWindow::RestoreControls() {
    EndProgressLine();
    progressShown_ = false;
    updateEnabled = true;
}

bool CConsoleWindow::DispatchPendingMessages() {
    if (onDispatch) {
        onDispatch();
    }
    return true;
}

} // namespace crenovix::cli
