#include "catalogue/RecordingTrailer.h"

#include "core/VbConvert.h"

#include <QFile>

namespace kallomir {

namespace {
QString Fixed(const QString& text, int width) {
    return text.left(width).leftJustified(width, u' ');
}
}  // namespace

RecordingTrailer RecordingTrailer::Make(const QString& recFolder, const QDateTime& start,
                                        const QDateTime& end) {
    return {Fixed(recFolder, kFolderWidth), Fixed(FormatDateTime(start), kDateWidth),
            Fixed(FormatDateTime(end), kDateWidth)};
}

QByteArray RecordingTrailer::toBytes() const {
    QByteArray bytes = Fixed(folderTag, kFolderWidth).toLatin1();
    bytes += Fixed(startText, kDateWidth).toLatin1();
    bytes += Fixed(endText, kDateWidth).toLatin1();
    bytes += "\r\n";
    return bytes;
}

std::optional<RecordingTrailer> RecordingTrailer::FromBytes(const QByteArray& bytes) {
    if (bytes.size() != kSize || !bytes.endsWith("\r\n"))
        return std::nullopt;
    RecordingTrailer trailer;
    trailer.folderTag = QString::fromLatin1(bytes.left(kFolderWidth));
    trailer.startText = QString::fromLatin1(bytes.mid(kFolderWidth, kDateWidth));
    trailer.endText = QString::fromLatin1(bytes.mid(kFolderWidth + kDateWidth, kDateWidth));
    return trailer;
}

std::optional<RecordingTrailer> RecordingTrailer::ReadFromFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < kSize)
        return std::nullopt;
    if (!file.seek(file.size() - kSize))
        return std::nullopt;
    return FromBytes(file.read(kSize));
}

std::optional<QDateTime> RecordingTrailer::start() const {
    return ParseDateTime(startText);
}
std::optional<QDateTime> RecordingTrailer::end() const {
    return ParseDateTime(endText);
}

}  // namespace kallomir
