#include "catalogue/WavInfo.h"

#include <QFile>

#include <algorithm>

namespace kallomir {

namespace {
quint32 Le32(const QByteArray& b, qsizetype at) {
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
           quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}
quint16 Le16(const QByteArray& b, qsizetype at) {
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}
}  // namespace

qint64 WavInfo::audioBytes() const {
    // The capture file keeps its samples last: whatever follows the data chunk's start is
    // audio, whether the header was last updated a moment before the capture was cut off
    // or claims more than a truncated file holds.
    return std::max<qint64>(0, fileSize - dataOffset);
}

std::optional<WavInfo> WavInfo::Read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return std::nullopt;
    WavInfo info;
    info.fileSize = file.size();
    bool haveFormat = false;
    qint64 position = 12;
    while (position + 8 <= info.fileSize) {
        if (!file.seek(position))
            return std::nullopt;
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return std::nullopt;
        const QByteArray id = chunk.left(4);
        const qint64 size = Le32(chunk, 4);
        if (id == "fmt ") {
            const QByteArray fmt = file.read(16);
            if (fmt.size() < 16)
                return std::nullopt;
            info.channels = Le16(fmt, 2);
            info.sampleRate = int(Le32(fmt, 4));
            info.byteRate = Le32(fmt, 8);
            info.blockAlign = Le16(fmt, 12);
            info.bitsPerSample = Le16(fmt, 14);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return std::nullopt;
            info.dataOffset = position + 8;
            info.dataSize = size;
            return info;
        }
        position += 8 + size + (size & 1);
    }
    return std::nullopt;
}

}  // namespace kallomir
