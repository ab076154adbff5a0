#pragma once

#include <QString>

#include <optional>

namespace kallomir {

// The format of a WAV file as its header states it.
struct WaveHeader {
    int formatTag = 0;  // 1 = PCM
    int channels = 0;
    int samplesPerSecond = 0;
    int bitsPerSample = 0;
    qint64 dataOffset = -1;  // -1 when no data chunk was found
    qint64 dataBytes = 0;    // as the header states it (clipped to what the file holds)
};

enum class WaveHeaderError { None, CannotOpen, NotWave };

// Reads only the RIFF header chunks up to the data chunk, so trailing bytes after the data
// (a text trailer) and a stale data size (a capture cut short) do not matter.
std::optional<WaveHeader> ReadWaveHeader(const QString& path, WaveHeaderError* error = nullptr);

}  // namespace kallomir
