#include "app/qt/CDownLoad.h"

#include "app/DialogTemplate.h"
#include "app/qt/Artwork.h"
#include "app/qt/CHyperLink.h"
#include "app/qt/CMyListCtrl.h"

#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace crenovix::gui {

namespace {
QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}
} // namespace

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
    connect(static_cast<QPushButton*>(Control(download_ctl::kExit)), &QPushButton::clicked, this,
            &QDialog::reject);
}

void CDownLoad::BuildControls() {
    const QFontMetrics metrics(font());
    const SDialogUnits units = DialogUnitsFromFont(
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
        metrics.height());
    const SDialogTemplate& dialog = DownloadWindowTemplate();
    setFixedSize(units.X(dialog.w), units.Y(dialog.h));

    for (const SControlTemplate& control : dialog.controls) {
        const QString caption = FromUtf8(control.caption);
        const QRect place(units.X(control.x), units.Y(control.y), units.X(control.w),
                          units.Y(control.h));
        QWidget* widget = nullptr;
        switch (control.kind) {
        case EControlKind::Picture: {
            auto* picture = new QLabel(this);
            picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            picture->setPixmap(DownloadSidePicture(place.size() - QSize(2, 2)));
            widget = picture;
            break;
        }
        case EControlKind::Link:
            link_ = new CHyperLink(caption, this);
            widget = link_;
            break;
        case EControlKind::ReportList:
            list_ = new CMyListCtrl(this);
            widget = list_;
            break;
        case EControlKind::Edit:
            widget = new QLineEdit(this);
            break;
        case EControlKind::Button:
        case EControlKind::DefaultButton: {
            auto* button = new QPushButton(caption, this);
            button->setAutoDefault(false);
            button->setDefault(control.kind == EControlKind::DefaultButton);
            widget = button;
            break;
        }
        default: {
            auto* label = new QLabel(caption, this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        }
        QRect geometry = place;
        if (control.kind == EControlKind::Label && control.id == 0) {
            // A fixed caption that the platform's font sets wider grows to the right.
            geometry.setWidth(std::max(place.width(), widget->sizeHint().width()));
        }
        widget->setGeometry(geometry);
        widget->setVisible(!control.hidden);
        if (control.id != 0) {
            widget->setObjectName(QString("ctl%1").arg(control.id));
            controls_[control.id] = widget;
        }
    }
    link_->Attach();
    saveAs_ = static_cast<QLineEdit*>(Control(download_ctl::kSaveAs));
    status_ = static_cast<QLabel*>(Control(download_ctl::kStatus));
    download_ = static_cast<QPushButton*>(Control(download_ctl::kDownload));
}

void CDownLoad::Initialize() {
    logic_.OnInitDialog();
}

QWidget* CDownLoad::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
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
    if (shown) {
        repaint(); // the download that follows blocks the event loop
    }
}

void CDownLoad::SetStatusText(const std::string& text) {
    status_->setText(FromUtf8(text));
    if (status_->isVisible()) {
        repaint();
    }
}

void CDownLoad::SetDownloadEnabled(bool enabled) {
    download_->setEnabled(enabled);
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
        messageBoxHandler(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), FromUtf8(text),
                    QMessageBox::Ok, this);
    box.exec();
}

std::optional<std::string> CDownLoad::RunSaveDialog(const SSaveDialogRequest& request) {
    if (saveDialogHandler) {
        return saveDialogHandler(request);
    }
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(FromUtf8(request.filterLabel + " (" + request.filterPattern + ")"));
    dialog.setDefaultSuffix(FromUtf8(request.defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.initialName.empty()) {
        dialog.selectFile(FromUtf8(request.initialName));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return ToUtf8(dialog.selectedFiles().front());
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
    mainWindow_.MessageBox(text, ToUtf8(QGuiApplication::applicationDisplayName()),
                           EMessageIcon::None);
}

void CDownloadWindowHost::RunDownloadWindow() {
    CDownLoad window(
        context_, [this](const std::string& path) { mainWindow_.Logic().SetPathAndLoad(path); },
        &mainWindow_);
    if (prepareWindow) {
        prepareWindow(window);
    }
    window.Initialize();
    window.exec();
}

} // namespace crenovix::gui
