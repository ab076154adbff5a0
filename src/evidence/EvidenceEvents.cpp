#include "evidence/EvidenceEvents.h"

#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "evidence/FilePolicy.h"
#include "evidence/Sha256.h"

#include <QDir>
#include <QFileInfo>

namespace kallomir {

namespace {

QString Flag(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

bool Append(AppContext& ctx, const LogEvent& event) {
    try {
        IntegrityLog(ctx.homeFolder).append(event);
        return true;
    } catch (const RuntimeError& error) {
        ReportError(ctx.boxes, error, kIntegrityLogTitle);
        return false;
    }
}

std::optional<LogLine> LastFor(AppContext& ctx, const QString& nome, const QString& event) {
    try {
        return IntegrityLog(ctx.homeFolder).lastFor(nome, {event});
    } catch (const RuntimeError&) {
        // An unreadable log is reported by the append that follows.
        return std::nullopt;
    }
}

}  // namespace

LogEvent RecordingSavedEvent(const QDateTime& at, const QString& file,
                             const RecordingFingerprint& fingerprint,
                             const QString& recoveredCapture) {
    LogEvent event{
        recoveredCapture.isEmpty() ? events::kRecordingSaved : events::kCaptureRecovered, at, {}};
    event.fields = {{QStringLiteral("nome"), QFileInfo(file).fileName()},
                    {QStringLiteral("file"), QDir::cleanPath(file)},
                    {QStringLiteral("byte"), QString::number(fingerprint.bytes)},
                    {QStringLiteral("sha256"), fingerprint.sha256},
                    {QStringLiteral("sha256-audio"), fingerprint.audioSha256},
                    {QStringLiteral("coda"), QString::fromLatin1(fingerprint.trailer)}};
    if (!recoveredCapture.isEmpty())
        event.fields.append({QStringLiteral("cattura"), recoveredCapture});
    return event;
}

void LogRecordingSaved(const QString& programFolder, const QDateTime& at, const QString& file,
                       const RecordingFingerprint& fingerprint, const QString& recoveredCapture,
                       bool mayBeLogged) {
    const IntegrityLog log(programFolder);
    if (mayBeLogged) {
        const auto last = log.lastFor(QFileInfo(file).fileName(),
                                      {events::kRecordingSaved, events::kCaptureRecovered});
        if (last && last->field(QStringLiteral("file")) == QDir::cleanPath(file) &&
            last->field(QStringLiteral("sha256")) == fingerprint.sha256)
            return;
    }
    log.append(RecordingSavedEvent(at, file, fingerprint, recoveredCapture));
}

QString ShareRecordingWithGroup(const QString& file, const QString& dataPath) {
    QString problem = ShareWithGroup(file);
    const QString root = QDir::cleanPath(dataPath);
    QString folder = QFileInfo(file).absolutePath();
    while (problem.isEmpty() && (folder == root || folder.startsWith(root + u'/'))) {
        problem = ShareWithGroup(folder);
        if (folder == root)
            break;
        folder = QFileInfo(folder).absolutePath();
    }
    return problem;
}

QString TranscriptionSha256(const QString& traduzione) {
    return Sha256Hex(traduzione.toUtf8());
}

bool LogTranscriptionSaved(AppContext& ctx, const QString& nome, const QString& traduzione) {
    const QString sha = TranscriptionSha256(traduzione);
    const auto last = LastFor(ctx, nome, events::kTranscriptionSaved);
    if (last && last->field(QStringLiteral("sha256")) == sha)
        return true;
    return Append(ctx,
                  LogEvent{events::kTranscriptionSaved,
                           ctx.clock.now(),
                           {{QStringLiteral("nome"), nome},
                            {QStringLiteral("byte"), QString::number(traduzione.toUtf8().size())},
                            {QStringLiteral("sha256"), sha}}});
}

bool LogMarksChanged(AppContext& ctx, const QString& nome, bool letto, bool scritto,
                     bool tradotto) {
    const auto last = LastFor(ctx, nome, events::kMarksChanged);
    const QString ascoltato = Flag(letto), trascritto = Flag(scritto),
                  masterizzato = Flag(tradotto);
    const bool same = last ? last->field(QStringLiteral("ascoltato")) == ascoltato &&
                                 last->field(QStringLiteral("trascritto")) == trascritto &&
                                 last->field(QStringLiteral("masterizzato")) == masterizzato
                           : !letto && !scritto && !tradotto;
    if (same)
        return true;
    return Append(ctx, LogEvent{events::kMarksChanged,
                                ctx.clock.now(),
                                {{QStringLiteral("nome"), nome},
                                 {QStringLiteral("ascoltato"), ascoltato},
                                 {QStringLiteral("trascritto"), trascritto},
                                 {QStringLiteral("masterizzato"), masterizzato}}});
}

bool LogServiceArchived(AppContext& ctx, const QString& archiveFile, int rows) {
    QString sha;
    try {
        sha = Sha256OfFile(archiveFile);
    } catch (const RuntimeError& error) {
        ReportError(ctx.boxes, error, kIntegrityLogTitle);
        return false;
    }
    return Append(ctx, LogEvent{events::kServiceArchived,
                                ctx.clock.now(),
                                {{QStringLiteral("archivio"), QDir::cleanPath(archiveFile)},
                                 {QStringLiteral("righe"), QString::number(rows)},
                                 {QStringLiteral("sha256"), sha}}});
}

}  // namespace kallomir
