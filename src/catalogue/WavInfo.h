#pragma once

#include <QString>

#include <optional>

namespace kallomir {

// What the recorder needs of a capture file's RIFF/WAVE header.
struct WavInfo {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;
    qint64 byteRate = 0;
    qint64 dataOffset = 0;  // first byte of the samples
    qint64 dataSize = 0;    // as the header states it
    qint64 fileSize = 0;

    // Audio bytes really present, from the data chunk to the end of the file.
    qint64 audioBytes() const;
    double audioSeconds() const {
        return byteRate > 0 ? double(audioBytes()) / double(byteRate) : 0.0;
    }

    // Nothing for a missing, short or non-WAVE file.
    static std::optional<WavInfo> Read(const QString& path);
};

}  // namespace kallomir
