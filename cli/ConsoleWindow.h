// The command line's stand-in for the main window, one per update run: the run's status texts,
// progress and message boxes go to the reporter under the run's index (see RunReport.h). It also
// serves as the run's device-list view, so RefreshDeviceList fills the same table the window
// would.
#pragma once

#include "cli/ConsoleListView.h"
#include "cli/RunReport.h"
#include "device/DeviceTable.h"
#include "protocol/UpdateWindow.h"

#include <functional>
#include <string>
#include <vector>

namespace crenovix::cli {

class CConsoleWindow final : public IUpdateWindow, public CConsoleListView {
public:
    CConsoleWindow(SDeviceListState& devices, CRunReporter& reporter, int run)
        : devices_(devices), reporter_(reporter), run_(run) {}

    std::string path;
    // Runs inside DispatchPendingMessages: where the program learns of device changes.
    std::function<void()> onDispatch;

    // The message boxes of the run, in order.
    struct SBox {
        std::string text;
        std::string title;
    };
    std::vector<SBox> boxes;
    bool Succeeded() const;
    // What the window would show last: the last box's text, else the text of its error line (a
    // file the dialogue could not load: "The file is big!", "File format error!"), else "".
    std::string EndText() const { return boxes.empty() ? errorLine_ : boxes.back().text; }

    // IUpdateWindow
    std::string GetPathText() override { return path; }
    int GetCurrentSelection() override { return selection; }
    void SetDeviceListEnabled(bool) override {}
    void SetUpdateEnabled(bool enabled) override { CConsoleListView::SetUpdateEnabled(enabled); }
    void SetStatusText(const std::string& text) override { reporter_.Status(run_, text); }
    void ShowStatus(bool) override {}
    void SetProgressRange(std::uint16_t upper) override { reporter_.ProgressRange(run_, upper); }
    void SetProgressPos(int position) override;
    void ShowProgress(bool shown) override;
    void MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) override;
    void ResetFileInfo(const std::string& errorText) override;
    void RestoreControls() override;
    bool DispatchPendingMessages() override;

private:
    SDeviceListState& devices_;
    CRunReporter& reporter_;
    int run_;
    bool progressShown_ = false;
    std::string errorLine_;
};

} // namespace crenovix::cli
