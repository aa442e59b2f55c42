#include "app/qt/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace crenovix::gui {

namespace {
const QColor kBody(0x1F, 0x4E, 0x79);
const QColor kBolt(0xFF, 0xC8, 0x2E);
const QColor kCharge(0x4C, 0xAF, 0x50);

// A battery standing upright in `area`, its charge level 0..1, with a bolt across it.
void DrawBattery(QPainter& painter, const QRectF& area, double level) {
    const double w = area.width();
    const double h = area.height();
    const QRectF cap(area.left() + w * 0.35, area.top(), w * 0.3, h * 0.08);
    const QRectF body(area.left(), area.top() + h * 0.07, w, h * 0.93);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBody);
    painter.drawRoundedRect(cap, w * 0.05, w * 0.05);
    painter.drawRoundedRect(body, w * 0.12, w * 0.12);
    const QRectF inner = body.adjusted(w * 0.1, w * 0.1, -w * 0.1, -w * 0.1);
    painter.setBrush(QColor(0xE8, 0xEE, 0xF4));
    painter.drawRoundedRect(inner, w * 0.06, w * 0.06);
    const QRectF charge(inner.left(), inner.bottom() - inner.height() * level, inner.width(),
                        inner.height() * level);
    painter.setBrush(kCharge);
    painter.drawRoundedRect(charge, w * 0.06, w * 0.06);

    QPainterPath bolt;
    const double cx = inner.center().x();
    const double top = inner.top() + inner.height() * 0.12;
    const double bottom = inner.bottom() - inner.height() * 0.12;
    const double mid = (top + bottom) / 2;
    bolt.moveTo(cx + w * 0.12, top);
    bolt.lineTo(cx - w * 0.22, mid + h * 0.04);
    bolt.lineTo(cx - w * 0.01, mid + h * 0.04);
    bolt.lineTo(cx - w * 0.12, bottom);
    bolt.lineTo(cx + w * 0.22, mid - h * 0.04);
    bolt.lineTo(cx + w * 0.01, mid - h * 0.04);
    bolt.closeSubpath();
    painter.setBrush(kBolt);
    painter.setPen(QPen(kBody, std::max(1.0, w * 0.03)));
    painter.drawPath(bolt);
}
void FillSky(QPainter& painter, QSize size) {
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(0x2C, 0x6E, 0xA8));
    sky.setColorAt(1, QColor(0x0E, 0x2A, 0x47));
    painter.fillRect(QRect(QPoint(0, 0), size), sky);
}

// Two centred lines under the picture: a bold title at `top` and a subtitle below it. Sizes and
// heights are fractions of the picture so the captions scale with it.
struct SCaptions {
    const char* title;
    const char* subtitle;
    double top;
    double titleHeight;
    double subtitleHeight;
    int titleDivisor;    // title pixel size = width / titleDivisor
    int subtitleDivisor; // likewise
};

void DrawCaptions(QPainter& painter, QSize size, const SCaptions& captions) {
    painter.setPen(QColor(0xE8, 0xEE, 0xF4));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::max(8, size.width() / captions.titleDivisor));
    painter.setFont(font);
    painter.drawText(
        QRectF(0, size.height() * captions.top, size.width(), size.height() * captions.titleHeight),
        Qt::AlignCenter, captions.title);
    font.setBold(false);
    font.setPixelSize(std::max(7, size.width() / captions.subtitleDivisor));
    painter.setFont(font);
    painter.drawText(QRectF(0, size.height() * (captions.top + captions.titleHeight), size.width(),
                            size.height() * captions.subtitleHeight),
                     Qt::AlignCenter, captions.subtitle);
}
} // namespace

QPixmap AppIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double margin = size * 0.12;
    DrawBattery(painter, QRectF(size * 0.22, margin, size * 0.56, size - 2 * margin), 0.6);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(AppIconPixmap(size));
    }
    return icon;
}

QPixmap SidePicture(QSize size) {
    QPixmap pixmap(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    FillSky(painter, size);
    const double w = size.width() * 0.5;
    DrawBattery(painter, QRectF((size.width() - w) / 2, size.height() * 0.2, w, w * 1.9), 0.8);
    DrawCaptions(painter, size, {"Kelvorin", "Firmware Update", 0.72, 0.1, 0.08, 7, 10});
    return pixmap;
}

QPixmap DownloadSidePicture(QSize size) {
    QPixmap pixmap(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    FillSky(painter, size);

    // A downward arrow over the battery: the file comes down to the charger.
    const double cx = size.width() / 2.0;
    const double unit = size.width() * 0.09;
    const double top = size.height() * 0.1;
    QPainterPath arrow;
    arrow.moveTo(cx - unit, top);
    arrow.lineTo(cx + unit, top);
    arrow.lineTo(cx + unit, top + unit * 3);
    arrow.lineTo(cx + unit * 2.5, top + unit * 3);
    arrow.lineTo(cx, top + unit * 5.5);
    arrow.lineTo(cx - unit * 2.5, top + unit * 3);
    arrow.lineTo(cx - unit, top + unit * 3);
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBolt);
    painter.drawPath(arrow);

    const double w = size.width() * 0.56;
    const double batteryTop = top + unit * 7;
    const double h = std::min(w * 1.9, size.height() * 0.76 - batteryTop);
    DrawBattery(painter, QRectF(cx - w / 2, batteryTop, w, h), 0.45);

    DrawCaptions(painter, size, {"Kelvorin", "Updates", 0.8, 0.08, 0.07, 6, 8});
    return pixmap;
}

} // namespace crenovix::gui
