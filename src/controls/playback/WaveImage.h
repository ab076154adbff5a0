#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>
#include <optional>

namespace kallomir {

// The format of a PCM wave file as a sound buffer needs it.
struct WaveFormat {
    int formatTag = 1;  // 1 integer PCM, 3 IEEE float
    int sampleRate = 0;
    int bitsPerSample = 0;
    int channels = 0;
    int blockAlign = 0;
    int avgBytesPerSecond = 0;
};

// A wave file's audio held in memory: its format and a copy of the bytes of its data chunk,
// so nothing another program does to the file afterwards can disturb playback.
struct WaveImage {
    WaveFormat format;
    QByteArray data;
};

// Reads a RIFF/WAVE file into memory. Bytes after the data chunk (the recording trailer of
// the program's files) are not audio and stay out; a data chunk whose size runs past the end
// of the file (a capture cut short) is taken up to the last whole frame. Nothing, with a
// reason in error, for a file that is missing, not a wave file or not PCM.
std::optional<WaveImage> ReadWaveFile(const QString& path, QString* error);

}  // namespace kallomir
