#include "recorder/CaptureMarker.h"

#include "catalogue/Catalogue.h"
#include "catalogue/WavInfo.h"
#include "core/GeneralSound.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "recorder/RecordingSaver.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace kallomir {

void CaptureMarker::set(const QDateTime& start) const {
    QFile file(path());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(FormatDateTime(start).toLatin1() + "\n");
}

void CaptureMarker::clear() const {
    QFile::remove(path());
}

bool CaptureMarker::isSet() const {
    return QFileInfo::exists(path());
}

std::optional<OrphanedCapture> FindOrphanedCapture(const CaptureMarker& marker) {
    if (!marker.isSet())
        return std::nullopt;
    const auto wav = WavInfo::Read(marker.captureFile());
    const qint64 seconds = wav ? qint64(std::llround(wav->audioSeconds())) : 0;
    if (seconds < 1) {  // nothing worth a recording (it would not be saved either)
        marker.clear();
        return std::nullopt;
    }
    const QDateTime lastWrite = QFileInfo(marker.captureFile()).lastModified();
    QDateTime end = lastWrite;
    end.setTime(QTime(end.time().hour(), end.time().minute(), end.time().second()));
    return OrphanedCapture{end.addSecs(-seconds), end};
}

std::optional<QString> RecoverOrphanedCapture(const CaptureMarker& marker, GeneralSound& config,
                                              const QString& fallbackDataPath,
                                              const Catalogue& catalogue, UserSettings& settings,
                                              MessageBoxService& boxes,
                                              const std::function<void()>& yield) {
    const auto orphan = FindOrphanedCapture(marker);
    if (!orphan)
        return std::nullopt;
    const QString title = QStringLiteral("Recupero registrazione");
    RecordingSaver saver(config, marker.captureFile(), fallbackDataPath);
    saver.yield = yield;
    saver.report = [&](const RuntimeError& error) { ReportError(boxes, error, title); };
    SavedRecording saved;
    saver.afterCopy = [&](const SavedRecording& copied) {
        saved = copied;
        marker.clear();
    };
    try {
        saver.save(orphan->start, orphan->end);
    } catch (const RuntimeError& error) {
        ReportError(boxes, error, title);
        if (marker.isSet())
            return std::nullopt;
        // Copied but the trailer failed: the audio is safe, tell the operator where.
    }
    QString note;
    try {
        if (!saved.catalogueName.isEmpty())
            catalogue.recorderInsert(saved.catalogueName, settings);
    } catch (const RuntimeError& error) {
        note = u'\n' + ErrorText(error.number(), error.description());
    }
    boxes.show(
        QStringLiteral("Una registrazione interrotta è stata recuperata: ") + saved.file + note,
        title, MsgButtons::Ok, MsgIcon::Information);
    return saved.file;
}

}  // namespace kallomir
