#pragma once

#include "catalogue/CatalogueStore.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace kallomir {

// Each kind of problem the check can find; each has its own label in the report.
enum class FindingKind {
    LogMissing,
    LogUnreadable,
    LogLineTruncated,
    LogLineChanged,
    LogLineRemoved,
    LogLinesSwapped,
    RecordingMissing,
    RecordingAudioChanged,
    RecordingTrailerChanged,
    RecordingNotLogged,
    RecordingUnreadable,
    CatalogueUnreadable,
    CatalogueFingerprintDiffers,
    CatalogueRowMissing,
    TranscriptionChanged,
    MarksChanged,
    ArchiveMissing,
    ArchiveChanged,
    // A hand-over bundle:
    BundleUnreadable,
    BundleManifestChanged,
    BundleFileMissing,
    BundleFileChanged,
    BundleFileAdded,
    BundleDiffersFromLog,
    BundleNotLogged,
};

// The short label that opens a finding's line, e.g. "registrazione modificata (audio)".
QString FindingLabel(FindingKind kind);

// "1 problema", "3 problemi".
QString ProblemCount(int count);

struct Finding {
    FindingKind kind;
    QString detail;
    QString line() const { return FindingLabel(kind) + QStringLiteral(": ") + detail; }
};

struct CheckProgress {
    int filesDone = 0;
    int filesTotal = 0;
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;
};

// The catalogue as the check reads it, taken beforehand on the thread that owns the catalogue
// (a server connection serves one thread).
struct CatalogueSnapshot {
    bool present = false;  // there is a catalogue (an embedded file that exists, or a server)
    bool server = false;
    QString location;
    QString problem;  // why it could not be read
    std::vector<FingerprintedRow> rows;
};
CatalogueSnapshot ReadCatalogueSnapshot(CatalogueStore& catalogue);

struct CheckOptions {
    QString programFolder;
    // Nothing: the program folder's embedded catalogue, read by the check itself.
    std::optional<CatalogueSnapshot> catalogue;
    // Roots of the recordings folders (DataPath, the fallback folder), searched two levels
    // deep for recordings; the folders named in the log are searched too.
    QStringList recordingRoots;
    const std::atomic<bool>* cancel = nullptr;
    // Called on the checking thread a few times a second while files are read.
    std::function<void(const CheckProgress&)> progress;
    int threads = 0;  // reading threads; 0: up to two, as the processor allows
};

struct CheckReport {
    QString programFolder;
    QDateTime finishedAt;
    std::vector<Finding> findings;
    int recordingsChecked = 0;
    int logLines = 0;
    qint64 lastSequence = 0;
    QString lastLineSha256;  // SHA-256 of the log's last line: note it to anchor the chain
    bool cancelled = false;

    bool clean() const { return !cancelled && findings.empty(); }
    bool has(FindingKind kind) const;
    // One line per finding, then the outcome and the log's last line.
    QStringList lines() const;
    QString summary() const;
};

// Checks a program folder: the log's chain, every logged recording against its fingerprint,
// the recordings folders for files the log never saw, the catalogue's fingerprints,
// transcriptions and marks against the last ones the program logged, and the archived
// catalogues of past services. Reads only.
CheckReport RunIntegrityCheck(const CheckOptions& options);

// The recordings roots of a program folder: DATI of its RIZEDUZO.INI (or the default under
// userHome) and the fallback folder. Reads only.
QStringList RecordingRoots(const QString& programFolder, const QString& userHome);

// The recording files two levels deep under each root ("*.Ems" in any case, no hidden
// names), by clean absolute path.
QStringList FindRecordings(const QStringList& roots);

}  // namespace kallomir
