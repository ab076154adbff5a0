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

}  // namespace kallomir
