// The program's own pictures, drawn in code so that there is one source for every size: the
// application icon (a battery with a charging bolt) and the main window's side picture.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace crenovix::gui {

QPixmap AppIconPixmap(int size);
QIcon AppIcon();
QPixmap SidePicture(QSize size);

} // namespace crenovix::gui
