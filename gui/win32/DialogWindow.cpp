#include "gui/win32/DialogWindow.h"

#include "gui/win32/CHyperLink.h"
#include "gui/win32/resource.h"

#include <array>

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

void CDialogWindow::ShowIconsAndPicture(ESidePicture picture) {
    bigIcon_ = LoadAppIcon(SM_CXICON, SM_CYICON);
    smallIcon_ = LoadAppIcon(SM_CXSMICON, SM_CYSMICON);
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    sidePicture_ = ShowSidePicture(FindPicture(hwnd_), picture);
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
    }
    auto* self = reinterpret_cast<CDialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    INT_PTR result = 0;
    if (ReflectToChild(message, wParam, lParam, result)) {
        return result;
    }
    const INT_PTR handled = self->OnMessage(message, wParam, lParam);
    if (message == WM_DESTROY) {
        self->hwnd_ = nullptr;
    }
    return handled;
}

} // namespace crenovix::win32
