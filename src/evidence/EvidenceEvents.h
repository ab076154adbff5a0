#pragma once

#include "evidence/Fingerprint.h"
#include "evidence/IntegrityLog.h"

#include <QDateTime>
#include <QString>

namespace kallomir {

struct AppContext;

// The title under which a failure to write the integrity log is reported.
inline const QString kIntegrityLogTitle = QStringLiteral("Registro di integrità");

// "registrazione-salvata" (or "cattura-recuperata" with the capture it came from): the
// recording's name, path, size, SHA-256, SHA-256 of its audio and its trailer.
LogEvent RecordingSavedEvent(const QDateTime& at, const QString& file,
                             const RecordingFingerprint& fingerprint,
                             const QString& recoveredCapture = QString());

// Logs a saved recording. When the save may have been logged before (it was finished again
// after a crash or a failed catalogue write), nothing is appended if the last line of its
// name already states this file with this fingerprint. RuntimeError when the log cannot be
// written.
void LogRecordingSaved(const QString& programFolder, const QDateTime& at, const QString& file,
                       const RecordingFingerprint& fingerprint, const QString& recoveredCapture,
                       bool mayBeLogged);

// Gives a saved recording, and the folders it lies in down from dataPath, to the configured
// group. Empty text on success, else what went wrong.
QString ShareRecordingWithGroup(const QString& file, const QString& dataPath);

// The SHA-256 that stands for a transcription as the catalogue holds it.
QString TranscriptionSha256(const QString& traduzione);

// The player's save: "trascrizione-salvata" with the transcription's SHA-256, when it
// differs from the last one logged for the recording (or none was).
bool LogTranscriptionSaved(AppContext& ctx, const QString& nome, const QString& traduzione);
// The player's save: "segni-cambiati" with the three marks, when they differ from the last
// ones logged for the recording (none logged counts as all clear, as a new row has them).
bool LogMarksChanged(AppContext& ctx, const QString& nome, bool letto, bool scritto, bool tradotto);
// End of service: "fine-servizio" with the archive copy's path, SHA-256 and row count.
bool LogServiceArchived(AppContext& ctx, const QString& archiveFile, int rows);
// Each of the three above reports a failure to the operator under kIntegrityLogTitle and
// returns false; what was saved stays saved.

}  // namespace kallomir
