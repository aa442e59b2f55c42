#include "cli/ConsoleWindow.h"

#include "protocol/UpdateRun.h"

namespace crenovix::cli {

bool CConsoleWindow::Succeeded() const {
    return !boxes.empty() && boxes.back().title == run_text::kSuccessTitle &&
           boxes.back().text.starts_with(run_text::kUpgradeCompletion);
}

void CConsoleWindow::ShowProgress(bool shown) {
    progressShown_ = shown;
    if (!shown) {
        reporter_.ProgressEnd(run_);
    }
}

void CConsoleWindow::SetProgressPos(int position) {
    if (progressShown_) {
        reporter_.Progress(run_, position);
    }
}

void CConsoleWindow::MessageBox(const std::string& text, const std::string& title, EMessageIcon) {
    boxes.push_back({text, title});
    reporter_.Box(run_, text);
}

void CConsoleWindow::ResetFileInfo(const std::string& errorText) {
    devices_.bFileValid = false;
    updateEnabled = false;
    errorLine_ = errorText;
    if (!errorText.empty()) {
        // The window shows these in its error line; a console has only its streams.
        reporter_.Status(run_, errorText);
    }
}

void CConsoleWindow::RestoreControls() {
    progressShown_ = false;
    reporter_.ProgressEnd(run_);
    updateEnabled = true;
}

bool CConsoleWindow::DispatchPendingMessages() {
    if (onDispatch) {
        onDispatch();
    }
    return true;
}

} // namespace crenovix::cli
