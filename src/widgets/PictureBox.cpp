#include "widgets/PictureBox.h"

#include <QPainter>
#include <QResizeEvent>

namespace kallomir {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    fitPicture();
}

void PictureBox::setBackColor(const QColor& color) {
    backColor_ = color;
    clear();
}

void PictureBox::clear() {
    fitPicture();
    picture_.fill(backColor_);
    lastLine_ = QLineF();
    lines_ = 0;
    update();
}

void PictureBox::drawLine(QPointF from, QPointF to) {
    fitPicture();
    QPainter painter(&picture_);
    painter.setPen(QPen(foreColor_, 1));
    painter.drawLine(from, to);
    lastLine_ = QLineF(from, to);
    ++lines_;
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), backColor_);
    painter.drawImage(0, 0, picture_);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    fitPicture();
    QWidget::resizeEvent(event);
}

void PictureBox::fitPicture() {
    const QSize wanted = size().expandedTo(QSize(1, 1));
    if (picture_.size() == wanted)
        return;
    QImage larger(wanted, QImage::Format_RGB32);
    larger.fill(backColor_);
    if (!picture_.isNull()) {
        QPainter painter(&larger);
        painter.drawImage(0, 0, picture_);
    }
    picture_ = larger;
}

}  // namespace kallomir
