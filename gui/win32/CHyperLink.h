// CHyperLink on Windows: a static control of a dialog subclassed into a clickable link, the main
// window's release link (1023) and the download window's release-notes link (1024).
//
// The decisions come from controls/HyperLink.h (colour, hover tracking, fit to text, what a click
// opens, the error text); this class does the Win32 side. The hosting dialog procedure passes
// WM_CTLCOLORSTATIC and WM_COMMAND notifications of its children through ReflectToChild first,
// so the control answers its own colour request and its own click (STN_CLICKED), as a
// reflecting dialog framework would. WM_SETCURSOR shows the hand cursor; WM_MOUSEMOVE tracks
// the pointer with mouse capture until it leaves; a tooltip shows the target.
#pragma once

#include "controls/HyperLink.h"

#include <windows.h>

#include <functional>
#include <string>

namespace crenovix::win32 {

// The text of a window or control; empty for none (nullptr included).
std::string WindowText(HWND window);

// Message numbers of reflected notifications: the original message plus OCM__BASE.
inline constexpr UINT kReflectBase = WM_USER + 0x1C00;

// For a dialog procedure, before its own handling: a WM_CTLCOLORSTATIC or WM_COMMAND from a child
// control is sent back to that child as kReflectBase + message. True (with `result` to return
// from the dialog procedure) when the child handled it.
bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

class CHyperLink {
public:
    // `shell` opens targets (CWin32Shell in the program) and must outlive the control.
    explicit CHyperLink(IShell& shell);
    ~CHyperLink();
    CHyperLink(const CHyperLink&) = delete;
    CHyperLink& operator=(const CHyperLink&) = delete;

    // Subclasses `control` (a static control; SS_NOTIFY is added), takes the window text and the
    // target from each other when one is empty, applies the underline, fits the control to its
    // text, loads the hand cursor and creates the tooltip.
    void Attach(HWND control);
    HWND Handle() const { return hwnd_; }

    // The target a click opens; once attached also refits the control and renews the tooltip.
    void SetTarget(const std::string& url);
    // No underline from now on.
    void DropUnderline();
    // Shrinks or widens the control to its text (controls/HyperLink.h FitToText); nothing before
    // Attach.
    void FitToText();

    const SHyperLinkState& State() const { return state_; }

    // Replace these to observe a failed click without a sound or a modal box.
    std::function<void()> beepHandler;
    std::function<void(const std::string& text)> messageBoxHandler;

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Detach();
    // Makes underlinedFont_ from the window's font and bUnderlined, and gives it to the window.
    void ApplyLinkFont();
    void PointerMoved(LPARAM position);
    void Click();

    IShell& shell_;
    SHyperLinkState state_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT underlinedFont_ = nullptr;
    HFONT originalFont_ = nullptr; // given back to a window that outlives the control
    HCURSOR hHandCursor_ = nullptr;
};

} // namespace crenovix::win32
