#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace kallomir {

// A whole sound file as mono 16-bit samples (channels mixed down).
struct MonoSamples {
    int sampleRate = 0;
    std::vector<std::int16_t> samples;
};

// Reads a sound file; throws RuntimeError when it cannot be read. With `targetRate` > 0 the
// samples are converted to that rate.
MonoSamples ReadMonoSamples(const QString& path, int targetRate = 0);

}  // namespace kallomir
