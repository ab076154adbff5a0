#include "controls/playback/WaveImage.h"

#include <QFile>

#include <cstring>

namespace kallomir {

namespace {

quint32 Le32(const char* p) {
    return static_cast<quint32>(static_cast<unsigned char>(p[0])) |
           static_cast<quint32>(static_cast<unsigned char>(p[1])) << 8 |
           static_cast<quint32>(static_cast<unsigned char>(p[2])) << 16 |
           static_cast<quint32>(static_cast<unsigned char>(p[3])) << 24;
}

quint16 Le16(const char* p) {
    return static_cast<quint16>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1])
                                                                       << 8);
}

bool Fail(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

bool ReadFormat(const QByteArray& chunk, WaveFormat& format, QString* error) {
    if (chunk.size() < 16)
        return Fail(error, QStringLiteral("formato del file non valido"));
    const char* p = chunk.constData();
    format.formatTag = Le16(p);
    format.channels = Le16(p + 2);
    format.sampleRate = static_cast<int>(Le32(p + 4));
    format.avgBytesPerSecond = static_cast<int>(Le32(p + 8));
    format.blockAlign = Le16(p + 12);
    format.bitsPerSample = Le16(p + 14);
    if (format.formatTag == 0xFFFE && chunk.size() >= 26) {
        // WAVE_FORMAT_EXTENSIBLE: the sub-format GUID starts with the plain format tag.
        format.formatTag = Le16(p + 24);
    }
    const bool pcm =
        format.formatTag == 1 && (format.bitsPerSample == 8 || format.bitsPerSample == 16 ||
                                  format.bitsPerSample == 24 || format.bitsPerSample == 32);
    const bool floating = format.formatTag == 3 && format.bitsPerSample == 32;
    if (!pcm && !floating)
        return Fail(error, QStringLiteral("formato audio non supportato"));
    if (format.channels < 1 || format.channels > 8 || format.sampleRate < 1000 ||
        format.sampleRate > 384000) {
        return Fail(error, QStringLiteral("formato audio non supportato"));
    }
    // The block size follows from the format; a wrong stored value must not misalign frames.
    format.blockAlign = format.channels * format.bitsPerSample / 8;
    if (format.avgBytesPerSecond <= 0)
        format.avgBytesPerSecond = format.blockAlign * format.sampleRate;
    return true;
}

}  // namespace

std::optional<WaveImage> ReadWaveFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(error, QStringLiteral("impossibile aprire il file: ") + file.errorString());
        return std::nullopt;
    }
    const qint64 size = file.size();
    char header[12];
    if (file.read(header, 12) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0) {
        Fail(error, QStringLiteral("il file non è un file audio wave"));
        return std::nullopt;
    }
    WaveImage image;
    bool haveFormat = false;
    qint64 pos = 12;
    while (pos + 8 <= size) {
        char chunk[8];
        if (!file.seek(pos) || file.read(chunk, 8) != 8)
            break;
        const qint64 length = Le32(chunk + 4);
        const qint64 body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            const QByteArray fmt = file.read(std::min<qint64>(length, 64));
            if (!ReadFormat(fmt, image.format, error))
                return std::nullopt;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                break;
            qint64 available = std::min(length, size - body);
            available -= available % image.format.blockAlign;
            // Read, not mapped: a mapping would crash the program (SIGBUS) if another program
            // cut the file short while it plays. Uninitialised: the read fills every byte.
            if (!file.seek(body)) {
                Fail(error, QStringLiteral("errore di lettura del file"));
                return std::nullopt;
            }
            image.data = QByteArray(available, Qt::Uninitialized);
            if (file.read(image.data.data(), available) != available) {
                Fail(error, QStringLiteral("errore di lettura del file"));
                return std::nullopt;
            }
            return image;
        }
        pos = body + length + (length & 1);  // chunks are padded to even sizes
    }
    Fail(error, haveFormat ? QStringLiteral("il file non contiene dati audio")
                           : QStringLiteral("il file non è un file audio wave"));
    return std::nullopt;
}

}  // namespace kallomir
