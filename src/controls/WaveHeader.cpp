#include "controls/WaveHeader.h"

#include <QFile>
#include <QtEndian>

namespace kallomir {

namespace {

quint32 Le32(const char* bytes) {
    return qFromLittleEndian<quint32>(bytes);
}
quint16 Le16(const char* bytes) {
    return qFromLittleEndian<quint16>(bytes);
}

std::optional<WaveHeader> Fail(WaveHeaderError* error, WaveHeaderError why) {
    if (error)
        *error = why;
    return std::nullopt;
}

}  // namespace

std::optional<WaveHeader> ReadWaveHeader(const QString& path, WaveHeaderError* error) {
    if (error)
        *error = WaveHeaderError::None;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(error, WaveHeaderError::CannotOpen);

    char riff[12];
    if (file.read(riff, 12) != 12 || memcmp(riff, "RIFF", 4) != 0 ||
        memcmp(riff + 8, "WAVE", 4) != 0) {
        return Fail(error, WaveHeaderError::NotWave);
    }
    WaveHeader header;
    bool haveFormat = false;
    const qint64 fileSize = file.size();
    // A handful of chunks at most precede the data; a bound keeps garbage from looping long.
    for (int chunks = 0; chunks < 64; ++chunks) {
        char head[8];
        if (file.read(head, 8) != 8)
            break;
        const quint32 size = Le32(head + 4);
        const qint64 body = file.pos();
        if (memcmp(head, "fmt ", 4) == 0) {
            char fmt[16];
            if (size < 16 || file.read(fmt, 16) != 16)
                return Fail(error, WaveHeaderError::NotWave);
            header.formatTag = Le16(fmt);
            header.channels = Le16(fmt + 2);
            header.samplesPerSecond = static_cast<int>(Le32(fmt + 4));
            header.bitsPerSample = Le16(fmt + 14);
            haveFormat = true;
        } else if (memcmp(head, "data", 4) == 0) {
            header.dataOffset = body;
            header.dataBytes = std::min<qint64>(size, fileSize - body);
            break;
        }
        // Chunks are padded to an even size.
        const qint64 next = body + size + (size & 1);
        if (next > fileSize || !file.seek(next))
            break;
    }
    if (!haveFormat || header.channels <= 0 || header.samplesPerSecond <= 0 ||
        header.bitsPerSample <= 0) {
        return Fail(error, WaveHeaderError::NotWave);
    }
    return header;
}

}  // namespace kallomir
