// CDialogWindow: what both windows of the front end share. The window is made from its template,
// built in memory from the window's table (gui/win32/DialogTemplateBuilder.h), modally or (for
// tests that drive it with messages) without a modal loop; the dialog procedure finds the object,
// passes the children's reflected notifications back to them first (CHyperLink) and hands every
// other message to OnMessage; the program icon and the side picture are made at initialisation and
// freed with the object. Calls from other threads (a run's events, a download's progress) reach
// the window's thread through PostToWindowThread.
#pragma once

#include "app/DialogControls.h"
#include "gui/win32/Artwork.h"
#include "gui/win32/DialogTemplateBuilder.h"
#include "online/Background.h"

#include <windows.h>

#include <commdlg.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace crenovix::win32 {

// Posted when another thread has handed calls to a window (PostToWindowThread).
inline constexpr UINT kRunEvents = WM_APP + 2;

class CDialogWindow : public virtual IDialogControls {
public:
    CDialogWindow(const CDialogWindow&) = delete;
    CDialogWindow& operator=(const CDialogWindow&) = delete;

    // Runs the window modally over `owner` (disabled meanwhile) until it ends; the result given
    // to EndWindow, or -1 when the window cannot be made.
    INT_PTR DoModal(HWND owner = nullptr);
    // The same window without a modal loop; ending it destroys it. nullptr when it cannot be
    // made.
    HWND Create(HWND owner = nullptr);

    HWND Handle() const { return hwnd_; }
    HWND Control(int id) const;
    // The notice ShowNoticeWindow put up, while it is open.
    HWND Notice() const { return notice_; }

    // IDialogControls: the controls by id. A disabled control that has the focus hands it on
    // first (the keyboard would reach nothing); a text the program sets raises EN_CHANGE like
    // an edit, and settingText_ says it is not the user's.
    void SetVisible(int id, bool visible) override;
    void SetEnabled(int id, bool enabled) override;
    void SetText(int id, const std::string& text) override;
    std::string GetText(int id) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;

protected:
    explicit CDialogWindow(EDialog dialog) : dialog_(dialog) {}
    // Frees the icons and the picture. A window made with Create must already be gone: the
    // derived class destroys it (DestroyModeless) while its members can still answer the
    // window's last messages.
    ~CDialogWindow() override;

    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // The views' PostToWindow: `call` runs on the window's thread, after those posted before it.
    // Safe from any thread; announced by kRunEvents only while the window exists (the handle is
    // read from an atomic copy that WM_DESTROY clears).
    void PostToWindowThread(std::function<void()> call);

    // For WM_INITDIALOG: the program icon in both sizes and the side picture drawn at its
    // control's size.
    void ShowIconsAndPicture(ESidePicture picture);
    // The views' ShowNotice: a modeless box beside the window (the Notice template), which the
    // window's loop goes on serving; a second one replaces the text of the first. The loop that
    // runs the window passes keys only to the window itself: a message filter hands the notice
    // its Enter, Esc and Tab. CloseNoticeWindow takes it down; so does the window's end.
    void ShowNoticeWindow(const std::string& text, const std::string& title);
    void CloseNoticeWindow();
    // Ends the window with `result`: EndDialog when modal, else DestroyWindow.
    void EndWindow(INT_PTR result);
    void DestroyModeless();

    HWND hwnd_ = nullptr;      // cleared when the window is destroyed (WM_DESTROY)
    bool settingText_ = false; // the program sets a text: its EN_CHANGE is not an edit

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK NoticeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    EDialog dialog_;
    bool modal_ = false;
    HBITMAP sidePicture_ = nullptr;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HWND notice_ = nullptr;
    HHOOK noticeKeys_ = nullptr; // the notice's keyboard, while the notice is up
    // A base's members outlive the derived window's: the queue outlives a logic whose end waits
    // for a run that may still post.
    std::atomic<HWND> callTarget_{nullptr};
    CWindowQueue calls_{[this] {
        if (const HWND target = callTarget_.load()) {
            PostMessageA(target, kRunEvents, 0, 0);
        }
    }};
};

// The system's open or save dialog as `dialog` describes it (owner, filter, extension, title,
// flags; the file name's buffer is this function's), starting with `suggested` as the name;
// nothing when the user cancels.
std::optional<std::string> RunFileDialog(OPENFILENAMEA dialog, const std::string& suggested,
                                         bool save);
// The system's file dialog for one kind of file over `owner`: open (an existing one) or save
// (asking before replacing one, unless `askReplace` is false: a file appended to), with
// `suggested` as the name it starts with; nothing when the user cancels. `filter` is the
// dialog's pairs of label and pattern, each ended by a zero.
std::optional<std::string> AskForFile(HWND owner, const char* filter, const char* extension,
                                      const char* title, const std::string& suggested, bool save,
                                      bool askReplace = true);
// The file-open dialog for update files ("Kelvorin Update File(*.bin)").
std::optional<std::string> ChooseUpdateFileName(HWND owner);

} // namespace crenovix::win32
