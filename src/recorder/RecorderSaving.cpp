// The recording cycle's saves: the stop, the split, the next folder, the save's result and
// the recovery of captures left unsaved.
#include "recorder/RecorderSession.h"

#include "catalogue/CatalogueStore.h"
#include "catalogue/WavInfo.h"
#include "controls/WaveControl.h"
#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/FormLinks.h"
#include "core/MessageBoxQueue.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "evidence/EvidenceEvents.h"
#include "recorder/CaptureMarker.h"
#include "recorder/RecorderTexts.h"
#include "recorder/SaveQueue.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace kallomir {

namespace {
// Seconds between attempts to finish a save that failed (a full or read-only folder, a
// locked catalogue): often enough to catch the moment it works again, seldom enough that a
// folder nobody repairs costs nothing.
constexpr int kRetrySeconds = 10;

bool IsMainCaptureFile(const QString& file) {
    return QFileInfo(file).fileName() == QStringLiteral("Record.wav");
}
}  // namespace

QString RecorderSession::fallbackDataPath() const {
    return ConfigurationDefaults::ForHome(ctx_.userHome).fallbackPath;
}

void RecorderSession::StopAndSave() {
    state_.lineStatus = LineStatus::Waiting;
    state_.showsRecording = false;
    state_.recordEnabled = true;
    state_.stopEnabled = false;
    state_.splitEnabled = false;
    state_.elapsedRunning = false;
    if (!state_.recording) {
        changed();
        return;
    }
    state_.endTime = nowToSecond();
    state_.recording = false;
    const QString capture = captureFile_;
    captureFile_.clear();
    state_.recordEnabled = true;
    state_.stopEnabled = false;
    state_.playEnabled = true;
    state_.startText = state_.nowText = texts::kWaitingToRecord;
    if (state_.startTime == state_.endTime) {
        // Shorter than a second: nothing is saved or catalogued.
        CaptureMarker(capture).clear();
        state_.currentFile = ctx_.config.recordingsFolder();
        changed();
        if (PlayerLink* p = player())
            p->refreshFileList();
        return;
    }
    queueSave(SaveRequest{capture, state_.startTime, state_.endTime, ctx_.config.dataPath,
                          ctx_.config.recFolder, fallbackDataPath(), state_.recordingNumber});
    state_.recordingNumber.clear();
    changed();
}

void RecorderSession::SplitRecording() {
    if (!state_.recording)
        return;
    const bool ofCall = state_.recordingOfCall;
    ctx_.config.silenceStopEnabled = QStringLiteral("0");
    wave_->closeCapture();
    StopAndSave();
    // A recording of a call goes on only while the call does.
    if (!ofCall || state_.call == CallState::Connected) {
        StartWaveCapture();
        ShowRecordingStarted();
    }
    ctx_.config.silenceStopEnabled = QStringLiteral("1");
}

void RecorderSession::Command2_Click() {
    const bool ofCall = state_.recordingOfCall && state_.recording;
    ctx_.config.silenceStopEnabled = QStringLiteral("0");
    wave_->closeCapture();
    StopAndSave();
    try {
        QString name;
        const QString next = NextFolderNumber(ctx_.config, &name);
        ctx_.config.folderNumber = next;
        CreateFolderLevel(ctx_.config.dataPath + name + u'/' + next);
        ctx_.config.recFolder = name + u'/' + next;
        if (PlayerLink* p = player()) {
            p->setFolderPath(ctx_.config.recordingsFolder());
            p->refreshFileList();
            p->setFolderSizeText(QStringLiteral("0"));
        }
        state_.folderSize = 0;
        state_.captureFileSize = 0;
    } catch (const RuntimeError& error) {
        // Without the next number stored the same folder number would come back at the next
        // start: the recording goes on in the folder it is in, and the limit rests.
        reports_->postError(error, QStringLiteral("Command2_Click"));
        folderAdvanceFailed_ = true;
        notice(texts::kFolderNotAdvanced.arg(ctx_.config.recordingsFolder()), true);
    }
    if (!ofCall || state_.call == CallState::Connected) {
        StartWaveCapture();
        ShowRecordingStarted();
        state_.recordEnabled = false;
        state_.stopEnabled = true;
    }
    ctx_.config.silenceStopEnabled = QStringLiteral("1");
    changed();
}

void RecorderSession::queueSave(const SaveRequest& request) {
    savingCaptures_.insert(request.captureFile);
    state_.savesPending = saves_->pending() + 1;
    saves_->submit(request, [this](const SaveRequest& done, const SaveResult& result) {
        saveDone(done, result);
    });
}

void RecorderSession::saveDone(const SaveRequest& request, const SaveResult& result) {
    savingCaptures_.remove(request.captureFile);
    state_.savesPending = saves_->pending() - 1;
    const bool told = toldAboutCaptures_.contains(request.captureFile);
    const bool recovery = recoveringCaptures_.remove(request.captureFile);
    const QString title = recovery ? texts::kRecoveryTitle : texts::kSaveTitle;
    for (const RuntimeError& error : result.reports) reports_->postError(error, title);
    if (result.fallbackDataPath) {
        ctx_.config.dataPath = *result.fallbackDataPath;
        ctx_.config.recFolder = QStringLiteral("ERROR");
    }
    if (!result.markerProblem.isEmpty())
        notice(texts::kMarkerNotWritten + result.markerProblem, false);
    if (!result.saved) {
        // The capture and its marker stay; the save is tried again while nothing else saves.
        recoveryCountdown_ = kRetrySeconds;
        if (!told) {
            toldAboutCaptures_.insert(request.captureFile);
            if (result.failure)
                reports_->postError(*result.failure, title);
            notice(texts::kNotSavedYet.arg(request.captureFile), false);
        }
        changed();
        return;
    }
    state_.currentFile = result.file;
    folderSizes_.invalidate();
    PlayerLink* p = player();
    if (p)
        p->setFolderPath(ctx_.config.recordingsFolder());
    // The capture's marker goes only once the recording is in the integrity log and in the
    // catalogue; until then the save is finished again, which writes what is missing.
    const bool logged = logSaved(request, result, recovery);
    bool done = false;
    if (result.noAudio) {
        if (!told)
            notice(texts::kNoAudio.arg(result.file), true);
        done = logged;
    } else {
        done = catalogue(request, result) && logged;
        if (done && recovery)
            reports_->post(texts::kRecovered + result.file, texts::kRecoveryTitle,
                           MsgIcon::Information);
    }
    if (done) {
        finishMarker(request.captureFile);
    } else {
        recoveryCountdown_ = kRetrySeconds;
        toldAboutCaptures_.insert(request.captureFile);
    }
    if (p)
        p->refreshFileList();
    changed();
}

bool RecorderSession::logSaved(const SaveRequest& request, const SaveResult& result,
                               bool recovery) {
    if (!result.fingerprint)
        return true;
    const QString key = QStringLiteral("log:") + result.file;
    const QString group = ShareRecordingWithGroup(result.file, request.dataPath);
    if (!group.isEmpty() && !toldAboutCaptures_.contains(QStringLiteral("group:") + result.file)) {
        toldAboutCaptures_.insert(QStringLiteral("group:") + result.file);
        notice(group, true);
    }
    try {
        LogRecordingSaved(ctx_.homeFolder, ctx_.clock.now(), result.file, *result.fingerprint,
                          recovery ? request.captureFile : QString(),
                          result.namedBefore || toldAboutCaptures_.contains(key));
        if (toldAboutCaptures_.remove(key) &&
            state_.notice == texts::kNotLoggedYet.arg(result.file))
            state_.notice.clear();
        return true;
    } catch (const RuntimeError& error) {
        if (!toldAboutCaptures_.contains(key)) {
            toldAboutCaptures_.insert(key);
            reports_->postError(error, kIntegrityLogTitle);
            notice(texts::kNotLoggedYet.arg(result.file), false);
        }
        return false;
    }
}

bool RecorderSession::catalogue(const SaveRequest& request, const SaveResult& result) {
    const bool told = toldAboutCaptures_.contains(QStringLiteral("row:") + result.file);
    try {
        RecorderInsertNotes notes;
        const auto number =
            ctx_.catalogue->recorderInsert(result.catalogueName, ctx_.settings, &notes,
                                           request.numero);
        if (result.fingerprint)
            ctx_.catalogue->setFingerprint(result.catalogueName,
                                           {result.fingerprint->sha256, result.fingerprint->bytes});
        if (number)
            state_.progressive = QString::number(*number);
        if (notes.numberNotStored)
            notice(texts::kNumberNotStored.arg(*number), true);
        if (notes.numbersExhausted)
            notice(texts::kNumbersExhausted.arg(result.catalogueName), true);
        if (told && state_.notice == texts::kNotCataloguedYet.arg(result.file))
            state_.notice.clear();
        // Queued for a catalogue server out of reach: safe on this workstation, sent later.
        if (notes.queued)
            showCatalogueStatus();
        return true;
    } catch (const RuntimeError& error) {
        // The recording is safe on the disk; its row is written as soon as the catalogue
        // takes it. The marker keeps the recording on the list until then.
        if (!told) {
            toldAboutCaptures_.insert(QStringLiteral("row:") + result.file);
            reports_->postError(error, texts::kSaveTitle);
            notice(texts::kNotCataloguedYet.arg(result.file), false);
        }
        return false;
    }
}

void RecorderSession::showCatalogueStatus() {
    const CatalogueStatus status = ctx_.catalogue->status();
    if (!status.server)
        return;
    if (!status.reachable || status.queued > 0) {
        const QString text =
            status.reachable ? texts::kCatalogueSending.arg(status.location).arg(status.queued)
            : status.queued > 0
                ? texts::kCatalogueOfflineWaiting.arg(status.location).arg(status.queued)
                : texts::kCatalogueOffline.arg(status.location);
        // Told in a box once each time the server goes away; the notice line meanwhile.
        if (catalogueNotice_.isEmpty() && !status.reachable)
            reports_->post(texts::kCatalogueOfflineBox.arg(status.location, status.problem),
                           kApplicationTitle, MsgIcon::Exclamation);
        catalogueNotice_ = text;
        notice(text, false);
        return;
    }
    if (!catalogueNotice_.isEmpty()) {
        if (state_.notice == catalogueNotice_)
            state_.notice.clear();
        catalogueNotice_.clear();
    }
    // Rows sent later have moved the last number this workstation got.
    state_.progressive = ctx_.settings.get(QStringLiteral("progressivo"), state_.progressive);
    changed();
}

void RecorderSession::finishMarker(const QString& captureFile) {
    const QString problem = CaptureMarker(captureFile).clear();
    if (!problem.isEmpty()) {
        notice(problem, true);
        return;
    }
    toldAboutCaptures_.remove(captureFile);
    // Only the first capture file stays after its recording is saved; the others were
    // made for captures that started while an earlier one was still unsaved.
    if (!IsMainCaptureFile(captureFile))
        QFile::remove(captureFile);
}

void RecorderSession::RecoverUnsavedCaptures() {
    for (const QString& capture : MarkedCaptureFiles(ctx_.homeFolder)) {
        if (capture == captureFile_ || savingCaptures_.contains(capture))
            continue;
        const CaptureMarker marker(capture);
        auto data = marker.read();
        const auto wav = WavInfo::Read(capture);
        const double seconds = wav ? wav->audioSeconds() : 0.0;
        if (!data) {
            // A marker whose start cannot be read: the capture's length before its last write.
            QDateTime end = QFileInfo(capture).lastModified();
            end.setTime(QTime(end.time().hour(), end.time().minute(), end.time().second()));
            data = CaptureMarkerData{end.addSecs(-qint64(std::llround(seconds))), std::nullopt};
        }
        if (!data->plan && seconds < 1.0) {
            // Nothing that would have made a recording: no more than a second of audio.
            finishMarker(capture);
            continue;
        }
        const QDateTime end = data->plan
                                  ? data->plan->end
                                  : data->start.addSecs(std::max<qint64>(1, std::llround(seconds)));
        recoveringCaptures_.insert(capture);
        queueSave(SaveRequest{capture, data->start, end, ctx_.config.dataPath,
                              ctx_.config.recFolder, fallbackDataPath(), data->numero});
    }
    changed();
}

}  // namespace kallomir
