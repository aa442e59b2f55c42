#include "gui/qt/CrenovixDlg.h"

#include "app/DialogTemplate.h"
#include "app/StartUp.h"
#include "gui/qt/Artwork.h"
#include "gui/qt/CHyperLink.h"
#include "gui/qt/TemplateWidgets.h"
#include "online/DownloadWindow.h"
#include "updatefile/UpdateFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace crenovix::qt {

CrenovixDlg::CrenovixDlg(SDeviceListState& devices, SMainWindowServices services, QWidget* parent)
    : QDialog(parent), logic_(*this, devices, std::move(services)) {
    setObjectName("CrenovixDlg");
    setWindowTitle(kWindowTitle);
    setWindowIcon(AppIcon());
    // A title bar and a system menu, no minimise or maximise box; fixed size.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    BuildControls();
    ConnectEvents();
}

void CrenovixDlg::BuildControls() {
    controls_ = BuildFromTemplate(*this, MainWindowTemplate(), SidePicture);
    list_ = qobject_cast<QListWidget*>(Control(ctl::kDeviceList));
    progress_ = qobject_cast<QProgressBar*>(Control(ctl::kProgress));
    SetAccessibleTexts(
        controls_,
        {{ctl::kComPorts, "Include COMx Port", "Lists the serial ports too"},
         {ctl::kDeviceList, "Device List", "The chargers found; the selected one is updated"},
         {ctl::kPath, "Update file", "Path of the update file to write to the charger"},
         {ctl::kOpen, "Open...", "Chooses an update file"},
         {ctl::kDownload, "Download...", "Downloads an update file from the maker"},
         {ctl::kErrorLine, "", "Why the update file cannot be used"},
         {ctl::kReleaseLink, "", "Opens the page of the newer release"},
         {ctl::kStatus, "", "What the update is doing"},
         {ctl::kProgress, "Update progress", "Blocks written to the charger"},
         {ctl::kUpdate, "Update...", "Writes the update file to the selected charger"},
         {ctl::kExit, "Exit", "Closes the program"}});
}

void CrenovixDlg::ConnectEvents() {
    auto* path = static_cast<QLineEdit*>(Control(ctl::kPath));
    // textEdited: typing and pasting, not the program's own SetText.
    connect(path, &QLineEdit::textEdited, this, [this] { logic_.OnPathEdited(); });
    connect(static_cast<QPushButton*>(Control(ctl::kOpen)), &QPushButton::clicked, this,
            [this] { logic_.OnOpenClicked(); });
    connect(static_cast<QCheckBox*>(Control(ctl::kComPorts)), &QCheckBox::clicked, this,
            [this] { logic_.OnComPortsClicked(); });
    connect(static_cast<QPushButton*>(Control(ctl::kUpdate)), &QPushButton::clicked, this,
            [this] { logic_.OnUpdateClicked(); });
    connect(static_cast<QPushButton*>(Control(ctl::kDownload)), &QPushButton::clicked, this,
            [this] { logic_.OnDownloadClicked(); });
    connect(static_cast<QPushButton*>(Control(ctl::kExit)), &QPushButton::clicked, this,
            [this] { reject(); });
    saveDiagnostic_ = new QAction(QStringLiteral("Save &diagnostic..."), this);
    saveDiagnostic_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    addAction(saveDiagnostic_); // the shortcut works wherever the focus is in the window
    connect(saveDiagnostic_, &QAction::triggered, this,
            [this] { logic_.OnSaveDiagnosticClicked(); });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const std::unique_ptr<QMenu> menu = ContextMenu();
        const QAction* chosen = menu->exec(mapToGlobal(at));
        saveDiagnostic_->setEnabled(true); // the shortcut says so itself when there is none
        if (chosen != nullptr && chosen == station_) {
            logic_.OnStationClicked(openStationWindow);
        }
    });
}

std::unique_ptr<QMenu> CrenovixDlg::ContextMenu() {
    saveDiagnostic_->setEnabled(logic_.HasDiagnostic());
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(saveDiagnostic_);
    station_ = menu->addAction(QStringLiteral("&Station view..."));
    station_->setEnabled(!logic_.IsRunning());
    menu->addSeparator();
    QAction* keepLog = menu->addAction(QStringLiteral("Keep update &log"));
    keepLog->setCheckable(true);
    keepLog->setChecked(logic_.KeepsUpdateLog());
    keepLog->setEnabled(logic_.CanChangeUpdateLog());
    connect(keepLog, &QAction::triggered, this, [this] { logic_.OnKeepUpdateLogClicked(); });
    QAction* logFile = menu->addAction(QStringLiteral("Update log &file..."));
    logFile->setEnabled(logic_.CanChangeUpdateLog());
    connect(logFile, &QAction::triggered, this, [this] { logic_.OnUpdateLogFileClicked(); });
    return menu;
}

void CrenovixDlg::Initialize() {
    logic_.OnInitDialog();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void CrenovixDlg::BringToFront() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CrenovixDlg::ListClear() {
    list_->clear();
}

void CrenovixDlg::ListInsert(int index, const std::string& text) {
    list_->insertItem(index, FromUtf8(text));
}

void CrenovixDlg::ListSelect(int index) {
    list_->setCurrentRow(index);
}

int CrenovixDlg::ListSelection() {
    return list_->currentRow();
}

void CrenovixDlg::SetProgressRange(int upper) {
    progress_->setRange(0, upper);
}

void CrenovixDlg::SetProgressPos(int position) {
    progress_->setValue(position);
}

void CrenovixDlg::SetLinkShell(IShell& shell) {
    if (auto* link = qobject_cast<CHyperLink*>(Control(ctl::kReleaseLink))) {
        link->SetShell(shell);
    }
}

void CrenovixDlg::SetLinkTarget(const std::string& url) {
    // Every user of the link sets the target and then drops the underline; the logic shows it.
    if (auto* link = qobject_cast<CHyperLink*>(Control(ctl::kReleaseLink))) {
        link->SetTarget(url);
        link->DropUnderline();
    }
}

void CrenovixDlg::MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) {
    if (messageBoxHandler) {
        messageBoxHandler(text, title, icon);
        return;
    }
    QMessageBox box(icon == EMessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    FromUtf8(title), FromUtf8(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText); // paths and chargers' answers are never markup
    box.exec();
}

void CrenovixDlg::ShowNotice(const std::string& text, const std::string& title) {
    ShowNoticeBox(notice_, this, text, title);
}

std::optional<std::string> CrenovixDlg::ChooseUpdateFile() {
    if (fileDialogHandler) {
        return fileDialogHandler();
    }
    return ChooseUpdateFileName(this);
}

std::optional<std::string> CrenovixDlg::ChooseDiagnosticFile() {
    if (diagnosticDialogHandler) {
        return diagnosticDialogHandler();
    }
    return ChooseSaveFileName(this, QStringLiteral("Save diagnostic"),
                              {.initialName = "crenovix-diagnostic.trace",
                               .defaultExtension = "trace",
                               .filterLabel = "Diagnostic trace(*.trace)",
                               .filterPattern = "*.trace"});
}

std::optional<std::string> CrenovixDlg::ChooseUpdateLogFile(const std::string& current) {
    if (logFileDialogHandler) {
        return logFileDialogHandler(current);
    }
    return ChooseSaveFileName(this, QStringLiteral("Update log file"),
                              {.initialName = current,
                               .defaultExtension = "jsonl",
                               .filterLabel = "Update log(*.jsonl)",
                               .filterPattern = "*.jsonl",
                               .confirmOverwrite = false}); // records are appended, never replaced
}

void CrenovixDlg::RunInBackground(BackgroundWork work) {
    background_.Start(std::move(work));
}

void CrenovixDlg::PostToWindow(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CrenovixDlg::CloseNotice() {
    if (notice_ != nullptr) {
        notice_->close();
    }
}

void CrenovixDlg::closeEvent(QCloseEvent* event) {
    if (logic_.OnCloseRequested()) {
        background_.Stop();
        QDialog::closeEvent(event);
    } else {
        event->ignore();
    }
}

void CrenovixDlg::reject() {
    if (logic_.OnCloseRequested()) {
        background_.Stop();
        QDialog::reject();
    }
}

} // namespace crenovix::qt
