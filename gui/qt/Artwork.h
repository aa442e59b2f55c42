// The program's own pictures (app/Artwork.h) painted with QPainter: the
// application icon (a battery with a charging bolt), the main window's side picture and the
// download window's.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace crenovix::qt {

QPixmap AppIconPixmap(int size);
QIcon AppIcon();
QPixmap SidePicture(QSize size);
// A battery under a downward arrow: the download window's side picture.
QPixmap DownloadSidePicture(QSize size);

} // namespace crenovix::qt
