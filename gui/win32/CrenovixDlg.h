// CrenovixDlg: the main window on Windows, a dialog built from the main window's table
// (app/DialogTemplate.cpp). It carries out what CMainWindowLogic asks of the view through the
// controls' ids and forwards the controls' notifications to it: path edits (EN_CHANGE of 1002, not
// for the program's own texts), Open, the serial-ports box, Update, Download, device changes
// (WM_DEVICECHANGE), and the close guard for Exit, Escape and the close box. An update run goes on
// a worker thread; its events come back to the window's thread as kRunEvents.
//
// The window registers for arrivals and removals of HID and COM-port interfaces, so those reach
// it besides the node changes the system sends every window. Simulated chargers send nothing:
// `devicesChangedPoll`, when set, is asked every 100 ms instead.
//
// Message boxes and the file dialog go through replaceable functions, so tests never block on a
// modal box. Texts are the system's ANSI code page, as in the update files and the catalogue.
#pragma once

// The views' headers before windows.h, whose MessageBox macro would rename their member.
#include "app/MainWindowLogic.h"
#include "app/MainWindowView.h"

#include "gui/win32/CHyperLink.h"
#include "gui/win32/DialogWindow.h"

#include <windows.h>
// The views' MessageBox is a member name; windows.h makes it MessageBoxA. The Win32 calls in
// this front end name MessageBoxA themselves.
#undef MessageBox

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::win32 {

// The application's name: the executable's file name without its extension. Names the
// single-instance lock.
std::string ProgramName();

// Posted by a window's background job when its answer waits (see online/Background.h).
inline constexpr UINT kBackgroundAnswer = WM_APP + 1;
// "Save diagnostic..." in the window's system menu (the fixed layout has no place for a button);
// a system-menu command's low four bits are the system's.
inline constexpr UINT kSaveDiagnosticCommand = 0x0010;
// "Station view..." beside it.
inline constexpr UINT kStationViewCommand = 0x0020;
// "Keep update log" and "Update log file..." below them.
inline constexpr UINT kKeepUpdateLogCommand = 0x0030;
inline constexpr UINT kUpdateLogFileCommand = 0x0040;

class CrenovixDlg final : public CDialogWindow, public IMainWindowView {
public:
    // `shell` opens the release link's target; it must outlive the window.
    CrenovixDlg(SDeviceListState& devices, SMainWindowServices services, IShell& shell);
    ~CrenovixDlg() override;

    // DoModal runs the window until it is closed; its initialisation (device list, version
    // check) runs before it is first shown. Create makes it for tests that drive it with
    // messages; closing it destroys it.
    CMainWindowLogic& Logic() { return logic_; }
    CHyperLink& ReleaseLink() { return releaseLink_; }

    // Asked every 100 ms while the window is open when set: true means devices came or went.
    std::function<bool()> devicesChangedPoll;
    // Called after a device change refilled the list, never during a run.
    std::function<void()> afterDeviceChange;

    // Replace these to answer message boxes and the file dialog without a person.
    std::function<void(const std::string& text, const std::string& title, EMessageIcon icon)>
        messageBoxHandler;
    std::function<std::optional<std::string>()> fileDialogHandler;
    // The system menu's "Station view..." command (refused during a run): runs the station
    // window over this one.
    std::function<void()> openStationWindow;
    std::function<std::optional<std::string>()> diagnosticDialogHandler;
    std::function<std::optional<std::string>(const std::string& current)> logFileDialogHandler;

    // IMainWindowView.
    void ListClear() override;
    void ListInsert(int index, const std::string& text) override;
    void ListSelect(int index) override;
    int ListSelection() override;
    void SetProgressRange(int upper) override;
    void SetProgressPos(int position) override;
    void SetLinkTarget(const std::string& url) override;
    void MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) override;
    void ShowNotice(const std::string& text, const std::string& title) override;
    std::optional<std::string> ChooseUpdateFile() override;
    std::optional<std::string> ChooseDiagnosticFile() override;
    std::optional<std::string> ChooseUpdateLogFile(const std::string& current) override;
    void RunInBackground(BackgroundWork work) override;
    void PostToWindow(std::function<void()> call) override;
    void CloseNotice() override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    void OnDeviceChange(std::optional<EDeviceChange> change); // nothing: no device changed
    void RequestClose();
    // A second start asked for this window (kShowInstanceMessage): restored when minimised, and
    // it or the box it has open comes to the front.
    void BringToFront();
    void OnDestroy();

    CMainWindowLogic logic_;
    CHyperLink releaseLink_;
    bool inDeviceChange_ = false;    // a refresh is under way (it may show a box)
    bool deviceChangeAgain_ = false; // another change came meanwhile
    // The station window is open over this one: device changes are its own (its runs make
    // them), and nothing here enumerates or opens chargers meanwhile.
    bool stationOpen_ = false;
    std::vector<HDEVNOTIFY> notifications_;
    // The version check; its answer comes back as kBackgroundAnswer. Stopped when the window is
    // destroyed.
    CBackgroundJob background_{[this] { PostMessageA(hwnd_, kBackgroundAnswer, 0, 0); }};
};

} // namespace crenovix::win32
