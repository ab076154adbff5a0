#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace kallomir::test {

// Writes samples as a mono 16-bit WAV file at the given rate (what baresip's aufile sends).
bool writeWav(const QString& path, const std::vector<int16_t>& samples, int rate);
inline bool writeWav8k(const QString& path, const std::vector<int16_t>& samples) {
    return writeWav(path, samples, 8000);
}

// The best normalised correlation of `sent` against `recorded` over shifts of the recording
// up to maxLag samples either way, over the part of `sent` that overlaps.
double bestCorrelation(const std::vector<int16_t>& sent, const std::vector<int16_t>& recorded,
                       int maxLag);
// The shift (recorded index minus sent index) at which bestCorrelation is found.
int bestLag(const std::vector<int16_t>& sent, const std::vector<int16_t>& recorded, int maxLag);

// The share of the signal's energy above `hz` (0 to 1), from its spectrum.
double energyAbove(const std::vector<int16_t>& samples, int rate, double hz);

// A sweep from f0 to f1 Hz over the samples, at the given amplitude: unlike a tone it has
// one best alignment, which codec delay does not hide.
std::vector<int16_t> chirp(int rate, int count, double f0, double f1, double amplitude = 8000);

// Root mean square of the samples.
double rms(const std::vector<int16_t>& samples);

}  // namespace kallomir::test
