// CrenovixDlg: the main window in Qt. It builds the controls of the main window's template, keeps
// their ids as object names ("ctl1004"), forwards their events to CMainWindowLogic and carries
// out what the logic asks of the view. Message boxes and the file dialog go through replaceable
// functions, so tests never block on a modal box.
#pragma once

#include "app/MainWindowLogic.h"
#include "app/MainWindowView.h"
#include "controls/HyperLink.h"
#include "gui/qt/TemplateWidgets.h"

#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QListWidget;
class QProgressBar;

namespace crenovix::qt {

class CrenovixDlg final : public QDialog, public CTemplateControls, public IMainWindowView {
    Q_OBJECT

public:
    CrenovixDlg(SDeviceListState& devices, SMainWindowServices services, QWidget* parent = nullptr);

    // Runs the window's initialisation (device list, version check); call before showing.
    void Initialize();
    // A second start asked for this window: restored when minimised, raised and activated.
    void BringToFront();

    CMainWindowLogic& Logic() { return logic_; }
    // The shell the release link opens its target with; it must outlive the window.
    void SetLinkShell(IShell& shell);
    // The notice ShowNotice put up, while it is open.
    QMessageBox* Notice() const { return notice_; }

    // Replace these to answer message boxes and the file dialog without a person.
    std::function<void(const std::string& text, const std::string& title, EMessageIcon icon)>
        messageBoxHandler;
    std::function<std::optional<std::string>()> fileDialogHandler;
    // The context menu's "Station view..." command (refused during a run): runs the station
    // window over this one.
    std::function<void()> openStationWindow;
    std::function<std::optional<std::string>()> diagnosticDialogHandler;
    // "Save diagnostic...": in the window's context menu (the fixed layout has no place for a
    // button) and on Ctrl+Shift+D; enabled once a run has ended.
    QAction* SaveDiagnosticAction() const { return saveDiagnostic_; }
    std::function<std::optional<std::string>(const std::string& current)> logFileDialogHandler;
    // The window's context menu as a right click shows it: each entry enabled, and checked, as
    // the logic says at this moment.
    std::unique_ptr<QMenu> ContextMenu();

    // IMainWindowView.
    void ListClear() override;
    void ListInsert(int index, const std::string& text) override;
    void ListSelect(int index) override;
    int ListSelection() override;
    void SetProgressRange(int upper) override;
    void SetProgressPos(int position) override;
    void SetLinkTarget(const std::string& url) override;
    void MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) override;
    void ShowNotice(const std::string& text, const std::string& title) override;
    std::optional<std::string> ChooseUpdateFile() override;
    std::optional<std::string> ChooseDiagnosticFile() override;
    std::optional<std::string> ChooseUpdateLogFile(const std::string& current) override;
    void RunInBackground(BackgroundWork work) override;
    void PostToWindow(std::function<void()> call) override;
    void CloseNotice() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void BuildControls();
    void ConnectEvents();

    CMainWindowLogic logic_;
    QListWidget* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPointer<QMessageBox> notice_;
    QAction* saveDiagnostic_ = nullptr;
    QAction* station_ = nullptr; // of the menu on show, while it is shown
    // The version check; its answer comes back through the event loop. Stopped when the window
    // closes and, at the latest, before the window's members go.
    CBackgroundJob background_{[this] {
        QMetaObject::invokeMethod(
            this, [this] { background_.Deliver(); }, Qt::QueuedConnection);
    }};
};

} // namespace crenovix::qt
