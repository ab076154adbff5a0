#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace kallomir {

// The 48-byte text line at the end of every recording file: the recordings folder cut or
// blank-padded to 8 characters, start and end as "dd/mm/yyyy hh:mm:ss" (19 each), CR LF.
// Single-byte text; characters outside Latin-1 are written as '?'.
struct RecordingTrailer {
    static constexpr int kSize = 48;
    static constexpr int kFolderWidth = 8;
    static constexpr int kDateWidth = 19;

    QString folderTag;  // exactly 8 characters, blanks included
    QString startText;  // exactly 19 characters
    QString endText;    // exactly 19 characters

    static RecordingTrailer Make(const QString& recFolder, const QDateTime& start,
                                 const QDateTime& end);
    QByteArray toBytes() const;

    // Reads a trailer back from its 48 bytes; nothing when they are not one (wrong size,
    // no CR LF at the end).
    static std::optional<RecordingTrailer> FromBytes(const QByteArray& bytes);
    // The trailer at the end of a file; nothing for a missing, unreadable or short file.
    static std::optional<RecordingTrailer> ReadFromFile(const QString& path);

    // The moments the texts stand for; nothing when a text is not a date-time.
    std::optional<QDateTime> start() const;
    std::optional<QDateTime> end() const;
};

}  // namespace kallomir
