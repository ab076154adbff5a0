#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace kallomir {

// The arithmetic of the player's transport, speed control and information panel: pure
// functions, so the window only wires them to its controls.

// "dd:hh:mm:ss", each field at least two digits. The day field grows as needed, so durations
// of weeks or months read correctly; a negative duration (end before start) gets a '-'.
QString FormatDuration(std::int64_t seconds);

// A byte offset near s seconds, always a multiple of 1000:
// round(s / 1000 * bytesPerSecond) * 1000, halves to even.
std::int64_t BytesForSeconds(double seconds, std::int64_t bytesPerSecond);

// Whole seconds at byte b: round(floor(b / bytesPerSecond * 1000) / 1000), halves to even.
// 0 when the rate is unknown (0).
std::int64_t SecondsForBytes(std::int64_t bytes, std::int64_t bytesPerSecond);

// Where a fresh play starts for a start-point slider at cursor seconds: byte 0 for 0 (or
// less); one second earlier when the start point sits on the last second.
std::int64_t PlayStartPosition(int cursor, int scrollerMax, std::int64_t bytesPerSecond);

// Where a drag of the position slider to value seconds puts the buffer: Bytes(value),
// never past the last byte.
std::int64_t DragPosition(int sliderValue, std::int64_t bytesPerSecond, std::int64_t bufferBytes);

// The seconds a digit key stands for: keys '1'..'9' (49..57) and the numeric pad (97..105).
std::optional<int> DigitKeySeconds(int keyCode);

// Where a digit key moves playback: Bytes(scroller - N) when that is past byte 0.
std::optional<std::int64_t> DigitRewindPosition(int keyCode, int scrollerValue,
                                                std::int64_t bytesPerSecond);

// The factors of "Fast X 5" and "Fast X 10" for a recording's frequency \ 10.
struct FastFactors {
    double x5;
    double x10;
};
std::optional<FastFactors> FastFactorTable(int nativeFrequencyValue);

// The frequency while a fast button is held, and after it is released.
int FastPressedFrequency(int frequency, double factor);
int FastReleasedFrequency(int frequency, double factor);

// The frequency scroll bar works in tens of hertz over 10..10000.
inline constexpr int kFrequencyScrollMin = 10;
inline constexpr int kFrequencyScrollMax = 10000;
inline constexpr int kMinFrequency = 100;
inline constexpr int kMaxFrequency = 100000;
int FrequencyScrollValue(int hertz);
QString FrequencyLabel(int hertz);  // "Frequenz: " + hertz + " Hz"

// Where playback goes when it moves by `seconds` (negative: back) from byte `from`: whole
// frames, never before the start nor past the last frame. Used by auto-rewind on resume and
// by the back and forward keys.
std::int64_t MovedPosition(std::int64_t from, double seconds, std::int64_t bytesPerSecond,
                           std::int64_t bufferBytes, int blockAlign);

// "Velocità": tempo with the pitch kept, in tenths (5 = 0.5x .. 20 = 2.0x).
inline constexpr int kTempoMinTenths = 5;
inline constexpr int kTempoMaxTenths = 20;
int ClampTempoTenths(int tenths);
QString TempoLabel(int tenths);  // "1,0×"
// The speed heard: the frequency's share (pitch included) times the tempo.
double EffectiveSpeed(int frequency, int nativeFrequency, int tempoTenths);

}  // namespace kallomir
