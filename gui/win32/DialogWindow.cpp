#include "gui/win32/DialogWindow.h"

#include "gui/win32/CHyperLink.h"
#include "gui/win32/resource.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <utility>

namespace crenovix::win32 {

namespace {

HINSTANCE Instance() {
    return GetModuleHandleA(nullptr);
}

HICON LoadAppIcon(int sizeMetricX, int sizeMetricY) {
    return static_cast<HICON>(LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                         GetSystemMetrics(sizeMetricX),
                                         GetSystemMetrics(sizeMetricY), 0));
}

// The first bitmap static among the window's children: the side picture, which has no id.
HWND FindPicture(HWND window) {
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        std::array<char, 16> className{};
        GetClassNameA(child, className.data(), static_cast<int>(className.size()));
        if (lstrcmpiA(className.data(), "Static") == 0 &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
            return child;
        }
    }
    return nullptr;
}

// The notice up on this thread, and whether its filter is handling a message now.
thread_local HWND t_notice = nullptr;
thread_local bool t_inNoticeKeys = false;

// The notice is a modeless dialog beside its window, and the loop that serves the window (the
// dialog manager's modal loop, or a pump) passes keyboard messages only to that window's
// IsDialogMessage. That call asks the thread's message filters first: this one hands the notice
// its Enter, Esc and Tab. IsDialogMessage asks the filters again, hence the guard.
LRESULT CALLBACK NoticeKeys(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && t_notice != nullptr && !t_inNoticeKeys) {
        t_inNoticeKeys = true;
        const BOOL handled = IsDialogMessageA(t_notice, reinterpret_cast<MSG*>(lParam));
        t_inNoticeKeys = false;
        if (handled) {
            return TRUE;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

CDialogWindow::~CDialogWindow() {
    // The controls that showed them are gone now.
    if (sidePicture_ != nullptr) {
        DeleteObject(sidePicture_);
    }
    if (bigIcon_ != nullptr) {
        DestroyIcon(bigIcon_);
    }
    if (smallIcon_ != nullptr) {
        DestroyIcon(smallIcon_);
    }
}

INT_PTR CDialogWindow::DoModal(HWND owner) {
    modal_ = true;
    const std::vector<WORD> dialogTemplate = BuildDialogTemplate(dialog_);
    return DialogBoxIndirectParamA(Instance(), AsTemplate(dialogTemplate), owner, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
}

HWND CDialogWindow::Create(HWND owner) {
    modal_ = false;
    const std::vector<WORD> dialogTemplate = BuildDialogTemplate(dialog_);
    return CreateDialogIndirectParamA(Instance(), AsTemplate(dialogTemplate), owner, DialogProc,
                                      reinterpret_cast<LPARAM>(this));
}

HWND CDialogWindow::Control(int id) const {
    return hwnd_ == nullptr ? nullptr : GetDlgItem(hwnd_, id);
}

void CDialogWindow::SetVisible(int id, bool visible) {
    if (const HWND control = Control(id)) {
        ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
    }
}

void CDialogWindow::SetEnabled(int id, bool enabled) {
    const HWND control = Control(id);
    if (control == nullptr) {
        return;
    }
    if (!enabled && GetFocus() == control) {
        SendMessageA(hwnd_, WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(control, enabled);
}

void CDialogWindow::SetText(int id, const std::string& text) {
    const bool wasSetting = std::exchange(settingText_, true);
    SetDlgItemTextA(hwnd_, id, text.c_str());
    settingText_ = wasSetting;
}

std::string CDialogWindow::GetText(int id) {
    return WindowText(Control(id));
}

bool CDialogWindow::IsChecked(int id) {
    return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

void CDialogWindow::SetChecked(int id, bool checked) {
    CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

std::optional<std::string> RunFileDialog(OPENFILENAMEA dialog, const std::string& suggested,
                                         bool save) {
    // Enough for any path the file dialog can give back.
    constexpr DWORD kPathBufferChars = 32768;
    std::string path(kPathBufferChars, '\0');
    if (suggested.size() < kPathBufferChars) { // a longer one (a settings file's) starts empty
        std::copy(suggested.begin(), suggested.end(), path.begin());
    }
    const auto run = [&] {
        dialog.lStructSize = sizeof(dialog);
        dialog.lpstrFile = path.data();
        dialog.nMaxFile = kPathBufferChars;
        return (save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog)) != FALSE;
    };
    if (!run()) {
        // A name the system does not take as a file name ("a/b", "x:y") would keep the dialog
        // from opening at all: it opens without a name then.
        if (CommDlgExtendedError() != FNERR_INVALIDFILENAME || path.front() == '\0') {
            return std::nullopt; // cancelled
        }
        path.assign(kPathBufferChars, '\0');
        if (!run()) {
            return std::nullopt;
        }
    }
    path.resize(path.find('\0'));
    return path;
}

std::optional<std::string> AskForFile(HWND owner, const char* filter, const char* extension,
                                      const char* title, const std::string& suggested, bool save,
                                      bool askReplace) {
    OPENFILENAMEA dialog{};
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.lpstrDefExt = extension;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY |
                   (save ? OFN_PATHMUSTEXIST | (askReplace ? OFN_OVERWRITEPROMPT : 0) : 0);
    return RunFileDialog(dialog, suggested, save);
}

std::optional<std::string> ChooseUpdateFileName(HWND owner) {
    return AskForFile(owner, "Kelvorin Update File(*.bin)\0*.bin\0", "bin", nullptr, "", false);
}

void CDialogWindow::ShowIconsAndPicture(ESidePicture picture) {
    bigIcon_ = LoadAppIcon(SM_CXICON, SM_CYICON);
    smallIcon_ = LoadAppIcon(SM_CXSMICON, SM_CYSMICON);
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    sidePicture_ = ShowSidePicture(FindPicture(hwnd_), picture);
}

void CDialogWindow::PostToWindowThread(std::function<void()> call) {
    calls_.Post(std::move(call));
}

void CDialogWindow::ShowNoticeWindow(const std::string& text, const std::string& title) {
    MessageBeep(MB_OK);
    if (notice_ == nullptr) {
        const std::vector<WORD> noticeTemplate = BuildDialogTemplate(EDialog::Notice);
        notice_ = CreateDialogIndirectParamA(Instance(), AsTemplate(noticeTemplate), hwnd_,
                                             NoticeProc, reinterpret_cast<LPARAM>(this));
        if (notice_ == nullptr) {
            return; // what goes on goes on; the refusal itself stands
        }
        t_notice = notice_;
        noticeKeys_ = SetWindowsHookExA(WH_MSGFILTER, NoticeKeys, nullptr, GetCurrentThreadId());
    }
    SetWindowTextA(notice_, title.c_str());
    SetDlgItemTextA(notice_, notice_ctl::kText, text.c_str());
    ShowWindow(notice_, SW_SHOW);
    SetForegroundWindow(notice_);
}

void CDialogWindow::CloseNoticeWindow() {
    if (notice_ != nullptr) {
        DestroyWindow(notice_);
    }
}

INT_PTR CALLBACK CDialogWindow::NoticeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    auto* owner = reinterpret_cast<CDialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        DestroyWindow(hwnd);
        return TRUE;
    }
    if (message == WM_DESTROY && owner != nullptr) {
        owner->notice_ = nullptr;
        if (owner->noticeKeys_ != nullptr) {
            UnhookWindowsHookEx(owner->noticeKeys_);
            owner->noticeKeys_ = nullptr;
        }
        if (t_notice == hwnd) {
            t_notice = nullptr;
        }
    }
    return FALSE;
}

void CDialogWindow::EndWindow(INT_PTR result) {
    if (hwnd_ == nullptr) {
        return;
    }
    if (modal_) {
        EndDialog(hwnd_, result);
    } else {
        DestroyWindow(hwnd_);
    }
}

void CDialogWindow::DestroyModeless() {
    if (hwnd_ != nullptr && !modal_) {
        DestroyWindow(hwnd_);
    }
}

INT_PTR CALLBACK CDialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        reinterpret_cast<CDialogWindow*>(lParam)->hwnd_ = hwnd;
        reinterpret_cast<CDialogWindow*>(lParam)->callTarget_ = hwnd;
    }
    auto* self = reinterpret_cast<CDialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    if (message == kRunEvents) {
        self->calls_.Deliver();
        return TRUE;
    }
    if (message == WM_DESTROY) {
        self->callTarget_ = nullptr; // what is posted from now on waits unannounced
    }
    INT_PTR result = 0;
    if (ReflectToChild(message, wParam, lParam, result)) {
        return result;
    }
    const INT_PTR handled = self->OnMessage(message, wParam, lParam);
    if (message == WM_DESTROY) {
        self->CloseNoticeWindow();
        self->hwnd_ = nullptr;
    }
    return handled;
}

} // namespace crenovix::win32
