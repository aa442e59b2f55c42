// CDownLoad: the download window ("Download Updates") in Qt. It builds the controls of template
// 135 (object names "ctl<id>"), implements IDownloadWindowView and forwards its events to
// CDownloadWindow, which decides: Initialize() runs the window's initialisation (columns,
// catalogue, link), "..." is OnBrowse, "&Download" and Enter are OnDownload, the list's
// item-changed notification is OnEntryChanged; "&Exit", Escape and the close box reject.
//
// The window can be made larger than its template (the list grows) and suggests saving into the
// user's downloads folder, as Qt's standard locations name it (the XDG user directory).
//
// The catalogue arrives in the background (CDownloadWindow::OnInitDialogFetching), and so does an
// update file: its progress comes through queued calls, Cancel ends it, and closing the window
// (done()) stops it and waits the downloader's cancel poll. A finished download's path goes to
// `setMainWindowPath`, which the program binds to the main window's SetPathAndLoad. Message boxes
// and the save dialog go through replaceable functions, so tests never block on a modal box.
//
// CDownloadWindowHost is the main window's side of the Download command (IDownloadWindowHost):
// the "Connecting server failed." box through the main window's message box, and the download
// window run modally over the main window. OpenAtOnce() is the Download command of the window
// program: the download window opens at once and fetches its catalogue itself.
#pragma once

#include "gui/qt/CrenovixDlg.h"
#include "gui/qt/TemplateWidgets.h"
#include "online/DownloadWindow.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace crenovix::qt {

class CHyperLink;
class CMyListCtrl;

class CDownLoad final : public QDialog, public CTemplateControls, public IDownloadWindowView {
    Q_OBJECT

public:
    CDownLoad(SOnlineContext& context, std::function<void(const std::string&)> setMainWindowPath,
              QWidget* parent = nullptr);
    ~CDownLoad() override;

    // The window's initialisation after OpenDownloadWindow has fetched the catalogue into
    // `cataloguePath`: fills the list, selects row 0, points the link at the release notes. Call
    // before showing.
    void Initialize(const std::string& cataloguePath);
    // The initialisation of a window that opens at once: the columns, then the catalogue is
    // fetched in the background while the window already shows ("Loading the list of
    // updates..."); its answer fills the list as Initialize() does, or shows the connection
    // failure and closes the window. Call before showing.
    void InitializeFetching();
    // True while the catalogue is being fetched or an update file downloaded.
    bool Fetching() const { return background_.Busy(); }

    CMyListCtrl& List() { return *list_; }
    CHyperLink& Link() { return *link_; }

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

    // Closing ends a fetch or download under way; the catalogue it may have fetched goes with its
    // answer.
    void done(int result) override;

protected:
    // The window may grow beyond its template's size: the list takes the room
    // (GrownDownloadControl).
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();

    CDownloadWindow logic_;
    std::function<void(const std::string&)> setMainWindowPath_;
    // Every control with its place at the template's size, in the template's order.
    std::vector<std::pair<QWidget*, QRect>> templatePlaces_;
    QSize templateSize_;
    CMyListCtrl* list_ = nullptr;
    CHyperLink* link_ = nullptr;
    QLineEdit* saveAs_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    CBackgroundJob background_{[this] {
        QMetaObject::invokeMethod(
            this, [this] { background_.Deliver(); }, Qt::QueuedConnection);
    }};
};

class CDownloadWindowHost final : public IDownloadWindowHost {
public:
    CDownloadWindowHost(CrenovixDlg& mainWindow, SOnlineContext& context)
        : mainWindow_(mainWindow), context_(context) {}

    // Runs on each download window after it is made and before it opens (tests replace its
    // boxes here and drive it).
    std::function<void(CDownLoad&)> prepareWindow;
    // What the window's link opens its target with (the platform's shell); must outlive the host.
    IShell* shell = nullptr;

    void MessageBox(const std::string& text) override;
    void RunDownloadWindow(const std::string& cataloguePath) override;
    void OpenAtOnce();

private:
    // Lists the catalogue at `cataloguePath`, or without one fetches it in the window.
    void Run(const std::string* cataloguePath);

    CrenovixDlg& mainWindow_;
    SOnlineContext& context_;
};

} // namespace crenovix::qt
