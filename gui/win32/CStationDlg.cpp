#include "gui/win32/CStationDlg.h"

#include "app/DialogTemplate.h"
#include "gui/win32/DeviceChangeMessage.h"
#include "platform/ProgramServices.h"

#include <commctrl.h>

#include <utility>

namespace crenovix::win32 {

namespace st = station_ctl;

namespace {
constexpr UINT_PTR kDevicePollTimer = 1;
constexpr UINT_PTR kTickTimer = 2;
// How often the rows' times move on while runs go on.
constexpr UINT kTickMs = 500;
} // namespace

CStationDlg::CStationDlg(SStationServices services, std::string path)
    : CDialogWindow(EDialog::Station), path_(std::move(path)), logic_(*this, std::move(services)) {}

CStationDlg::~CStationDlg() {
    DestroyModeless();
}

INT_PTR CStationDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        if (logic_.OnCloseRequested()) {
            EndWindow(IDCANCEL);
        }
        return TRUE;
    case WM_DEVICECHANGE:
        if (const auto change = DeviceChangeFromMessage(wParam)) {
            logic_.OnDeviceChange(*change);
        }
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_TIMER:
        if (wParam == kDevicePollTimer && devicesChangedPoll && devicesChangedPoll()) {
            logic_.OnDeviceChange(EDeviceChange::NodesChanged);
        } else if (wParam == kTickTimer) {
            logic_.OnTimer();
        }
        return TRUE;
    case WM_QUERYENDSESSION: {
        // Logging off while chargers are written would leave them without firmware; the
        // refusal is said as a closing's is.
        const bool busy = logic_.Station().Busy();
        if (busy) {
            logic_.OnCloseRequested();
        }
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, busy ? FALSE : TRUE);
        return TRUE;
    }
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CStationDlg::OnInitDialog() {
    ShowIconsAndPicture(ESidePicture::Main);
    list_.Attach(Control(st::kUnits));
    notifications_ = RegisterForChargerChanges(hwnd_);
    if (devicesChangedPoll) {
        SetTimer(hwnd_, kDevicePollTimer, kDemoPollMs, nullptr);
    }
    SetTimer(hwnd_, kTickTimer, kTickMs, nullptr);
    const HWND list = Control(st::kUnits);
    logic_.OnInitDialog(
        [list](int units) {
            RECT rect{0, 0, units, 0};
            MapDialogRect(GetParent(list), &rect);
            return static_cast<int>(rect.right);
        },
        path_);
    return TRUE;
}

void CStationDlg::OnDestroy() {
    KillTimer(hwnd_, kDevicePollTimer);
    KillTimer(hwnd_, kTickTimer);
    UnregisterChargerChanges(notifications_);
    hwnd_ = nullptr;
}

void CStationDlg::OnCommand(int id, int code) {
    switch (id) {
    case st::kUpdateAll:
        // Enter reaches here too; only a button that can be pressed starts runs.
        if (code == BN_CLICKED && IsWindowEnabled(Control(st::kUpdateAll))) {
            logic_.OnUpdateAllClicked();
        }
        break;
    case st::kClose: // Close, Escape
        if (logic_.OnCloseRequested()) {
            EndWindow(IDCANCEL);
        }
        break;
    case st::kOpen:
        if (code == BN_CLICKED) {
            logic_.OnOpenClicked();
        }
        break;
    case st::kAutomatic:
        if (code == BN_CLICKED) {
            logic_.OnAutomaticClicked();
        }
        break;
    case st::kPath:
        if (code == EN_CHANGE && !settingText_) {
            logic_.OnPathEdited();
        }
        break;
    default:
        break;
    }
}

void CStationDlg::SetRowProgress(int row, int /*position*/, int /*upper*/,
                                 const std::string& percent) {
    list_.SetItemText(row, kColProgress, percent);
}

std::optional<std::string> CStationDlg::ChooseUpdateFile() {
    if (fileDialogHandler) {
        return fileDialogHandler();
    }
    return ChooseUpdateFileName(hwnd_);
}

void CStationDlg::PostToWindow(std::function<void()> call) {
    PostToWindowThread(std::move(call));
}

void CStationDlg::ShowNotice(const std::string& text, const std::string& title) {
    ShowNoticeWindow(text, title);
}

void CStationDlg::CloseNotice() {
    CloseNoticeWindow();
}

} // namespace crenovix::win32
