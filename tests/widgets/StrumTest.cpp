#include "core/RuntimeError.h"
#include "widgets/PictureBox.h"
#include "widgets/Strum.h"

#include <QPixmap>

#include <gtest/gtest.h>

#include <cmath>

using namespace kallomir;

namespace {

class StrumTest : public ::testing::Test {
protected:
    void SetUp() override {
        box.resize(100, 80);
        meter.NewLCD(box);
    }
    QPointF from() const { return box.lastLine().p1(); }
    QPointF to() const { return box.lastLine().p2(); }

    PictureBox box;
    Strum meter;
};

TEST_F(StrumTest, BottomCenterPivotsAtTheBottomMiddle) {
    meter.BottomCenter(500);
    EXPECT_EQ(from(), QPointF(50, 72));
    // 90 degrees with 3.14 for pi leaves the needle a hair left of vertical.
    EXPECT_NEAR(to().x(), 50 - 64 * std::cos(1.57), 1e-4);
    EXPECT_NEAR(to().y(), 72 - 64 * std::sin(1.57), 1e-4);
    EXPECT_LT(to().x(), 50);

    meter.BottomCenter(0);  // 30 degrees above the horizontal, to the left
    EXPECT_NEAR(to().x(), 50 - 64 * std::cos(30 * 3.14 / 180), 1e-4);
    EXPECT_NEAR(to().y(), 72 - 64 * std::sin(30 * 3.14 / 180), 1e-4);
    EXPECT_EQ(box.linesSinceClear(), 1);  // each call replaces the picture
}

TEST_F(StrumTest, CenterNeedlesAreSymmetricAtTheEnds) {
    box.resize(101, 81);  // odd sizes: the pivot uses rounded halves
    meter.Center(0);
    const QPointF low = to();
    EXPECT_EQ(from(), QPointF(50, 40));  // 50.5 -> 50 (even), 40.5 -> 40
    meter.Center(1000);
    const QPointF high = to();
    EXPECT_EQ(from(), QPointF(50, 40));
    const double r = 44;  // round(50.5 - 6) = 44 (44.5 -> 44)
    EXPECT_NEAR(low.x(), 50 - r * std::cos(-45 * 3.14 / 180), 1e-4);
    EXPECT_GT(low.y(), 40);  // below the centre, left
    EXPECT_LT(low.x(), 50);
    EXPECT_GT(high.x(), 50);  // below the centre, right
    EXPECT_NEAR(low.y(), high.y(), 0.05);
    EXPECT_NEAR(50 - low.x(), high.x() - 50, 0.05);
}

TEST_F(StrumTest, BottomDialQuarterCircle) {
    meter.Bottom(0);
    EXPECT_EQ(from(), QPointF(90, 72));
    EXPECT_NEAR(to().x(), 90 - 80, 1e-4);  // r = round(100 - 20) = 80, pointing left
    EXPECT_NEAR(to().y(), 72, 1e-4);
    meter.Bottom(1000);
    EXPECT_NEAR(to().x(), 90 - 80 * std::cos(1.57), 1e-4);
    EXPECT_NEAR(to().y(), 72 - 80 * std::sin(1.57), 1e-4);
}

TEST_F(StrumTest, BarMetersSpanTheMiddleEightyPercentUnclamped) {
    box.resize(100, 100);
    meter.VertMeter(1000);
    EXPECT_EQ(box.lastLine(), QLineF(100, 10, 0, 10));
    meter.VertMeter(0);
    EXPECT_EQ(box.lastLine(), QLineF(100, 90, 0, 90));
    meter.HorMeter(0);
    EXPECT_EQ(box.lastLine(), QLineF(10, 100, 10, 0));
    meter.HorMeter(1000);
    EXPECT_EQ(box.lastLine(), QLineF(90, 100, 90, 0));
    meter.HorMeter(-100);
    EXPECT_LT(from().x(), 10);
    EXPECT_NEAR(from().x(), 2, 1e-4);
}

TEST_F(StrumTest, OverflowAndUnboundBoxFailWithTheirErrors) {
    try {
        meter.VertMeter(-31769);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), errors::kOverflow);
    }
    meter.VertMeter(-31768);  // the lowest value that still fits

    Strum unbound;
    try {
        unbound.BottomCenter(0);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 91);
    }
}

TEST_F(StrumTest, PictureKeepsTheLineInItsColoursAcrossRepaints) {
    meter.BackColor(Qt::black);
    meter.ForeColor(Qt::green);
    meter.HorMeter(500);  // x = 50
    box.repaint();
    const QImage shown = box.grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(50, 40)), QColor(Qt::green));
    EXPECT_EQ(QColor(shown.pixel(20, 40)), QColor(Qt::black));
    meter.HorMeter(100);  // the old line is gone
    EXPECT_EQ(QColor(box.picture().pixel(50, 40)), QColor(Qt::black));
    EXPECT_EQ(QColor(box.picture().pixel(18, 40)), QColor(Qt::green));
}

}  // namespace
