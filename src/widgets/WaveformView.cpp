#include "widgets/WaveformView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kallomir {

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Waveform"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Clic: ascolta da qui"));
}

void WaveformView::setSource(ColumnReader reader) {
    source_ = std::move(reader);
    low_.clear();
    high_.clear();
    ready_ = 0;
    refresh();
}

void WaveformView::refresh() {
    const int columns = std::max(width(), 1);
    if (!source_) {
        update();
        return;
    }
    if (static_cast<int>(low_.size()) == columns && ready_ == columns)
        return;  // complete at this width
    if (static_cast<int>(low_.size()) != columns) {
        low_.assign(static_cast<size_t>(columns), 0.0f);
        high_.assign(static_cast<size_t>(columns), 0.0f);
        ready_ = 0;
    }
    const int ready = source_(columns, low_.data(), high_.data());
    if (ready != ready_) {
        ready_ = ready;
        update();
    }
}

int WaveformView::columnAt(double fraction) const {
    return std::clamp(static_cast<int>(std::floor(fraction * width())), 0,
                      std::max(width() - 1, 0));
}

void WaveformView::setPosition(double fraction) {
    if (fraction >= 0)
        fraction = std::min(fraction, 1.0);
    const bool moved = (fraction < 0) != (position_ < 0) ||
                       (fraction >= 0 && columnAt(fraction) != columnAt(position_));
    position_ = fraction;
    if (moved)
        update();
}

void WaveformView::setHeard(std::vector<std::pair<double, double>> stretches) {
    if (stretches == heard_)
        return;
    heard_ = std::move(stretches);
    update();
}

void WaveformView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = width(), h = height();
    painter.fillRect(rect(), kBackground);
    for (const auto& [from, to] : heard_) {
        const int x0 = static_cast<int>(std::floor(std::clamp(from, 0.0, 1.0) * w));
        const int x1 = static_cast<int>(std::ceil(std::clamp(to, 0.0, 1.0) * w));
        painter.fillRect(x0, 0, std::max(x1 - x0, 1), h, kHeard);
    }
    const double middle = (h - 1) / 2.0;
    painter.setPen(QColor(200, 200, 195));
    painter.drawLine(0, static_cast<int>(middle), w, static_cast<int>(middle));
    painter.setPen(kWave);
    const int columns = std::min(ready_, static_cast<int>(low_.size()));
    for (int x = 0; x < columns; ++x) {
        const auto top =
            static_cast<int>(std::lround(middle - high_[static_cast<size_t>(x)] * middle));
        const auto bottom =
            static_cast<int>(std::lround(middle - low_[static_cast<size_t>(x)] * middle));
        painter.drawLine(x, top, x, std::max(top, bottom));
    }
    if (position_ >= 0) {
        painter.setPen(QPen(kPosition, 2));
        const int x = columnAt(position_);
        painter.drawLine(x, 0, x, h);
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, w - 1, h - 1);
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || width() <= 0)
        return QWidget::mousePressEvent(event);
    emit seekRequested(std::clamp(event->position().x() / width(), 0.0, 1.0));
    event->accept();
}

}  // namespace kallomir
