#include "gui/win32/CHyperLink.h"

#include "app/StartUp.h"

#include <commctrl.h>
#include <windowsx.h>

#include <array>

namespace crenovix::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT_PTR kToolId = 1;
// The hand cursor of the help viewer in the Windows directory.
constexpr WORD kHelpViewerHandCursor = 106;

// The static control's alignment as the fit rules' style bits. The alignment is a type field,
// not a set of flags: only SS_CENTER and SS_RIGHT mean a centred or right-aligned text.
std::uint32_t FitStyle(LONG_PTR style) {
    std::uint32_t fit = 0;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        fit |= kSsCenter;
        break;
    case SS_RIGHT:
        fit |= kSsRight;
        break;
    default:
        break;
    }
    if ((style & SS_CENTERIMAGE) != 0) {
        fit |= kSsCenterImage;
    }
    return fit;
}

// The tool record of the control's one tool. The size leaves out the newest field, so that the
// record is accepted by every version of the common controls, not only the newest.
TTTOOLINFOA ToolFor(HWND control, const std::string& text) {
    TTTOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = control;
    tool.uId = kToolId;
    tool.lpszText = const_cast<char*>(text.c_str());
    return tool;
}

HCURSOR LoadHandCursorCopy() {
    std::array<char, MAX_PATH> directory{};
    const UINT length = GetWindowsDirectoryA(directory.data(), MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::string path = std::string(directory.data(), length) + "\\winhlp32.exe";
        // Only its resources are wanted: mapped as data, none of its code is prepared or run,
        // and a viewer built for another processor type still serves its cursor.
        if (const HMODULE viewer =
                LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
            HCURSOR copy = nullptr;
            if (const HCURSOR hand = LoadCursorA(viewer, MAKEINTRESOURCEA(kHelpViewerHandCursor))) {
                copy = CopyCursor(hand);
            }
            FreeLibrary(viewer);
            if (copy != nullptr) {
                return copy;
            }
        }
    }
    // No help viewer or no cursor in it: the system's own hand.
    if (const HCURSOR hand = LoadCursorA(nullptr, IDC_HAND)) {
        return CopyCursor(hand);
    }
    return nullptr;
}

void RedrawNow(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

bool IsMouseMessage(UINT message) {
    return message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP ||
           message == WM_RBUTTONDOWN || message == WM_RBUTTONUP || message == WM_MBUTTONDOWN ||
           message == WM_MBUTTONUP;
}

} // namespace

std::string WindowText(HWND window) {
    const int length = window == nullptr ? 0 : GetWindowTextLengthA(window);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (message != WM_CTLCOLORSTATIC && message != WM_COMMAND) {
        return false;
    }
    // Menus and accelerators send WM_COMMAND without a control; only controls get it back.
    const HWND child = reinterpret_cast<HWND>(lParam);
    if (child == nullptr || !IsWindow(child) ||
        (GetWindowLongPtrA(child, GWL_STYLE) & WS_CHILD) == 0) {
        return false;
    }
    const LRESULT answer = SendMessageA(child, kReflectBase + message, wParam, lParam);
    if (answer == 0) {
        return false; // a control that does not answer reflected messages returns 0
    }
    // A colour request is answered with the brush itself, a command with "handled".
    result = message == WM_CTLCOLORSTATIC ? static_cast<INT_PTR>(answer) : TRUE;
    return true;
}

CHyperLink::CHyperLink(IShell& shell) : shell_(shell) {
    state_.crHover = static_cast<ColorRef>(GetSysColor(COLOR_HIGHLIGHT));
}

CHyperLink::~CHyperLink() {
    Detach();
    if (underlinedFont_ != nullptr) {
        DeleteObject(underlinedFont_);
    }
    if (hHandCursor_ != nullptr) {
        DestroyCursor(hHandCursor_);
    }
}

void CHyperLink::Detach() {
    if (hwnd_ != nullptr) {
        RemoveWindowSubclass(hwnd_, SubclassProc, kSubclassId);
        // The window outlives its link: it must not keep drawing with the link's font, which
        // goes with the link.
        SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(originalFont_), FALSE);
        if (GetCapture() == hwnd_) {
            ReleaseCapture();
        }
        hwnd_ = nullptr;
    }
    if (tooltip_ != nullptr && IsWindow(tooltip_)) {
        DestroyWindow(tooltip_);
    }
    tooltip_ = nullptr;
}

void CHyperLink::Attach(HWND control) {
    if (control == nullptr || control == hwnd_) {
        return;
    }
    Detach();
    hwnd_ = control;
    SetWindowSubclass(hwnd_, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));

    SetWindowLongPtrA(hwnd_, GWL_STYLE, GetWindowLongPtrA(hwnd_, GWL_STYLE) | SS_NOTIFY);

    std::string text = WindowText(hwnd_);
    const std::string before = text;
    AttachLinkText(state_, text);
    if (text != before) {
        SetWindowTextA(hwnd_, text.c_str());
    }

    originalFont_ = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
    ApplyLinkFont();
    FitToText();
    if (hHandCursor_ == nullptr) {
        hHandCursor_ = LoadHandCursorCopy();
    }

    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    tooltip_ = CreateWindowExA(
        0, TOOLTIPS_CLASSA, nullptr, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
        CW_USEDEFAULT, hwnd_, nullptr,
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd_, GWLP_HINSTANCE)), nullptr);
    if (tooltip_ != nullptr) {
        TTTOOLINFOA tool = ToolFor(hwnd_, state_.strTarget);
        GetClientRect(hwnd_, &tool.rect); // later refits leave the tool's rectangle as it is
        SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void CHyperLink::SetTarget(const std::string& url) {
    state_.strTarget = url;
    if (hwnd_ == nullptr) {
        return;
    }
    FitToText();
    if (tooltip_ != nullptr) {
        TTTOOLINFOA tool = ToolFor(hwnd_, state_.strTarget);
        SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void CHyperLink::DropUnderline() {
    state_.bUnderlined = false;
    if (hwnd_ == nullptr) {
        return;
    }
    ApplyLinkFont();
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void CHyperLink::ApplyLinkFont() {
    HFONT current = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
    if (current == nullptr) {
        current = static_cast<HFONT>(GetStockObject(SYSTEM_FONT)); // what the control draws with
    }
    LOGFONTA description{};
    if (GetObjectA(current, sizeof description, &description) != sizeof description) {
        return;
    }
    description.lfUnderline = state_.bUnderlined ? TRUE : FALSE;
    const HFONT made = CreateFontIndirectA(&description);
    if (made == nullptr) {
        return;
    }
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
    // Deleted only once the control no longer uses it.
    if (underlinedFont_ != nullptr) {
        DeleteObject(underlinedFont_);
    }
    underlinedFont_ = made;
}

void CHyperLink::FitToText() {
    if (hwnd_ == nullptr || !state_.bFitToText) {
        return;
    }
    RECT place{};
    GetWindowRect(hwnd_, &place);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd_), reinterpret_cast<POINT*>(&place), 2);

    const std::string text = WindowText(hwnd_);
    SIZE extent{};
    const HDC dc = GetDC(hwnd_);
    if (dc == nullptr) {
        return;
    }
    const HGDIOBJ previous =
        underlinedFont_ != nullptr ? SelectObject(dc, underlinedFont_) : nullptr;
    const BOOL measured =
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    if (previous != nullptr) {
        SelectObject(dc, previous);
    }
    ReleaseDC(hwnd_, dc);
    if (!measured) {
        return;
    }

    const SRect fitted =
        crenovix::FitToText({place.left, place.top, place.right, place.bottom},
                            {extent.cx, extent.cy}, FitStyle(GetWindowLongPtrA(hwnd_, GWL_STYLE)));
    SetWindowPos(hwnd_, nullptr, fitted.left, fitted.top, fitted.right - fitted.left,
                 fitted.bottom - fitted.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CHyperLink::Click() {
    const std::int32_t code = ClickLink(state_, shell_);
    if (hwnd_ != nullptr) {
        // Visited after a success; a failure has cleared an earlier success.
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
    if (state_.bOpened) {
        return;
    }
    if (beepHandler) {
        beepHandler();
    } else {
        MessageBeep(MB_ICONEXCLAMATION);
    }
    const std::string text = LinkErrorText(code, state_.strTarget);
    if (messageBoxHandler) {
        messageBoxHandler(text);
        return;
    }
    MessageBoxA(hwnd_ != nullptr ? GetAncestor(hwnd_, GA_ROOT) : nullptr, text.c_str(),
                kProductName, MB_OK | MB_ICONEXCLAMATION);
}

void CHyperLink::PointerMoved(LPARAM position) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    // Signed: while the mouse is captured, positions left of or above the control are negative.
    const POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    switch (TrackPointer(state_, PtInRect(&client, point) != FALSE)) {
    case EPointerChange::Entered:
        RedrawNow(hwnd_);
        SetCapture(hwnd_); // movements keep coming until the pointer is seen outside
        break;
    case EPointerChange::Left:
        ReleaseCapture();
        RedrawNow(hwnd_);
        break;
    case EPointerChange::None:
        break;
    }
}

LRESULT CHyperLink::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = hwnd_;
    if (tooltip_ != nullptr && IsMouseMessage(message)) {
        MSG relayed{};
        relayed.hwnd = window;
        relayed.message = message;
        relayed.wParam = wParam;
        relayed.lParam = lParam;
        relayed.time = static_cast<DWORD>(GetMessageTime());
        const DWORD position = GetMessagePos();
        relayed.pt = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
        SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }

    switch (message) {
    case kReflectBase + WM_CTLCOLORSTATIC: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, static_cast<COLORREF>(LinkTextColour(state_)));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)); // the dialog shows through
    }
    case kReflectBase + WM_COMMAND:
        if (HIWORD(wParam) == STN_CLICKED) {
            Click();
            return TRUE;
        }
        break;
    case WM_SETCURSOR:
        if (hHandCursor_ != nullptr) {
            SetCursor(hHandCursor_);
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE: {
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        PointerMoved(lParam);
        return result;
    }
    case WM_CAPTURECHANGED:
        // Another window took the mouse (a message box, a drag elsewhere): no movement off the
        // link will reach us any more, so the hover ends here instead of staying lit.
        if (state_.bPointerInside && reinterpret_cast<HWND>(lParam) != window) {
            TrackPointer(state_, false);
            RedrawNow(window);
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        hwnd_ = nullptr;
        if (tooltip_ != nullptr && IsWindow(tooltip_)) {
            DestroyWindow(tooltip_);
        }
        tooltip_ = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK CHyperLink::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR self) {
    auto* link = reinterpret_cast<CHyperLink*>(self);
    if (link == nullptr || link->hwnd_ != window) {
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return link->OnMessage(message, wParam, lParam);
}

} // namespace crenovix::win32
