#include "player/PlaybackRules.h"

#include "core/VbConvert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kallomir {

QString FormatDuration(std::int64_t seconds) {
    const bool negative = seconds < 0;
    // The magnitude of INT64_MIN does not fit; it is no real duration anyway.
    const std::uint64_t total = negative ? static_cast<std::uint64_t>(-(seconds + 1)) + 1
                                         : static_cast<std::uint64_t>(seconds);
    const std::uint64_t s = total % 60;
    const std::uint64_t minutes = total / 60;
    const std::uint64_t m = minutes % 60;
    const std::uint64_t hours = minutes / 60;
    const std::uint64_t h = hours % 24;
    const std::uint64_t d = hours / 24;
    auto two = [](std::uint64_t v) { return QString::number(v).rightJustified(2, u'0'); };
    return (negative ? QStringLiteral("-") : QString()) + two(d) + u':' + two(h) + u':' + two(m) +
           u':' + two(s);
}

std::int64_t BytesForSeconds(double seconds, std::int64_t bytesPerSecond) {
    return ToInt64(seconds / 1000.0 * static_cast<double>(bytesPerSecond)) * 1000;
}

std::int64_t SecondsForBytes(std::int64_t bytes, std::int64_t bytesPerSecond) {
    if (bytesPerSecond <= 0)
        return 0;
    const double ms =
        std::floor(static_cast<double>(bytes) / static_cast<double>(bytesPerSecond) * 1000.0);
    return ToInt64(ms / 1000.0);
}

std::int64_t PlayStartPosition(int cursor, int scrollerMax, std::int64_t bytesPerSecond) {
    if (cursor <= 0)
        return 0;
    if (cursor == scrollerMax)
        return BytesForSeconds(cursor - 1, bytesPerSecond);
    return BytesForSeconds(cursor, bytesPerSecond);
}

std::int64_t DragPosition(int sliderValue, std::int64_t bytesPerSecond, std::int64_t bufferBytes) {
    const std::int64_t b = BytesForSeconds(sliderValue, bytesPerSecond);
    const std::int64_t last = bufferBytes > 0 ? bufferBytes - 1 : 0;
    if (b > last)
        return last;
    return b < 0 ? 0 : b;
}

std::optional<int> DigitKeySeconds(int keyCode) {
    if (keyCode >= 49 && keyCode <= 57)
        return keyCode - 48;
    if (keyCode >= 97 && keyCode <= 105)
        return keyCode - 96;
    return std::nullopt;
}

std::optional<std::int64_t> DigitRewindPosition(int keyCode, int scrollerValue,
                                                std::int64_t bytesPerSecond) {
    const auto n = DigitKeySeconds(keyCode);
    if (!n)
        return std::nullopt;
    const std::int64_t b = BytesForSeconds(scrollerValue - *n, bytesPerSecond);
    if (b > 0)
        return b;
    return std::nullopt;
}

std::optional<FastFactors> FastFactorTable(int nativeFrequencyValue) {
    switch (nativeFrequencyValue) {
        case 4410:
            // Held as the text "2,26" with a decimal comma in the original table.
            return FastFactors{2, 2.26};
        case 2205:
            return FastFactors{3, 4};
        case 1102:
            return FastFactors{4, 8};
        case 800:
            return FastFactors{5, 10};
        default:
            return std::nullopt;
    }
}

int FastPressedFrequency(int frequency, double factor) {
    return ToInt32(static_cast<double>(frequency) * factor);
}

int FastReleasedFrequency(int frequency, double factor) {
    if (factor == 0)
        return frequency;
    return ToInt32(static_cast<double>(frequency) / factor);
}

int FrequencyScrollValue(int hertz) {
    return hertz / 10;
}

QString FrequencyLabel(int hertz) {
    return QStringLiteral("Frequenz: ") + QString::number(hertz) + QStringLiteral(" Hz");
}

std::int64_t MovedPosition(std::int64_t from, double seconds, std::int64_t bytesPerSecond,
                           std::int64_t bufferBytes, int blockAlign) {
    const std::int64_t block = std::max(blockAlign, 1);
    const std::int64_t last = std::max<std::int64_t>(bufferBytes - bufferBytes % block - block, 0);
    // A position past the end (a recording that ended while paused) counts from its last frame.
    const double target = static_cast<double>(std::clamp<std::int64_t>(from, 0, last)) +
                          seconds * static_cast<double>(bytesPerSecond);
    const auto bytes =
        static_cast<std::int64_t>(std::llround(std::clamp(target, 0.0, static_cast<double>(last))));
    return bytes - bytes % block;
}

int ClampTempoTenths(int tenths) {
    return std::clamp(tenths, kTempoMinTenths, kTempoMaxTenths);
}

QString TempoLabel(int tenths) {
    return QString::number(tenths / 10) + u',' + QString::number(tenths % 10) + QChar(0x00D7);
}

double EffectiveSpeed(int frequency, int nativeFrequency, int tempoTenths) {
    if (nativeFrequency <= 0)
        return tempoTenths / 10.0;
    return static_cast<double>(frequency) / nativeFrequency * tempoTenths / 10.0;
}

}  // namespace kallomir
