#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace kallomir {

QPixmap AppPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1d, 0x3a, 0x5f));
    p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
    QPainterPath wave;
    wave.moveTo(s * 0.1, s * 0.62);
    for (int i = 0; i <= 40; ++i) {
        const double x = s * (0.1 + 0.8 * i / 40.0);
        const double envelope = std::sin(M_PI * i / 40.0);
        wave.lineTo(x, s * 0.62 - envelope * s * 0.18 * std::sin(i * 1.3));
    }
    p.setPen(QPen(QColor(0xe8, 0xee, 0xf4), s * 0.05, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0x30, 0x25));
    p.drawEllipse(QPointF(s * 0.72, s * 0.27), s * 0.13, s * 0.13);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) icon.addPixmap(AppPixmap(size));
    return icon;
}

QIcon SearchIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = size;
        // The page and its lines of text.
        p.setPen(QPen(QColor(0x60, 0x6a, 0x78), std::max(1.0, s * 0.04)));
        p.setBrush(QColor(0xfb, 0xfb, 0xf8));
        p.drawRect(QRectF(s * 0.08, s * 0.04, s * 0.6, s * 0.78));
        for (int line = 0; line < 4; ++line)
            p.drawLine(QPointF(s * 0.16, s * (0.18 + 0.13 * line)),
                       QPointF(s * 0.58, s * (0.18 + 0.13 * line)));
        // The glass and its handle.
        p.setPen(QPen(QColor(0x1d, 0x3a, 0x5f), s * 0.1, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.68, s * 0.68), QPointF(s * 0.92, s * 0.92));
        p.setPen(QPen(QColor(0x1d, 0x3a, 0x5f), s * 0.08));
        p.setBrush(QColor(0xcf, 0xe3, 0xf7, 200));
        p.drawEllipse(QPointF(s * 0.55, s * 0.55), s * 0.2, s * 0.2);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace kallomir
