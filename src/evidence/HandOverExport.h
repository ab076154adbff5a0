#pragma once

#include "catalogue/CatalogueStore.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

namespace kallomir {

// The catalogue rows of the recordings to hand over, by lower-case name.
struct ExportCatalogue {
    struct Entry {
        std::optional<CatalogueRow> row;
        std::optional<CatalogueFingerprint> fingerprint;
    };
    QHash<QString, Entry> rows;
};
// Reads the rows of the recordings, on the thread that owns the catalogue (a server
// connection serves one thread). A catalogue that cannot be read gives no rows: the bundle
// then says the recordings have none. Names are matched without regard to case.
ExportCatalogue ReadExportCatalogue(CatalogueStore& catalogue, const QStringList& recordings);

// What to hand over and where to.
struct ExportRequest {
    QString programFolder;   // its catalogue and integrity log
    QStringList recordings;  // full paths of the recording files
    // Their catalogue rows; nothing: the program folder's embedded catalogue, read here.
    std::optional<ExportCatalogue> catalogue;
    // A folder, or a file ending in ".zip", that does not exist yet.
    QString target;
    QDateTime now;
    QString program;  // name and version written into the manifest
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(int done, int total)> progress;  // recordings prepared so far
};

struct ExportResult {
    bool cancelled = false;
    QString refused;  // why nothing was exported (a recording differs from its log line)
    QString target;
    QString manifestSha256;  // to note on the hand-over receipt
    int files = 0;
};

// A folder or ZIP archive (by the target's name) holding, per recording, in a folder of
// its name: the recording file as saved (.Ems), the same audio as a standard WAV without
// the trailer (.wav), the transcription as RTF and as PDF (when it has one), the catalogue
// row as readable text; at the top SHA256SUMS (for `sha256sum -c`) and MANIFESTO.txt with
// every file's SHA-256 and the integrity log lines of each recording. A recording that no
// longer matches its log line is not exported. The bundle appears under its name only when
// complete; a cancelled or failed export leaves nothing behind.
// RuntimeErrors: 58 target exists, 76 folder missing, 61 disk full, 70 permission, 75 other.
ExportResult ExportHandOver(const ExportRequest& request);

bool IsZipTarget(const QString& target);

}  // namespace kallomir
