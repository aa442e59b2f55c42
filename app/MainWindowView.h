// What the main window's logic needs of a window toolkit: controls addressed by their dialog ids,
// the device list box, the progress bar, message boxes, the file dialog and the event pump.
//
// The Qt window and the native Windows window implement it, each from the same dialog
// template. Every decision (which label shows, when Update is enabled, what a run
// disables) stays in CMainWindowLogic, which tests drive through a fake view.
#pragma once

#include "app/DialogControls.h"
#include "online/Background.h"
#include "protocol/UpdateWindow.h"

#include <cstdint>
#include <optional>
#include <string>

namespace crenovix {

// Control ids of the main window (its template: MainWindowTemplate()).
namespace ctl {
inline constexpr int kUpdate = 1;
inline constexpr int kExit = 2;
inline constexpr int kPath = 1002;
inline constexpr int kOpen = 1003;
inline constexpr int kDeviceList = 1004;
inline constexpr int kProgress = 1005;
inline constexpr int kComPorts = 1006;
inline constexpr int kVersionText = 1008;
inline constexpr int kTypeText = 1009;
inline constexpr int kMemoText = 1010;
inline constexpr int kErrorLine = 1011;
inline constexpr int kMemoLabel = 1012;
inline constexpr int kVersionLabel = 1013;
inline constexpr int kTypeLabel = 1014;
inline constexpr int kStatus = 1015;
inline constexpr int kDownload = 1016;
inline constexpr int kReleaseLink = 1023;
inline constexpr int kHiddenCheck = 1025;
inline constexpr int kCodeField = 1026;
} // namespace ctl

class IMainWindowView : public virtual IDialogControls {
public:
    // The device list box (control 1004).
    virtual void ListClear() = 0;
    virtual void ListInsert(int index, const std::string& text) = 0;
    virtual void ListSelect(int index) = 0;
    virtual int ListSelection() = 0; // -1: none

    // The progress bar (control 1005).
    virtual void SetProgressRange(int upper) = 0;
    virtual void SetProgressPos(int position) = 0;

    // The release link (control 1023).
    virtual void SetLinkTarget(const std::string& url) = 0;

    virtual void MessageBox(const std::string& text, const std::string& title,
                            EMessageIcon icon) = 0;
    // A box that does not hold up the caller: it returns at once and the box stays up, beside a
    // window that goes on, until the user closes it. A second notice replaces the first. For
    // what must be said during a run, whose own event pump a modal box would stop.
    virtual void ShowNotice(const std::string& text, const std::string& title) = 0;
    // The file-open dialog for update files; nothing when the user cancels.
    virtual std::optional<std::string> ChooseUpdateFile() = 0;
    // The save dialog for a diagnostic (a trace); asks before replacing a file; nothing when the
    // user cancels.
    virtual std::optional<std::string> ChooseDiagnosticFile() = 0;
    // The save dialog for the update log's place, starting at `current`; an existing file is
    // appended to, not replaced, so it asks nothing about one. Nothing when the user cancels.
    virtual std::optional<std::string> ChooseUpdateLogFile(const std::string& current) = 0;

    // Runs `work` off the window's thread and what it answers on the window's thread, unless the
    // window has closed by then (closing cancels the work, waits for it, bounded by
    // kCancelPollMs, and drops its answer).
    virtual void RunInBackground(BackgroundWork work) = 0;
    // Hands `call` to the window's thread, where it runs soon, after the calls posted before it.
    // Safe from any thread: an update run on its worker thread reports through it.
    virtual void PostToWindow(std::function<void()> call) = 0;
    // Takes down the notice ShowNotice put up, if it is still there.
    virtual void CloseNotice() = 0;
};

} // namespace crenovix
