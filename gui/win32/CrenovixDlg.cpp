#include "gui/win32/CrenovixDlg.h"

#include "app/DialogTemplate.h"
#include "app/StartUp.h"
#include "gui/win32/Artwork.h"
#include "gui/win32/DeviceChangeMessage.h"
#include "gui/win32/resource.h"
#include "platform/ProgramServices.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include <algorithm>
#include <array>
#include <utility>

namespace crenovix::win32 {

namespace {
constexpr UINT_PTR kDevicePollTimer = 1;
} // namespace

std::string ProgramName() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return "crenovix";
        }
        if (length < path.size()) {
            path.resize(length);
            return ApplicationName(path);
        }
        path.resize(path.size() * 2); // truncated: a longer path than MAX_PATH
    }
}

CrenovixDlg::CrenovixDlg(SDeviceListState& devices, SMainWindowServices services, IShell& shell)
    : CDialogWindow(EDialog::Main), logic_(*this, devices, std::move(services)),
      releaseLink_(shell) {}

CrenovixDlg::~CrenovixDlg() {
    DestroyModeless();
}

INT_PTR CrenovixDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    static const UINT showInstance = RegisterWindowMessageA(kShowInstanceMessage);
    if (message == showInstance && showInstance != 0) {
        BringToFront();
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kStationViewCommand) {
            stationOpen_ = true;
            logic_.OnStationClicked(openStationWindow);
            stationOpen_ = false;
            return TRUE;
        }
        if ((wParam & 0xFFF0) == kKeepUpdateLogCommand) {
            logic_.OnKeepUpdateLogClicked();
            return TRUE;
        }
        if ((wParam & 0xFFF0) == kUpdateLogFileCommand) {
            logic_.OnUpdateLogFileClicked();
            return TRUE;
        }
        if ((wParam & 0xFFF0) != kSaveDiagnosticCommand) {
            return FALSE; // the system's own commands
        }
        logic_.OnSaveDiagnosticClicked();
        return TRUE;
    case WM_INITMENUPOPUP:
        if (HIWORD(lParam) != 0) { // the system menu: the entry is usable once a run has ended
            EnableMenuItem(reinterpret_cast<HMENU>(wParam), kSaveDiagnosticCommand,
                           MF_BYCOMMAND | (logic_.HasDiagnostic() ? MF_ENABLED : MF_GRAYED));
            EnableMenuItem(reinterpret_cast<HMENU>(wParam), kStationViewCommand,
                           MF_BYCOMMAND | (logic_.IsRunning() ? MF_GRAYED : MF_ENABLED));
            const UINT logEntries =
                MF_BYCOMMAND | (logic_.CanChangeUpdateLog() ? MF_ENABLED : MF_GRAYED);
            EnableMenuItem(reinterpret_cast<HMENU>(wParam), kKeepUpdateLogCommand, logEntries);
            EnableMenuItem(reinterpret_cast<HMENU>(wParam), kUpdateLogFileCommand, logEntries);
            CheckMenuItem(reinterpret_cast<HMENU>(wParam), kKeepUpdateLogCommand,
                          MF_BYCOMMAND | (logic_.KeepsUpdateLog() ? MF_CHECKED : MF_UNCHECKED));
        }
        return FALSE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        RequestClose();
        return TRUE;
    case WM_DEVICECHANGE:
        OnDeviceChange(DeviceChangeFromMessage(wParam));
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, TRUE); // always answered as handled
        return TRUE;
    case WM_TIMER:
        if (wParam == kDevicePollTimer && devicesChangedPoll && devicesChangedPoll()) {
            OnDeviceChange(EDeviceChange::NodesChanged);
        }
        return TRUE;
    case WM_QUERYENDSESSION:
        // Logging off in the middle of a run would leave the charger without firmware; the
        // refusal is said as a closing's is, without stopping the run.
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, logic_.IsRunning() ? FALSE : TRUE);
        if (logic_.IsRunning()) {
            logic_.OnCloseRequested();
        }
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case kBackgroundAnswer:
        background_.Deliver();
        return TRUE;
    default:
        return FALSE;
    }
}

void CrenovixDlg::RunInBackground(BackgroundWork work) {
    background_.Start(std::move(work));
}

BOOL CrenovixDlg::OnInitDialog() {
    ShowIconsAndPicture(ESidePicture::Main);
    SetWindowTextA(hwnd_, kWindowTitle);
    SetPropA(hwnd_, kInstanceWindowProperty, hwnd_); // a second start finds it by this
    releaseLink_.Attach(Control(ctl::kReleaseLink));
    notifications_ = RegisterForChargerChanges(hwnd_);
    if (const HMENU system = GetSystemMenu(hwnd_, FALSE)) {
        AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(system, MF_STRING, kSaveDiagnosticCommand, "Save &diagnostic...");
        AppendMenuA(system, MF_STRING, kStationViewCommand, "&Station view...");
        AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(system, MF_STRING, kKeepUpdateLogCommand, "Keep update &log");
        AppendMenuA(system, MF_STRING, kUpdateLogFileCommand, "Update log &file...");
    }
    if (devicesChangedPoll) {
        SetTimer(hwnd_, kDevicePollTimer, kDemoPollMs, nullptr);
    }
    logic_.OnInitDialog();
    return TRUE; // the focus goes to the first control
}

void CrenovixDlg::OnDestroy() {
    RemovePropA(hwnd_, kInstanceWindowProperty);
    background_.Stop();
    KillTimer(hwnd_, kDevicePollTimer);
    UnregisterChargerChanges(notifications_);
    hwnd_ = nullptr;
}

void CrenovixDlg::OnCommand(int id, int code) {
    switch (id) {
    case ctl::kUpdate:
        // Enter reaches here too; only a button that can be pressed starts a run.
        if (code == BN_CLICKED && IsWindowEnabled(Control(ctl::kUpdate))) {
            logic_.OnUpdateClicked();
        }
        break;
    case ctl::kExit: // Exit, Escape
        RequestClose();
        break;
    case ctl::kOpen:
        if (code == BN_CLICKED) {
            logic_.OnOpenClicked();
        }
        break;
    case ctl::kComPorts:
        if (code == BN_CLICKED) {
            logic_.OnComPortsClicked();
        }
        break;
    case ctl::kDownload:
        if (code == BN_CLICKED) {
            logic_.OnDownloadClicked();
        }
        break;
    case ctl::kPath:
        if (code == EN_CHANGE && !settingText_) {
            logic_.OnPathEdited();
        }
        break;
    default:
        break;
    }
}

// A refresh can show an enumeration error box, whose modal loop lets the next notification in:
// that one is remembered and handled once the box is closed, instead of stacking boxes.
void CrenovixDlg::OnDeviceChange(std::optional<EDeviceChange> change) {
    if (stationOpen_) {
        return; // the station's runs cause them; the list is refilled when it closes
    }
    if (inDeviceChange_) {
        deviceChangeAgain_ = deviceChangeAgain_ || change.has_value();
        return;
    }
    inDeviceChange_ = true;
    if (change) {
        logic_.OnDeviceChange(*change);
    }
    while (std::exchange(deviceChangeAgain_, false)) {
        logic_.OnDeviceChange(EDeviceChange::NodesChanged);
    }
    inDeviceChange_ = false;
    if (afterDeviceChange && !logic_.IsRunning()) {
        afterDeviceChange();
    }
}

void CrenovixDlg::RequestClose() {
    if (hwnd_ == nullptr || !logic_.OnCloseRequested()) {
        return;
    }
    EndWindow(IDCANCEL);
}

void CrenovixDlg::BringToFront() {
    if (IsIconic(hwnd_)) {
        ShowWindow(hwnd_, SW_RESTORE);
    }
    SetForegroundWindow(GetLastActivePopup(hwnd_));
}

void CrenovixDlg::ListClear() {
    SendDlgItemMessageA(hwnd_, ctl::kDeviceList, LB_RESETCONTENT, 0, 0);
}

void CrenovixDlg::ListInsert(int index, const std::string& text) {
    SendDlgItemMessageA(hwnd_, ctl::kDeviceList, LB_INSERTSTRING, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text.c_str()));
}

void CrenovixDlg::ListSelect(int index) {
    SendDlgItemMessageA(hwnd_, ctl::kDeviceList, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int CrenovixDlg::ListSelection() {
    const LRESULT selection = SendDlgItemMessageA(hwnd_, ctl::kDeviceList, LB_GETCURSEL, 0, 0);
    return selection == LB_ERR ? -1 : static_cast<int>(selection);
}

void CrenovixDlg::SetProgressRange(int upper) {
    // A block count of 16 bits: it fits the message's unsigned 16-bit bounds.
    SendDlgItemMessageA(hwnd_, ctl::kProgress, PBM_SETRANGE, 0,
                        MAKELPARAM(0, static_cast<WORD>(upper)));
}

void CrenovixDlg::SetProgressPos(int position) {
    SendDlgItemMessageA(hwnd_, ctl::kProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CrenovixDlg::SetLinkTarget(const std::string& url) {
    // Every user of the link sets the target and then drops the underline; the logic shows it.
    releaseLink_.SetTarget(url);
    releaseLink_.DropUnderline();
}

void CrenovixDlg::MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) {
    if (messageBoxHandler) {
        messageBoxHandler(text, title, icon);
        return;
    }
    MessageBoxA(hwnd_, text.c_str(), title.c_str(),
                MB_OK | (icon == EMessageIcon::Error ? MB_ICONERROR : 0));
}

void CrenovixDlg::ShowNotice(const std::string& text, const std::string& title) {
    ShowNoticeWindow(text, title);
}

void CrenovixDlg::PostToWindow(std::function<void()> call) {
    PostToWindowThread(std::move(call));
}

void CrenovixDlg::CloseNotice() {
    CloseNoticeWindow();
}

std::optional<std::string> CrenovixDlg::ChooseUpdateFile() {
    if (fileDialogHandler) {
        return fileDialogHandler();
    }
    return ChooseUpdateFileName(hwnd_);
}

std::optional<std::string> CrenovixDlg::ChooseDiagnosticFile() {
    if (diagnosticDialogHandler) {
        return diagnosticDialogHandler();
    }
    return AskForFile(hwnd_, "Diagnostic trace(*.trace)\0*.trace\0", "trace", "Save diagnostic",
                      "crenovix-diagnostic.trace", true);
}

std::optional<std::string> CrenovixDlg::ChooseUpdateLogFile(const std::string& current) {
    if (logFileDialogHandler) {
        return logFileDialogHandler(current);
    }
    // Records are appended to a file chosen, never replaced: nothing to ask about one.
    return AskForFile(hwnd_, "Update log(*.jsonl)\0*.jsonl\0", "jsonl", "Update log file", current,
                      true, false);
}

} // namespace crenovix::win32
