// CDownLoad: the download window ("Download Updates") on Windows, a modal dialog built from the
// download window's table (app/DialogTemplate.cpp) over the main window. It implements
// IDownloadWindowView and forwards its events to CDownloadWindow, which decides: the window's
// initialisation (columns, catalogue, link), "..." (OnBrowse), "&Download" and Enter (OnDownload),
// the list's LVN_ITEMCHANGED (OnEntryChanged); "&Exit", Escape and the close box end the window
// with IDCANCEL.
//
// The list is a CMyListCtrl and the release-notes link a CHyperLink. The catalogue fetch and a
// download run in the background: answers come back as kBackgroundAnswer, a download's progress
// as kRunEvents (PostToWindowThread); Cancel ends a download, and closing the window stops it
// (WM_DESTROY waits the downloader's cancel poll). A finished download's path goes to
// `setMainWindowPath`, which the program binds to the main window's SetPathAndLoad. Message boxes
// and the save dialog go through replaceable functions, so tests never block on a modal box.
//
// The window can be made larger than its template (the list grows), the list's cells show their
// whole text as a tip, and saving is suggested in the user's Downloads known folder.
//
// CDownloadWindowHost is the main window's side of the Download command (IDownloadWindowHost):
// the "Connecting server failed." box and the download window run modally over the main window.
#pragma once

// The views' headers before windows.h, whose MessageBox macro would rename their member.
#include "gui/win32/CrenovixDlg.h"
#include "online/DownloadWindow.h"

#include "gui/win32/CHyperLink.h"
#include "gui/win32/CMyListCtrl.h"
#include "gui/win32/DialogWindow.h"

#include <windows.h>
#undef MessageBox // a member name of the views; see CrenovixDlg.h

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crenovix::win32 {

class CDownLoad final : public CDialogWindow, public IDownloadWindowView {
public:
    // `shell` opens the link's targets; it and `context` must outlive the window.
    CDownLoad(SOnlineContext& context, IShell& shell,
              std::function<void(const std::string&)> setMainWindowPath);
    ~CDownLoad() override;

    // DoModal: IDOK after a download, IDCANCEL when the user left, -1 when the window cannot be
    // made. Create (for tests that drive it with messages): ending it destroys it and leaves the
    // result in Result().
    CMyListCtrl& List() { return list_; }
    CHyperLink& Link() { return link_; }
    INT_PTR Result() const { return result_; }
    // Set before the window is made: the file of a catalogue already fetched, which the window
    // lists (OpenDownloadWindow); without it the window opens at once and fetches the catalogue
    // itself in the background (CDownloadWindow::OnInitDialogFetching).
    std::optional<std::string> fetchedCatalogue;
    // True while the catalogue is being fetched or an update file downloaded.
    bool Fetching() const { return background_.Busy(); }

    // Replace these to answer the window's boxes without a person.
    std::function<void(const std::string& text)> messageBoxHandler;
    std::function<std::optional<std::string>(const SSaveDialogRequest& request)> saveDialogHandler;

    // IDownloadWindowView.
    IReportListView& UpdatesList() override;
    std::string GetSaveAsText() override;
    void SetSaveAsText(const std::string& text) override;
    void ShowStatusLine(bool shown) override;
    void SetStatusText(const std::string& text) override;
    void SetDownloadEnabled(bool enabled) override;
    void SetLinkText(const std::string& text) override;
    void SetLinkTarget(const std::string& url) override;
    void DropLinkUnderline() override;
    void ShowLink(bool shown) override;
    void MessageBox(const std::string& text) override;
    std::optional<std::string> RunSaveDialog(const SSaveDialogRequest& request) override;
    std::optional<std::string> DownloadsFolder() override;
    void FitListColumns() override;
    void SetMainWindowPath(const std::string& path) override;
    void EndDialogOk() override;
    void RunInBackground(BackgroundWork work) override;
    void EndDialogCancel() override;
    void SetInputsEnabled(bool enabled) override;
    void ShowProgress(bool shown) override;
    void SetProgress(int thousandths) override;
    void ShowCancel(bool shown) override;
    void PostToWindow(std::function<void()> call) override;
    void CancelBackground() override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog();
    void End(INT_PTR result);
    // The window gets a sizing border; its template's size is the least (GrownDownloadControl).
    void MakeResizable();
    void PlaceControls();

    CDownloadWindow logic_;
    std::function<void(const std::string&)> setMainWindowPath_;
    CMyListCtrl list_;
    CHyperLink link_;
    INT_PTR result_ = IDCANCEL;
    // Every control with its place at the template's size (client pixels), in template order.
    std::vector<std::pair<HWND, RECT>> templatePlaces_;
    SIZE templateClient_{};
    SIZE leastWindow_{};
    // The catalogue fetch; its answer comes back as kBackgroundAnswer. Closing the window stops
    // it, and a catalogue that was never listed goes with the dropped answer.
    CBackgroundJob background_{[this] { PostMessageA(hwnd_, kBackgroundAnswer, 0, 0); }};
};

class CDownloadWindowHost final : public IDownloadWindowHost {
public:
    CDownloadWindowHost(CrenovixDlg& mainWindow, SOnlineContext& context, IShell& shell)
        : mainWindow_(mainWindow), context_(context), shell_(shell) {}

    // Runs on each download window after it is made and before it opens (tests replace its
    // boxes here).
    std::function<void(CDownLoad&)> prepareWindow;

    void MessageBox(const std::string& text) override;
    void RunDownloadWindow(const std::string& cataloguePath) override;
    // The Download command of the window program: the window opens at once and fetches.
    void OpenAtOnce();

private:
    // Lists the catalogue at `cataloguePath`, or without one fetches it in the window.
    void Run(const std::string* cataloguePath);

    CrenovixDlg& mainWindow_;
    SOnlineContext& context_;
    IShell& shell_;
};

} // namespace crenovix::win32
