#pragma once

#include <QColor>

#include <cstdint>

namespace kallomir {

class PictureBox;

// A simple analogue instrument on a picture box: each call clears the box and draws one
// line for a value on a 0-1000 scale (not clamped): a dial needle (Center, Bottom,
// BottomCenter) or a bar-meter marker (VertMeter, HorMeter). Every operation but the colour
// setters needs the box bound by NewLCD first; otherwise it throws RuntimeError 91.
class Strum {
public:
    void BackColor(const QColor& color);
    void ForeColor(const QColor& color);
    void NewLCD(PictureBox& box);

    // Needle sweeping 270 degrees round the middle: lower left (0), up (500), lower right.
    void Center(std::int16_t value);
    // Needle pivoting near the lower right corner: left (0) to up (1000).
    void Bottom(std::int16_t value);
    // Needle pivoting at the bottom centre: 30 degrees above left (0) to 30 above right.
    void BottomCenter(std::int16_t value);
    // Horizontal marker: a tenth of the height from the bottom (0) to a tenth from the top.
    // A value below -31768 overflows (error 6).
    void VertMeter(std::int16_t value);
    // Vertical marker: a tenth of the width from the left (0) to a tenth from the right.
    void HorMeter(std::int16_t value);

private:
    PictureBox& box() const;
    PictureBox* box_ = nullptr;
};

}  // namespace kallomir
