#include "widgets/Strum.h"

#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "widgets/PictureBox.h"

#include <cmath>
#include <limits>

namespace kallomir {

namespace {
constexpr int kObjectNotSet = 91;

// Degrees to radians with the instrument's own 3.14.
double Radians(double degrees) {
    return degrees * 3.14 / 180.0;
}

// A rounded (halves to even), then divided with the fraction dropped.
double Div(double a, int n) {
    return std::trunc(RoundHalfEven(a) / n);
}

double Round16(double a) {
    const double r = RoundHalfEven(a);
    if (r < std::numeric_limits<std::int16_t>::min() ||
        r > std::numeric_limits<std::int16_t>::max())
        throw RuntimeError(errors::kOverflow, QStringLiteral("Overflow"));
    return r;
}

QPointF Single(double x, double y) {
    return {double(float(x)), double(float(y))};
}
}  // namespace

void Strum::BackColor(const QColor& color) {
    box().setBackColor(color);
}
void Strum::ForeColor(const QColor& color) {
    box().setForeColor(color);
}

void Strum::NewLCD(PictureBox& box) {
    box_ = &box;
}

PictureBox& Strum::box() const {
    if (!box_)
        throw RuntimeError(kObjectNotSet,
                           QStringLiteral("Object variable or With block variable not set"));
    return *box_;
}

void Strum::Center(std::int16_t value) {
    PictureBox& b = box();
    const double w = b.innerWidth(), h = b.innerHeight();
    const double r = Round16(w / 2 - 6);
    const double a = Radians(value / 1000.0 * 270 - 45);
    b.clear();
    b.drawLine(Single(Div(w, 2), Div(h, 2)),
               Single(Div(w, 2) - r * std::cos(a), Div(h, 2) - r * std::sin(a)));
}

void Strum::Bottom(std::int16_t value) {
    PictureBox& b = box();
    const double w = b.innerWidth(), h = b.innerHeight();
    const double r = Round16(w - 2 * (w / 10));
    const double a = Radians(value / 1000.0 * 90);
    b.clear();
    b.drawLine(Single(w - Div(w, 10), h - Div(h, 10)),
               Single((w - w / 10) - r * std::cos(a), (h - h / 10) - r * std::sin(a)));
}

void Strum::BottomCenter(std::int16_t value) {
    PictureBox& b = box();
    const double w = b.innerWidth(), h = b.innerHeight();
    const double r = Round16(h - 2 * (h / 10));
    const double a = Radians(value / 1000.0 * 120 + 30);
    b.clear();
    b.drawLine(Single(Div(w, 2), h - Div(h, 10)),
               Single(w / 2 - r * std::cos(a), (h - h / 10) - r * std::sin(a)));
}

void Strum::VertMeter(std::int16_t value) {
    PictureBox& b = box();
    const int difference = int(value) - 1000;
    if (difference < std::numeric_limits<std::int16_t>::min())
        throw RuntimeError(errors::kOverflow, QStringLiteral("Overflow"));
    const double w = b.innerWidth(), h = b.innerHeight();
    const double y = std::abs(difference) / 1000.0 * (h - 2 * (h / 10)) + h / 10;
    b.clear();
    b.drawLine(Single(w, y), Single(w - Round16(w), y));
}

void Strum::HorMeter(std::int16_t value) {
    PictureBox& b = box();
    const double w = b.innerWidth(), h = b.innerHeight();
    const double x = (w - 2 * (w / 10)) * value / 1000 + w / 10;
    b.clear();
    b.drawLine(Single(x, h), Single(x, h - Round16(h)));
}

}  // namespace kallomir
