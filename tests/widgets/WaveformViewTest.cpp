#include "widgets/WaveformView.h"

#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

// A recording loud in its first half and silent in its second, of which `ready` of the
// asked columns are known.
struct FakePeaks {
    double readyShare = 1.0;
    int calls = 0;
    int read(int count, float* low, float* high) {
        ++calls;
        const int ready = static_cast<int>(count * readyShare);
        for (int c = 0; c < ready; ++c) {
            const float level = c < count / 2 ? 0.9f : 0.0f;
            low[c] = -level;
            high[c] = level;
        }
        return ready;
    }
};

int CountColour(const QImage& image, int x, const QColor& colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) n += image.pixelColor(x, y) == colour;
    return n;
}

}  // namespace

TEST(WaveformView, DrawsWhatIsReadyHeardStretchesAndThePosition) {
    FakePeaks peaks;
    peaks.readyShare = 0.25;
    WaveformView view;
    view.resize(400, 60);
    view.setSource([&](int n, float* lo, float* hi) { return peaks.read(n, lo, hi); });
    EXPECT_EQ(view.readyColumns(), 100);
    EXPECT_FALSE(view.complete());
    QImage image = view.grab().toImage();
    EXPECT_GT(CountColour(image, 50, WaveformView::kWave), 40);  // loud and ready
    EXPECT_EQ(CountColour(image, 150, WaveformView::kWave), 0);  // loud but not read yet

    peaks.readyShare = 1.0;
    view.refresh();
    EXPECT_TRUE(view.complete());
    const int calls = peaks.calls;
    view.refresh();  // complete: nothing asked again
    EXPECT_EQ(peaks.calls, calls);

    view.setHeard({{0.0, 0.1}, {0.6, 0.7}});
    view.setPosition(0.9);
    image = view.grab().toImage();
    EXPECT_GT(CountColour(image, 150, WaveformView::kWave), 40);
    EXPECT_EQ(CountColour(image, 300, WaveformView::kWave), 1);    // silence: the middle dot
    EXPECT_GT(CountColour(image, 260, WaveformView::kHeard), 40);  // heard, silent part
    EXPECT_EQ(CountColour(image, 220, WaveformView::kHeard), 0);   // not heard
    EXPECT_GT(CountColour(image, 360, WaveformView::kPosition), 50);
    EXPECT_EQ(CountColour(image, 300, WaveformView::kPosition), 0);

    view.setPosition(-1);
    image = view.grab().toImage();
    EXPECT_EQ(CountColour(image, 360, WaveformView::kPosition), 0);

    // A wider window reads the columns again at its width.
    view.resize(800, 60);
    view.refresh();
    EXPECT_EQ(view.readyColumns(), 800);
}

TEST(WaveformView, ClickAsksToPlayFromThere) {
    WaveformView view;
    view.resize(500, 50);
    QSignalSpy spy(&view, &WaveformView::seekRequested);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(125, 20));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_DOUBLE_EQ(spy.at(0).at(0).toDouble(), 0.25);
    QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(300, 20));
    EXPECT_EQ(spy.count(), 1);
}
