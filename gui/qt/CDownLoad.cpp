#include "gui/qt/CDownLoad.h"

#include "app/DialogTemplate.h"
#include "app/StartUp.h"
#include "gui/qt/Artwork.h"
#include "gui/qt/CHyperLink.h"
#include "gui/qt/CMyListCtrl.h"
#include "gui/qt/TemplateWidgets.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QStandardPaths>

#include <algorithm>
#include <span>

namespace crenovix::qt {

CDownLoad::CDownLoad(SOnlineContext& context,
                     std::function<void(const std::string&)> setMainWindowPath, QWidget* parent)
    : QDialog(parent), logic_(*this, context), setMainWindowPath_(std::move(setMainWindowPath)) {
    setObjectName("CDownLoad");
    setWindowTitle(FromUtf8(DownloadWindowTemplate().caption));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    BuildControls();

    list_->onItemChanged = [this](unsigned newState) { logic_.OnEntryChanged(newState); };
    connect(static_cast<QPushButton*>(Control(download_ctl::kBrowse)), &QPushButton::clicked, this,
            [this] { logic_.OnBrowse(); });
    connect(download_, &QPushButton::clicked, this, [this] { logic_.OnDownload(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { logic_.OnCancelDownload(); });
    connect(static_cast<QPushButton*>(Control(download_ctl::kExit)), &QPushButton::clicked, this,
            &QDialog::reject);
}

void CDownLoad::BuildControls() {
    controls_ = BuildFromTemplate(*this, DownloadWindowTemplate(), DownloadSidePicture);
    // BuildFromTemplate made one widget per control, in order, and fixed the window's size.
    for (QWidget* widget : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        templatePlaces_.emplace_back(widget, widget->geometry());
    }
    templateSize_ = size();
    if (templatePlaces_.size() == DownloadWindowTemplate().controls.size()) {
        setMinimumSize(templateSize_);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    list_ = qobject_cast<CMyListCtrl*>(Control(download_ctl::kUpdatesList));
    link_ = qobject_cast<CHyperLink*>(Control(download_ctl::kReleaseNotesLink));
    saveAs_ = static_cast<QLineEdit*>(Control(download_ctl::kSaveAs));
    status_ = static_cast<QLabel*>(Control(download_ctl::kStatus));
    download_ = static_cast<QPushButton*>(Control(download_ctl::kDownload));
    cancel_ = static_cast<QPushButton*>(Control(download_ctl::kCancel));
    progress_ = qobject_cast<QProgressBar*>(Control(download_ctl::kProgress));
    progress_->setRange(0, 1000);
    namespace dl = download_ctl;
    SetAccessibleTexts(
        controls_,
        {{dl::kReleaseNotesLink, "", "Opens the release notes of the selected update"},
         {dl::kUpdatesList, "Updates List", "The update files offered; the selected one is saved"},
         {dl::kSaveAs, "Save as", "Path the downloaded file is saved to"},
         {dl::kBrowse, "Browse", "Chooses where to save the file"},
         {dl::kStatus, "", "What is being downloaded"},
         {dl::kProgress, "Download progress", "How much of the update file has arrived"},
         {dl::kDownload, "Download", "Downloads the selected update file"},
         {dl::kCancel, "Cancel", "Stops the download; the file there stays as it was"},
         {dl::kExit, "Exit", "Closes this window"}});
}

void CDownLoad::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const std::span<const SControlTemplate> layout = DownloadWindowTemplate().controls;
    if (templatePlaces_.size() != layout.size()) {
        return; // the window kept its template's size
    }
    const int dx = std::max(0, width() - templateSize_.width());
    const int dy = std::max(0, height() - templateSize_.height());
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const QRect at = templatePlaces_[i].second;
        const SControlBox box =
            GrownDownloadControl(layout[i], {at.x(), at.y(), at.width(), at.height()}, dx, dy);
        const QRect place(box.x, box.y, box.w, box.h);
        if (place != at) { // what stays keeps its own fit (the link fits its text)
            templatePlaces_[i].first->setGeometry(place);
        }
    }
}

CDownLoad::~CDownLoad() {
    background_.Stop();
}

void CDownLoad::Initialize(const std::string& cataloguePath) {
    logic_.OnInitDialog(cataloguePath);
}

void CDownLoad::InitializeFetching() {
    logic_.OnInitDialogFetching();
}

void CDownLoad::RunInBackground(BackgroundWork work) {
    background_.Start(std::move(work));
}

void CDownLoad::EndDialogCancel() {
    reject();
}

void CDownLoad::done(int result) {
    background_.Stop();
    QDialog::done(result);
}

IReportListView& CDownLoad::UpdatesList() {
    return *list_;
}

std::string CDownLoad::GetSaveAsText() {
    return ToUtf8(saveAs_->text());
}

void CDownLoad::SetSaveAsText(const std::string& text) {
    saveAs_->setText(FromUtf8(text));
}

void CDownLoad::ShowStatusLine(bool shown) {
    status_->setVisible(shown);
}

void CDownLoad::SetStatusText(const std::string& text) {
    status_->setText(FromUtf8(text));
}

void CDownLoad::SetDownloadEnabled(bool enabled) {
    download_->setEnabled(enabled);
}

void CDownLoad::SetInputsEnabled(bool enabled) {
    for (const int id :
         {download_ctl::kUpdatesList, download_ctl::kSaveAs, download_ctl::kBrowse}) {
        Control(id)->setEnabled(enabled);
    }
}

void CDownLoad::ShowProgress(bool shown) {
    progress_->setVisible(shown);
}

void CDownLoad::SetProgress(int thousandths) {
    progress_->setValue(thousandths);
}

void CDownLoad::ShowCancel(bool shown) {
    download_->setVisible(!shown);
    cancel_->setVisible(shown);
    (shown ? cancel_ : download_)->setFocus(); // the button in that place takes the keys
}

void CDownLoad::PostToWindow(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CDownLoad::CancelBackground() {
    background_.Cancel();
}

void CDownLoad::SetLinkText(const std::string& text) {
    link_->setText(FromUtf8(text));
}

void CDownLoad::SetLinkTarget(const std::string& url) {
    link_->SetTarget(url);
}

void CDownLoad::DropLinkUnderline() {
    link_->DropUnderline();
}

void CDownLoad::ShowLink(bool shown) {
    link_->setVisible(shown);
}

void CDownLoad::MessageBox(const std::string& text) {
    if (messageBoxHandler) {
        messageBoxHandler(MessageText(text));
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString(kProductName), FromUtf8(MessageText(text)),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText); // the servers' texts are never markup
    box.exec();
}

std::optional<std::string> CDownLoad::RunSaveDialog(const SSaveDialogRequest& request) {
    if (saveDialogHandler) {
        return saveDialogHandler(request);
    }
    return ChooseSaveFileName(this, {}, request);
}

std::optional<std::string> CDownLoad::DownloadsFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return std::nullopt;
    }
    QString path = QDir::cleanPath(folder);
    if (!path.endsWith('/')) {
        path += '/';
    }
    return ToUtf8(path);
}

void CDownLoad::FitListColumns() {
    list_->FitColumnsToContent();
}

void CDownLoad::SetMainWindowPath(const std::string& path) {
    if (setMainWindowPath_) {
        setMainWindowPath_(path);
    }
}

void CDownLoad::EndDialogOk() {
    accept();
}

void CDownloadWindowHost::MessageBox(const std::string& text) {
    mainWindow_.MessageBox(MessageText(text), kProductName, EMessageIcon::None);
}

void CDownloadWindowHost::RunDownloadWindow(const std::string& cataloguePath) {
    Run(&cataloguePath);
}

void CDownloadWindowHost::OpenAtOnce() {
    Run(nullptr);
}

void CDownloadWindowHost::Run(const std::string* cataloguePath) {
    CDownLoad window(
        context_, [this](const std::string& path) { mainWindow_.Logic().SetPathAndLoad(path); },
        &mainWindow_);
    if (shell != nullptr) {
        window.Link().SetShell(*shell);
    }
    if (prepareWindow) {
        prepareWindow(window);
    }
    if (cataloguePath != nullptr) {
        window.Initialize(*cataloguePath);
    } else {
        window.InitializeFetching();
    }
    window.exec();
}

} // namespace crenovix::qt
