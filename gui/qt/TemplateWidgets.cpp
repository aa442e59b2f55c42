#include "gui/qt/TemplateWidgets.h"

#include "gui/qt/CHyperLink.h"
#include "gui/qt/CMyListCtrl.h"
#include "online/DownloadWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace crenovix::qt {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QString PlainToolTip(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

std::string MessageText(std::string_view text) {
    std::string shown(text);
    const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    for (std::size_t line = 0; line < shown.size(); line = shown.find('\n', line) + 1) {
        std::size_t end = line;
        while (end < shown.size() &&
               (lower(shown[end]) || (shown[end] >= 'A' && shown[end] <= 'Z'))) {
            ++end;
        }
        if (end > line && lower(shown[line]) &&
            (end == shown.size() || shown[end] == ' ' || shown[end] == '\n')) {
            shown[line] = static_cast<char>(shown[line] - 'a' + 'A');
        }
        if (shown.find('\n', line) == std::string::npos) {
            break;
        }
    }
    return shown;
}

QString NameFilter(std::string_view label, std::string_view pattern) {
    // Appended piece by piece: g++ 12 at -O2 warns falsely (-Wrestrict) on "(" + std::string.
    std::string named = "(";
    named.append(pattern);
    named += ')';
    if (label.ends_with(named)) {
        return FromUtf8(label);
    }
    std::string text(label);
    text += ' ';
    text += named;
    return FromUtf8(text);
}

void SetAccessibleTexts(const std::map<int, QWidget*>& controls,
                        std::initializer_list<SAccessibleText> texts) {
    for (const SAccessibleText& text : texts) {
        const auto found = controls.find(text.id);
        if (found != controls.end()) {
            found->second->setAccessibleName(QString::fromUtf8(text.name));
            found->second->setAccessibleDescription(QString::fromUtf8(text.description));
        }
    }
}

QWidget* CTemplateControls::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void CTemplateControls::SetVisible(int id, bool visible) {
    if (QWidget* widget = Control(id)) {
        widget->setVisible(visible);
    }
}

void CTemplateControls::SetEnabled(int id, bool enabled) {
    if (QWidget* widget = Control(id)) {
        widget->setEnabled(enabled);
    }
}

void CTemplateControls::SetText(int id, const std::string& text) {
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(FromUtf8(text));
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(FromUtf8(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(FromUtf8(text));
    }
}

std::string CTemplateControls::GetText(int id) {
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return ToUtf8(edit->text());
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return ToUtf8(label->text());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return ToUtf8(button->text());
    }
    return {};
}

bool CTemplateControls::IsChecked(int id) {
    auto* box = qobject_cast<QAbstractButton*>(Control(id));
    return box != nullptr && box->isChecked();
}

void CTemplateControls::SetChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(Control(id))) {
        box->setChecked(checked);
    }
}

std::optional<std::string> ChooseUpdateFileName(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(NameFilter("Kelvorin Update File(*.bin)", "*.bin"));
    dialog.setDefaultSuffix("bin");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return ToUtf8(dialog.selectedFiles().front());
}

std::optional<std::string> ChooseSaveFileName(QWidget* parent, const QString& title,
                                              const SSaveDialogRequest& request) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(NameFilter(request.filterLabel, request.filterPattern));
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

void ShowNoticeBox(QPointer<QMessageBox>& notice, QWidget* parent, const std::string& text,
                   const std::string& title) {
    QApplication::beep();
    if (notice == nullptr) {
        notice = new QMessageBox(QMessageBox::NoIcon, FromUtf8(title), FromUtf8(text),
                                 QMessageBox::Ok, parent);
        notice->setTextFormat(Qt::PlainText);
        notice->setWindowModality(Qt::NonModal);
        notice->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        notice->setWindowTitle(FromUtf8(title));
        notice->setText(FromUtf8(text));
    }
    notice->show();
    notice->raise();
    notice->activateWindow();
}

namespace {

// The space, in dialog units, that dialogs keep free along their edges.
constexpr int kDialogMargin = 7;

// The list box: the focus drawn as a clear frame, not only as the current line's faint mark.
class CListBox final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void paintEvent(QPaintEvent* event) override {
        QListWidget::paintEvent(event);
        PaintListFocusMark(*this);
    }
};

// A single-line field that takes no Alt+letter: such a key is a mnemonic or nothing, as in a
// Windows dialog, never a letter typed into the field.
class CEdit final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const Qt::KeyboardModifiers modifiers = event->modifiers();
        if ((modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier) &&
            !event->text().isEmpty()) {
            event->ignore();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
};

// A group box whose mnemonic moves the focus to the control after it, as a label's does (the
// controls it frames are the dialog's, not its children, so Qt's own handling finds none).
class CGroupBox final : public QGroupBox {
public:
    using QGroupBox::QGroupBox;
    void SetBuddy(QWidget* buddy) { buddy_ = buddy; }

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::Shortcut && buddy_ != nullptr) {
            buddy_->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
        return QGroupBox::event(event);
    }

private:
    QWidget* buddy_ = nullptr;
};

QLabel* MakeLabel(const QString& caption, Qt::Alignment alignment, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    // Texts come from update files and catalogues: never let Qt read them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

QWidget* MakeWidget(const SControlTemplate& control, const QSize& size, QDialog& dialog,
                    const std::function<QPixmap(QSize)>& picture) {
    const QString caption = FromUtf8(control.caption);
    switch (control.kind) {
    case EControlKind::Picture: {
        auto* label = new QLabel(&dialog);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setPixmap(picture(size - QSize(2, 2)));
        return label;
    }
    case EControlKind::Label:
    case EControlKind::Text: {
        QLabel* label = MakeLabel(caption, Qt::AlignLeft, &dialog);
        label->setWordWrap(control.h > 10);
        return label;
    }
    case EControlKind::CenteredText:
        return MakeLabel(caption, Qt::AlignHCenter, &dialog);
    case EControlKind::Link:
        return new CHyperLink(caption, &dialog);
    case EControlKind::CheckBox:
        return new QCheckBox(caption, &dialog);
    case EControlKind::ListBox: {
        auto* list = new CListBox(&dialog);
        // As the platform's list box does: the bar shows only when the lines overflow.
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        return list;
    }
    case EControlKind::ReportList:
        return new CMyListCtrl(&dialog);
    case EControlKind::GroupBox:
        return new CGroupBox(caption, &dialog);
    case EControlKind::Edit:
        return new CEdit(&dialog);
    case EControlKind::Button:
    case EControlKind::DefaultButton: {
        auto* button = new QPushButton(caption, &dialog);
        button->setAutoDefault(false);
        button->setDefault(control.kind == EControlKind::DefaultButton);
        return button;
    }
    case EControlKind::ProgressBar: {
        auto* bar = new QProgressBar(&dialog);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return new QWidget(&dialog);
}

} // namespace

std::map<int, QWidget*> BuildFromTemplate(QDialog& dialog, const SDialogTemplate& layout,
                                          const std::function<QPixmap(QSize)>& picture) {
    const QFontMetrics metrics(dialog.font());
    const SDialogUnits units = DialogUnitsFromFont(
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
        metrics.height());
    dialog.setFixedSize(units.X(layout.w), units.Y(layout.h));

    std::map<int, QWidget*> controls;
    std::vector<QWidget*> groupBoxes;
    QWidget* wantsBuddy = nullptr; // a mnemonic label or group box waiting for the next control
    for (const SControlTemplate& control : layout.controls) {
        QRect place(units.X(control.x), units.Y(control.y), units.X(control.w), units.Y(control.h));
        QWidget* widget = MakeWidget(control, place.size(), dialog, picture);
        const bool staticText =
            control.kind == EControlKind::Label || control.kind == EControlKind::Text;
        if (staticText && !control.caption.empty()) {
            // The platform's font may set a caption wider than the Windows dialog font did;
            // a fixed caption grows to the right rather than lose its last letters.
            place.setWidth(std::max(place.width(), widget->sizeHint().width()));
        }
        widget->setGeometry(place);
        widget->setVisible(!control.hidden);
        if (auto* link = qobject_cast<CHyperLink*>(widget)) {
            link->SetRightLimit(units.X(layout.w - kDialogMargin));
            link->Attach(); // after it has its place: it shrinks to its text
        }
        if (control.kind == EControlKind::GroupBox) {
            groupBoxes.push_back(widget);
        }
        if (wantsBuddy != nullptr && widget->focusPolicy() != Qt::NoFocus &&
            control.kind != EControlKind::Link) {
            if (auto* label = qobject_cast<QLabel*>(wantsBuddy)) {
                label->setBuddy(widget);
            } else {
                static_cast<CGroupBox*>(wantsBuddy)->SetBuddy(widget);
            }
            wantsBuddy = nullptr;
        }
        if ((staticText || control.kind == EControlKind::GroupBox) &&
            control.caption.find('&') != std::string::npos) {
            wantsBuddy = widget;
        }
        if (control.id != 0) {
            widget->setObjectName(QString("ctl%1").arg(control.id));
            controls[control.id] = widget;
        }
    }
    // Group boxes frame controls created after them; keep them behind.
    for (QWidget* box : groupBoxes) {
        box->lower();
    }
    return controls;
}

} // namespace crenovix::qt
