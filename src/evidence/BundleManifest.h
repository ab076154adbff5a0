#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace kallomir {

// One file of a hand-over bundle: its path inside the bundle ('/' separated), SHA-256, size.
struct ManifestFile {
    QString path;
    QString sha256;
    qint64 bytes = 0;
    bool operator==(const ManifestFile&) const = default;
};

// One recording handed over: where it came from, its files, and every line of the
// integrity log that concerns it, as they stand in the log.
struct ManifestRecording {
    QString nome;
    QString origin;  // the recording's path on the machine that exported it
    std::vector<ManifestFile> files;
    QList<QByteArray> logLines;
    bool operator==(const ManifestRecording&) const = default;

    // The file of the bundle whose name ends with `suffix` (".Ems", ".wav", ".rtf").
    const ManifestFile* file(const QString& suffix) const;
};

// MANIFESTO.txt: a readable text that lists every file of a bundle with its SHA-256 and,
// per recording, the log lines that vouch for it, and ends with the SHA-256 of everything
// above its last line ("fine sha256=...").
struct Manifest {
    QDateTime created;
    QString program;          // name and version of the program that wrote it
    QString logPath;          // the integrity log the lines come from
    qint64 lastSequence = 0;  // its last line at the time, to anchor the lines
    QString lastLineSha256;
    std::vector<ManifestRecording> recordings;
    std::vector<ManifestFile> others;  // files that belong to no recording (SHA256SUMS)
    bool operator==(const Manifest&) const = default;

    static QString FileName() { return QStringLiteral("MANIFESTO.txt"); }
    QByteArray toBytes() const;
};

struct ParsedManifest {
    std::optional<Manifest> manifest;
    bool sealMatches = false;  // the closing line's SHA-256 is that of the text above it
    QString error;             // why the text is not a manifest
};
ParsedManifest ParseManifest(const QByteArray& bytes);

}  // namespace kallomir
