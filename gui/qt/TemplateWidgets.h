// Builds a window's controls from its dialog template: the Qt widget for each kind of control,
// placed in dialog units of the window's font, named "ctl<id>". Both windows use it, so a
// control kind looks and behaves the same wherever it appears.
#pragma once

#include "app/DialogControls.h"
#include "app/DialogTemplate.h"

#include <QPixmap>
#include <QSize>
#include <QString>

#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class QDialog;
class QMessageBox;
class QWidget;
template <typename T>
class QPointer;

namespace crenovix {
struct SSaveDialogRequest;
}

namespace crenovix::qt {

QString FromUtf8(std::string_view text);
std::string ToUtf8(const QString& text);
// A tooltip that shows `text` as it is: Qt reads a tooltip with a tag in it as markup, and
// tooltips show catalogue texts and addresses from servers.
QString PlainToolTip(const QString& text);

// A message as the windows show it: every line that begins with a word in lower case begins with
// a capital, as the program's own messages do (the download library's details do not). Lines
// that begin with anything else, such as an address or a path, stay as they are.
std::string MessageText(std::string_view text);

// A file dialog's name filter for `label` and its `pattern` ("*.bin"): Qt shows the filter as it
// is given, so a label that already names its pattern in parentheses is not followed by it again.
QString NameFilter(std::string_view label, std::string_view pattern);

// What assistive tools say for a control: its name and, when it helps, what it does.
struct SAccessibleText {
    int id;
    const char* name;
    const char* description; // "" for none
};
void SetAccessibleTexts(const std::map<int, QWidget*>& controls,
                        std::initializer_list<SAccessibleText> texts);

// The controls of a window built by BuildFromTemplate, by id (IDialogControls), for every window
// that a logic drives: texts of edits, labels and buttons, check boxes' ticks.
class CTemplateControls : public virtual IDialogControls {
public:
    QWidget* Control(int id) const;

    void SetVisible(int id, bool visible) override;
    void SetEnabled(int id, bool enabled) override;
    void SetText(int id, const std::string& text) override;
    std::string GetText(int id) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;

protected:
    std::map<int, QWidget*> controls_; // BuildFromTemplate's
};

// The file-open dialog for update files over `parent`; nothing when the user cancels.
std::optional<std::string> ChooseUpdateFileName(QWidget* parent);
// The save dialog over `parent` as `request` describes it (the read-only box aside, which Qt's
// dialog has not); nothing when the user cancels.
std::optional<std::string> ChooseSaveFileName(QWidget* parent, const QString& title,
                                              const SSaveDialogRequest& request);

// A box beside the window that does not hold it up (the views' ShowNotice): made in `notice` the
// first time, its texts replaced after, with a beep.
void ShowNoticeBox(QPointer<QMessageBox>& notice, QWidget* parent, const std::string& text,
                   const std::string& title);

// Fixes `dialog`'s size from the template and creates its controls; `picture` draws the side
// picture at the size it is given. Links are attached once placed. A label or group box whose
// caption has a mnemonic ("&") hands the focus to the next control that takes it; Alt with any
// other letter types nothing into a field. Returns the controls by id.
std::map<int, QWidget*> BuildFromTemplate(QDialog& dialog, const SDialogTemplate& layout,
                                          const std::function<QPixmap(QSize)>& picture);

} // namespace crenovix::qt
