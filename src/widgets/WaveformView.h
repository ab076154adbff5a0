#pragma once

#include <QColor>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

namespace kallomir {

// The overview of a whole recording: its waveform, the stretches already heard shaded behind
// it, and the play position as a line. A click asks to move playback there. The waveform
// comes column by column from a reader and may grow while the recording loads: refresh()
// takes what has become ready.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    // Fills `count` columns (lowest and highest sample, -1..1) for the whole recording and
    // returns how many, from the left, are ready.
    using ColumnReader = std::function<int(int count, float* low, float* high)>;

    static inline const QColor kBackground{250, 250, 247};
    static inline const QColor kHeard{196, 230, 196};
    static inline const QColor kWave{52, 88, 150};
    static inline const QColor kPosition{210, 30, 30};

    explicit WaveformView(QWidget* parent = nullptr);

    void setSource(ColumnReader reader);  // an empty reader shows nothing
    // Reads the columns again when some were not ready or the width changed.
    void refresh();
    int readyColumns() const { return ready_; }
    bool complete() const { return source_ && ready_ == static_cast<int>(low_.size()); }

    // Where playback stands, 0..1 of the recording; below 0 hides the line.
    void setPosition(double fraction);
    double position() const { return position_; }
    // The heard stretches as fractions of the recording.
    void setHeard(std::vector<std::pair<double, double>> stretches);

    QSize sizeHint() const override { return {400, 56}; }

signals:
    void seekRequested(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int columnAt(double fraction) const;

    ColumnReader source_;
    std::vector<float> low_, high_;
    int ready_ = 0;
    double position_ = -1;
    std::vector<std::pair<double, double>> heard_;
};

}  // namespace kallomir
