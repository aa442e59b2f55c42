// A top-level window standing in for the dialogs that host the link and the list: it passes its
// children's colour requests and commands through ReflectToChild first, as the dialogs do, and
// records the list's item-changed notifications.
//
// Windows need an X display under wine, shared by the whole wine session (the wine server's
// desktop process included); without one no window can be created and the tests say so.
#pragma once

#include "gui/win32/CHyperLink.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

namespace crenovix::win32 {

struct SItemChange {
    int row = -1;
    UINT newState = 0;
};

// How a child was told to paint its text: its colour request as the DC stood after the answer.
struct SColourAnswer {
    HWND control = nullptr;
    COLORREF textColour = 0;
    int backgroundMode = 0;
    LRESULT brush = 0;
};

class CControlTestWindow {
public:
    CControlTestWindow() {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&classes);
        static const ATOM windowClass = [] {
            WNDCLASSA description{};
            description.lpfnWndProc = WindowProc;
            description.hInstance = GetModuleHandleA(nullptr);
            description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            description.lpszClassName = "CrenovixControlTestWindow";
            return RegisterClassA(&description);
        }();
        // A popup: no window manager looks after it, so under a bare X server wine need not wait
        // for one when the window closes.
        hwnd_ = CreateWindowExA(0, MAKEINTATOM(windowClass), "Controls", WS_POPUP | WS_BORDER, 0, 0,
                                640, 400, nullptr, nullptr, GetModuleHandleA(nullptr), this);
        if (hwnd_ == nullptr) {
            createError_ = GetLastError();
            return;
        }
        ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    }
    ~CControlTestWindow() {
        if (hwnd_ != nullptr) {
            DestroyWindow(hwnd_);
        }
    }
    CControlTestWindow(const CControlTestWindow&) = delete;
    CControlTestWindow& operator=(const CControlTestWindow&) = delete;

    // False, with the reason, when the wine session has no display to create windows on.
    ::testing::AssertionResult Created() const {
        if (hwnd_ != nullptr) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "no window could be created (error " << createError_
               << "): the wine session, its server included, must run under an X display "
                  "(for instance xvfb-run -a ctest ...)";
    }

    HWND Handle() const { return hwnd_; }

    // A child control with the dialogs' font, as a dialog gives its controls.
    HWND AddChild(const char* className, const char* text, DWORD style, int id, RECT place) {
        const HWND child = CreateWindowExA(
            0, className, text, WS_CHILD | WS_VISIBLE | style, place.left, place.top,
            place.right - place.left, place.bottom - place.top, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
        if (child != nullptr) {
            SendMessageA(child, WM_SETFONT,
                         reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        }
        return child;
    }

    // Dispatches whatever is queued for this thread, posted messages included.
    static void DispatchQueued() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }

    std::vector<SItemChange> itemChanges;
    std::vector<SColourAnswer> colourAnswers;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
        }
        auto* self =
            reinterpret_cast<CControlTestWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        INT_PTR result = 0;
        if (ReflectToChild(message, wParam, lParam, result)) {
            if (message == WM_CTLCOLORSTATIC && self != nullptr) {
                const auto dc = reinterpret_cast<HDC>(wParam);
                self->colourAnswers.push_back({reinterpret_cast<HWND>(lParam), GetTextColor(dc),
                                               GetBkMode(dc), static_cast<LRESULT>(result)});
            }
            return result;
        }
        if (message == WM_NOTIFY && self != nullptr) {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == LVN_ITEMCHANGED) {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                self->itemChanges.push_back({change->iItem, change->uNewState});
            }
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    HWND hwnd_ = nullptr;
    DWORD createError_ = 0;
};

} // namespace crenovix::win32
