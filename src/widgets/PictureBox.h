#pragma once

#include <QColor>
#include <QImage>
#include <QLineF>
#include <QWidget>

namespace kallomir {

// A drawing surface that keeps its picture: whatever was drawn survives repaints and
// resizes (a larger box shows new background around the old picture). Measures in pixels,
// origin top left, y growing downwards.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    double innerWidth() const { return width(); }
    double innerHeight() const { return height(); }

    void setBackColor(const QColor& color);
    void setForeColor(const QColor& color) { foreColor_ = color; }
    QColor backColor() const { return backColor_; }
    QColor foreColor() const { return foreColor_; }

    // Fills the picture with the background colour.
    void clear();
    // Draws a one-pixel line in the foreground colour.
    void drawLine(QPointF from, QPointF to);

    const QImage& picture() const { return picture_; }
    // The last line drawn since the last clear; a null line when none.
    QLineF lastLine() const { return lastLine_; }
    int linesSinceClear() const { return lines_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitPicture();

    QImage picture_;
    QColor backColor_ = Qt::white;
    QColor foreColor_ = Qt::black;
    QLineF lastLine_;
    int lines_ = 0;
};

}  // namespace kallomir
