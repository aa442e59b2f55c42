// Builds a window's controls from its dialog template: the Qt widget for each kind of control,
// placed in dialog units of the window's font, named "ctl<id>". Both windows use it, so a
// control kind looks and behaves the same wherever it appears.
#pragma once

#include "app/DialogTemplate.h"

#include <QPixmap>
#include <QSize>
#include <QString>

#include <functional>
#include <map>
#include <string>
#include <string_view>

class QDialog;
class QWidget;

namespace crenovix::gui {

QString FromUtf8(std::string_view text);
std::string ToUtf8(const QString& text);

// Fixes `dialog`'s size from the template and creates its controls; `picture` draws the side
// picture at the size it is given. Links are attached once placed. Returns the controls by id.
std::map<int, QWidget*> BuildFromTemplate(QDialog& dialog, const SDialogTemplate& layout,
                                          const std::function<QPixmap(QSize)>& picture);

} // namespace crenovix::gui
