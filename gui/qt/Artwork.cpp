#include "gui/qt/Artwork.h"

#include "app/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace crenovix::qt {

namespace {
QColor Colour(const artwork::SColour& colour) {
    return {colour.r, colour.g, colour.b};
}

QRectF Box(const artwork::SBox& box) {
    return {box.left, box.top, box.width, box.height};
}

template <class... Ts>
struct SOverloaded : Ts... {
    using Ts::operator()...;
};

// Walks the picture's shapes with an antialiasing painter, in the application's font.
QPixmap Paint(const artwork::SPicture& picture) {
    QPixmap pixmap(picture.width, picture.height);
    if (picture.transparent) {
        pixmap.fill(Qt::transparent);
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const artwork::SShape& shape : picture.shapes) {
        std::visit(SOverloaded{
                       [&](const artwork::SSky& sky) {
                           QLinearGradient gradient(0, 0, 0, picture.height);
                           gradient.setColorAt(0, Colour(sky.top));
                           gradient.setColorAt(1, Colour(sky.bottom));
                           painter.fillRect(QRect(0, 0, picture.width, picture.height), gradient);
                       },
                       [&](const artwork::SRoundBox& box) {
                           painter.setPen(Qt::NoPen);
                           painter.setBrush(Colour(box.fill));
                           painter.drawRoundedRect(Box(box.box), box.radius, box.radius);
                       },
                       [&](const artwork::SPolygon& polygon) {
                           QPainterPath path;
                           path.moveTo(polygon.points.front().x, polygon.points.front().y);
                           for (std::size_t i = 1; i < polygon.points.size(); ++i) {
                               path.lineTo(polygon.points[i].x, polygon.points[i].y);
                           }
                           path.closeSubpath();
                           painter.setBrush(Colour(polygon.fill));
                           if (polygon.outlineWidth > 0) {
                               painter.setPen(QPen(Colour(polygon.outline), polygon.outlineWidth));
                           } else {
                               painter.setPen(Qt::NoPen);
                           }
                           painter.drawPath(path);
                       },
                       [&](const artwork::STextLine& line) {
                           painter.setPen(Colour(line.colour));
                           QFont font = painter.font();
                           font.setBold(line.bold);
                           font.setPixelSize(line.pixelSize);
                           painter.setFont(font);
                           painter.drawText(
                               QRectF(0, picture.height * line.top, picture.width,
                                      picture.height * line.height),
                               Qt::AlignCenter,
                               QString::fromUtf8(line.text.data(),
                                                 static_cast<qsizetype>(line.text.size())));
                       },
                   },
                   shape);
    }
    return pixmap;
}
} // namespace

QPixmap AppIconPixmap(int size) {
    return Paint(artwork::AppIcon(size));
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(AppIconPixmap(size));
    }
    return icon;
}

QPixmap SidePicture(QSize size) {
    return Paint(artwork::SidePicture(ESidePicture::Main, size.width(), size.height()));
}

QPixmap DownloadSidePicture(QSize size) {
    return Paint(artwork::SidePicture(ESidePicture::Download, size.width(), size.height()));
}

} // namespace crenovix::qt
