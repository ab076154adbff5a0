#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cmath>
#include <cstdint>

namespace kallomir::test {

// A mono 16-bit PCM WAV of the given length: a 440 Hz tone, or silence.
inline QByteArray MakeWav(double seconds, int rate = 8000, bool tone = true,
                          std::uint32_t headerDataSize = UINT32_MAX) {
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    QByteArray data(qsizetype(frames) * 2, '\0');
    for (std::uint32_t i = 0; tone && i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440.0 * i / rate));
        data[2 * i] = char(v & 0xff);
        data[2 * i + 1] = char((v >> 8) & 0xff);
    }
    const std::uint32_t dataSize = headerDataSize == UINT32_MAX ? frames * 2 : headerDataSize;
    auto le32 = [](std::uint32_t v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i) b[i] = char((v >> (8 * i)) & 0xff);
        return b;
    };
    auto le16 = [](std::uint16_t v) {
        QByteArray b(2, '\0');
        b[0] = char(v & 0xff);
        b[1] = char(v >> 8);
        return b;
    };
    QByteArray wav = "RIFF" + le32(36 + dataSize) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
                     le32(std::uint32_t(rate)) + le32(std::uint32_t(rate) * 2) + le16(2) +
                     le16(16) + "data" + le32(dataSize);
    return wav + data;
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace kallomir::test
