// The command line's stand-in for the main window: an update run reports its status texts and
// progress on standard error (redrawn in place on a terminal, plain lines otherwise) and the
// text of its final message box on standard output. It also serves as the device-list view, so
// RefreshDeviceList fills the same table the window would.
#pragma once

#include "cli/ConsoleListView.h"
#include "device/DeviceTable.h"
#include "protocol/UpdateWindow.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace crenovix::cli {

class CConsoleWindow final : public IUpdateWindow, public CConsoleListView {
public:
    CConsoleWindow(SDeviceListState& devices, std::ostream& out, std::ostream& err,
                   bool interactive)
        : devices_(devices), out_(out), err_(err), interactive_(interactive) {}

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

    // IUpdateWindow
    std::string GetPathText() override { return path; }
    int GetCurrentSelection() override { return selection; }
    void SetDeviceListEnabled(bool) override {}
    void SetUpdateEnabled(bool enabled) override { CConsoleListView::SetUpdateEnabled(enabled); }
    void SetStatusText(const std::string& text) override;
    void ShowStatus(bool) override {}
    void SetProgressRange(std::uint16_t upper) override;
    void SetProgressPos(int position) override;
    void ShowProgress(bool shown) override;
    void MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) override;
    void ResetFileInfo(const std::string& errorText) override;
    void RestoreControls() override;
    bool DispatchPendingMessages() override;

private:
    void EndProgressLine();

    SDeviceListState& devices_;
    std::ostream& out_;
    std::ostream& err_;
    bool interactive_;
    bool progressShown_ = false;
    bool progressLineOpen_ = false;
    std::uint16_t progressUpper_ = 0;
    int lastPercent_ = -1;
};

} // namespace crenovix::cli
