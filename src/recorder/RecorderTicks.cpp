// The recording cycle's once-a-second work and its level and silence events: elapsed and
// disk time, sizes, call-back, voice activation, the silence stop and the folder limit.
#include "recorder/RecorderSession.h"

#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/FormLinks.h"
#include "core/VbConvert.h"
#include "recorder/RecorderMonitor.h"
#include "recorder/SaveQueue.h"

#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace kallomir {

void RecorderSession::reloadSilenceCountdown() {
    state_.silenceCountdown = SilenceReload(wave_->voxHoldMs());
}

void RecorderSession::Counter_Timer() {
    QString mode;
    mci(QStringLiteral("status capture mode"), &mode);
    state_.captureStatus = mode;
    // The line may have been closed and opened again (settings, mixer) since its last report.
    state_.registration = tapi_->registration();
    ShowDiskTime();
    ShowFolderSize();

    if (!state_.recallArmed) {
        state_.recallSeconds = 0;
    } else {
        if (state_.recallSeconds < std::numeric_limits<std::int32_t>::max())
            ++state_.recallSeconds;
        if (state_.recallSeconds >= ctx_.config.recallTime &&
            state_.lineStatus == LineStatus::Waiting) {
            state_.recallArmed = false;
            BtiNIReg_Click();
        }
    }

    if (!state_.recording) {
        reloadSilenceCountdown();
        if (state_.silenceDetect) {
            // Re-armed every second while waiting for voice; a start that cannot work is
            // told once instead of failing again every second.
            const QString problem = captureProblem();
            if (problem.isEmpty()) {
                state_.target = RecordTarget::Null;
                state_.source = RecordSource::LineIn;
                BtiNIReg_Click();
                state_.recordEnabled = true;
            } else if (state_.notice != problem) {
                notice(problem, true);
            }
        }
    } else {
        --state_.silenceCountdown;
        if (state_.elapsedRunning) {
            const QDateTime now = ctx_.clock.now();
            state_.elapsedText = FormatShortDuration(state_.startTime.secsTo(now));
            state_.nowText = FormatDateTime(now);
            ShowTempFileSize();
        }
        // A recording that hears nothing at all (the line sends no audio) is as quiet as
        // one that hears silence: the silence rule ends it the same way.
        if (!levelSinceTick_ && state_.silenceCountdown <= 0)
            silenceStop();
    }
    levelSinceTick_ = false;

    if (recoveryCountdown_ > 0 && --recoveryCountdown_ == 0 && saves_->idle())
        RecoverUnsavedCaptures();
    changed();
}

void RecorderSession::Timer1_Timer() {
    if (!state_.recording)
        return;
    ShowTempFileSize();
    if (!folderAdvanceFailed_ &&
        FolderLimitReached(state_.captureFileSize, state_.folderSize, state_.dimFolder))
        Command2_Click();
}

void RecorderSession::amWavePro1_Level(qint16 a, qint16 b) {
    const int level = int(a) + int(b);  // two channels may add up beyond 16 bits
    state_.level = level;
    levelSinceTick_ = true;
    changed();
    if (level >= state_.voxThreshold) {
        reloadSilenceCountdown();
    } else if (state_.silenceCountdown == 0 && state_.recording) {
        silenceStop();
        return;
    }
    if (state_.silenceDetect && state_.target == RecordTarget::Null &&
        level > state_.voxThreshold) {
        // Voice: the level-only capture becomes a recording; a call it listens to stays up.
        state_.target = RecordTarget::File;
        stopCapture(false);
        StopAndSave();
        StartWaveCapture();
        ShowRecordingStarted();
    }
}

void RecorderSession::amWavePro1_Silence(bool silent) {
    if (silent && Val(ctx_.config.silenceStopEnabled) == 1 && state_.recording)
        silenceStop();
}

void RecorderSession::silenceStop() {
    // The silence rule ends the recording, and the call only when the recording is of it.
    stopCapture(state_.recordingOfCall);
    StopAndSave();
}

void RecorderSession::ShowDiskTime() {
    state_.diskTimeText = FormatShortDuration(DiskTimeSeconds(FreeBytesAt(ctx_.config.dataPath)));
}

void RecorderSession::ShowTempFileSize() {
    const QFileInfo capture(captureFile_);
    state_.captureFileSize = !captureFile_.isEmpty() && capture.exists() ? capture.size() : 0;
}

void RecorderSession::ShowFolderSize() {
    PlayerLink* p = player();
    QString folder = p ? p->folderPath() : QString();
    if (folder.isEmpty())
        folder = ctx_.config.recordingsFolder();
    state_.folderSize = folderSizes_.sum(folder);
    if (p)
        p->setFolderSizeText(QString::number(state_.folderSize));
}

}  // namespace kallomir
