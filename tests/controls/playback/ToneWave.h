#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <cmath>
#include <cstdint>

namespace kallomir::test {

// A PCM wave file image holding a sine tone (or silence when hertz is 0), optionally followed
// by trailing bytes (the recording trailer of the program's files).
inline QByteArray ToneWave(int rate, int bits, int channels, double seconds, double hertz,
                           const QByteArray& trailer = {}, double amplitude = 0.5) {
    const int blockAlign = channels * bits / 8;
    const auto frames = static_cast<std::int64_t>(std::llround(seconds * rate));
    QByteArray data;
    data.reserve(static_cast<qsizetype>(frames * blockAlign));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * M_PI * hertz * static_cast<double>(i) / rate);
        for (int c = 0; c < channels; ++c) {
            if (bits == 8) {
                data.append(
                    static_cast<char>(static_cast<std::uint8_t>(std::lround(128 + v * 127))));
            } else {
                const auto s = static_cast<std::int16_t>(std::lround(v * 32767));
                char b[2];
                qToLittleEndian(s, b);
                data.append(b, 2);
            }
        }
    }
    auto le32 = [](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        return QByteArray(b, 4);
    };
    auto le16 = [](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        return QByteArray(b, 2);
    };
    QByteArray out =
        "RIFF" + le32(static_cast<quint32>(36 + data.size())) + "WAVEfmt " + le32(16) + le16(1) +
        le16(static_cast<quint16>(channels)) + le32(static_cast<quint32>(rate)) +
        le32(static_cast<quint32>(rate * blockAlign)) + le16(static_cast<quint16>(blockAlign)) +
        le16(static_cast<quint16>(bits)) + "data" + le32(static_cast<quint32>(data.size())) + data;
    return out + trailer;
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

}  // namespace kallomir::test
