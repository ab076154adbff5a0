#include "recorder/RecorderSession.h"

#include "catalogue/CatalogueStore.h"
#include "controls/MediaCommands.h"
#include "controls/RecordFormat.h"
#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/FormLinks.h"
#include "core/MessageBoxQueue.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "recorder/CaptureMarker.h"
#include "recorder/RecorderMonitor.h"
#include "recorder/RecorderTexts.h"
#include "recorder/SaveQueue.h"

#include <QFileInfo>

#include <functional>

namespace kallomir {

QString LineStatusText(LineStatus status) {
    switch (status) {
        case LineStatus::Waiting:
            return texts::kWaiting;
        case LineStatus::IncomingCall:
            return QStringLiteral("Chiamata in Arrivo");
        case LineStatus::Dialling:
            return QStringLiteral("Composizione");
        case LineStatus::Connected:
            return QStringLiteral("Connesso");
        case LineStatus::SilenceDetect:
            return QStringLiteral("Silence Detect");
    }
    return {};
}

RecorderSession::RecorderSession(AppContext& ctx, QObject* parent)
    : QObject(parent),
      ctx_(ctx),
      reports_(std::make_unique<MessageBoxQueue>(ctx.boxes)),
      saves_(std::make_unique<SaveQueue>()) {
    if (!ctx.line || !ctx.audio || !ctx.catalogue)
        throw RuntimeError(errors::kDeviceIo,
                           QStringLiteral("No line, audio system or catalogue to record with"));
    tapi_ = std::make_unique<TelephonyControl>(*ctx.line, ctx.audio, this);
    wave_ = std::make_unique<WaveControl>(*ctx.audio, ctx.line, this);
    state_.startText = state_.nowText = texts::kWaitingToRecord;
    counter_.setInterval(1000);
    timer1_.setInterval(1000);

    // No error leaves a handler through the event loop: each is reported under its name.
    auto guarded = [this](const QString& title, const std::function<void()>& handler) {
        try {
            handler();
        } catch (const RuntimeError& error) {
            reports_->postError(error, title);
        }
    };
    connect(tapi_.get(), &TelephonyControl::IncomingCall, this, [this, guarded](int rings) {
        guarded(QStringLiteral("amTapiPro1_IncomingCall"), [&] { amTapiPro1_IncomingCall(rings); });
    });
    connect(tapi_.get(), &TelephonyControl::Connected, this, [this] { amTapiPro1_Connected(); });
    connect(tapi_.get(), &TelephonyControl::Disconnected, this, [this, guarded] {
        guarded(QStringLiteral("amTapiPro1_Disconnected"), [&] { amTapiPro1_Disconnected(); });
    });
    connect(tapi_.get(), &TelephonyControl::Idle, this, [this] { amTapiPro1_Idle(); });
    connect(tapi_.get(), &TelephonyControl::RegistrationChanged, this,
            [this] { setState(state_.registration, tapi_->registration()); });
    tapi_->setLineClosingGuard([this] { onLineClosing(); });
    connect(wave_.get(), &WaveControl::Level, this, [this, guarded](qint16 a, qint16 b) {
        guarded(QStringLiteral("amWavePro1_Level"), [&] { amWavePro1_Level(a, b); });
    });
    connect(wave_.get(), &WaveControl::Silence, this, [this, guarded](bool silent) {
        guarded(QStringLiteral("Silence"), [&] { amWavePro1_Silence(silent); });
    });
    connect(wave_.get(), &WaveControl::captureFailed, this,
            [this](const QString& text) { onCaptureFailed(text); });
    connect(wave_.get(), &WaveControl::captureWarning, this,
            [this](const QString& text) { notice(text, true); });
    connect(&counter_, &QTimer::timeout, this, [this, guarded] {
        guarded(QStringLiteral("Counter_Timer"), [&] { Counter_Timer(); });
    });
    connect(&timer1_, &QTimer::timeout, this,
            [this, guarded] { guarded(QStringLiteral("Timer1_Timer"), [&] { Timer1_Timer(); }); });
    connect(ctx.catalogue, &CatalogueStore::statusChanged, this, [this] { showCatalogueStatus(); });
}

RecorderSession::~RecorderSession() {
    // Saves still queued finish before the controls go; their rows wait for the next start.
    saves_.reset();
}

void RecorderSession::changed() {
    emit stateChanged();
}

PlayerLink* RecorderSession::player() {
    return ctx_.forms ? &ctx_.forms->player() : nullptr;
}

void RecorderSession::mci(const QString& command, QString* reply) {
    if (reply)
        reply->clear();
    if (ctx_.media)
        ctx_.media->send(command, reply);
}

QDateTime RecorderSession::nowToSecond() const {
    QDateTime now = ctx_.clock.now();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    return now;
}

void RecorderSession::notice(const QString& text, bool box) {
    state_.notice = text;
    changed();
    if (box)
        reports_->post(text, kApplicationTitle, MsgIcon::Exclamation);
}

// ---- window events ----------------------------------------------------------------------

void RecorderSession::Form_Load() {
    ctx_.config.silenceStopEnabled = QStringLiteral("1");
    state_.showsRecording = false;
    reloadSilenceCountdown();
    state_.voxThreshold = wave_->voxThreshold();
    ShowDiskTime();
    ctx_.config.recallTime =
        ToInt16(Val(ctx_.settings.get(QStringLiteral("timerecall"), QStringLiteral("15"))));
    state_.dimFolder =
        ToInt64(Val(ctx_.settings.get(QStringLiteral("DimFolder"), QStringLiteral("600"))));
    state_.progressive = ctx_.settings.get(QStringLiteral("progressivo"), QStringLiteral("*"));
    if (state_.progressive == QStringLiteral("*")) {
        ctx_.settings.save(QStringLiteral("progressivo"), QStringLiteral("0"));
        state_.progressive = ctx_.settings.get(QStringLiteral("progressivo"), QStringLiteral("0"));
    }
    try {
        // A first start has no catalogue yet. A catalogue that cannot be made does not keep
        // the line from answering: the rows wait until it can be written.
        ctx_.catalogue->create();
    } catch (const RuntimeError& error) {
        reports_->postError(error, QStringLiteral("Main Form_Load"));
    }
    showCatalogueStatus();
    try {
        state_.lineStatus = LineStatus::Waiting;
        tapi_->setMember13(4);
        // Calls are answered from the first moment, not only after the settings were
        // confirmed again.
        const QString name =
            ctx_.settings.get(QStringLiteral("Line Device"), QStringLiteral("Not Set"));
        if (name != QStringLiteral("Not Set")) {
            if (tapi_->lineOpen())
                tapi_->setLineOpen(false);
            tapi_->setLineName(name);
            tapi_->setCallPrivilege(4);
            tapi_->setLineOpen(true);
            state_.registration = tapi_->registration();
        }
    } catch (const RuntimeError& error) {
        reports_->postError(error, QStringLiteral("Main Form_Load"));
    }
    // A recording cut off by a crash or a power cut is saved before anything else.
    RecoverUnsavedCaptures();
    counter_.start();
    timer1_.start();
    loaded_ = true;
    changed();
}

bool RecorderSession::Form_Unload() {
    try {
        // The capture's mode word replaces "recording" every second, so a running recording
        // is asked about by its own flag as well.
        if (state_.captureStatus == QStringLiteral("recording") || state_.recording) {
            if (ctx_.boxes.show(QStringLiteral("Stai registrando !!! Vuoi uscire ?"),
                                QStringLiteral("Uscita"), MsgButtons::YesNo) != MsgAnswer::Yes)
                return false;
            mci(QStringLiteral("stop capture"));
            // Leaving must not lose the recording so far.
            StopDevices();
            StopAndSave();
        } else {
            mci(QStringLiteral("stop capture"));
        }
        counter_.stop();
        timer1_.stop();
        mci(QStringLiteral("close all"));
        if (ctx_.forms) {
            ctx_.forms->unload(FormId::Mixer);
            ctx_.forms->unload(FormId::Login);
        }
        wave_->stopCapture();
        tapi_->drop();
        wave_->closeCapture();
        tapi_->setLineOpen(false);
    } catch (const RuntimeError& error) {
        reports_->postError(error, QStringLiteral("Form_Unload"));
    }
    // The program ends only once every recording is on the disk.
    saves_->waitIdle();
    reports_->flush();
    return true;
}

void RecorderSession::Form_KeyDown(int keyCode) {
    PlayerLink* p = player();
    if (!p || !p->playbackActive())
        return;
    if ((keyCode >= 49 && keyCode <= 57) || (keyCode >= 97 && keyCode <= 105))
        p->rewindByDigitKey(keyCode);
}

// ---- line events ------------------------------------------------------------------------

void RecorderSession::amTapiPro1_IncomingCall(int rings) {
    state_.lineStatus = LineStatus::IncomingCall;
    state_.call = CallState::Ringing;
    changed();
    if (ToInt32(Val(ctx_.settings.get(QStringLiteral("Recall"), QStringLiteral("0")))) == 1) {
        state_.recallArmed = true;
        state_.recallSeconds = 0;
        changed();
        return;
    }
    if (ctx_.settings.get(QStringLiteral("Auto Answer"), QStringLiteral("1")) !=
        QStringLiteral("1"))
        return;
    const qint64 wanted =
        ToInt64(Val(ctx_.settings.get(QStringLiteral("Rings Before Answer"), QStringLiteral("2"))));
    if (rings < wanted)
        return;
    // An answered call that cannot be recorded is a call lost without anybody knowing.
    const QString problem = captureProblem();
    if (!problem.isEmpty()) {
        if (!answerRefusedTold_)
            notice(texts::kCallNotAnswered + problem, true);
        answerRefusedTold_ = true;
        return;
    }
    tapi_->answer();
}

void RecorderSession::amTapiPro1_Connected() {
    state_.call = CallState::Connected;
    try {
        (void)tapi_->readMember72();
        (void)tapi_->readMember35();
        tapi_->setMember46(true);
        tapi_->setMember51(4);
        tapi_->setMember51(4);
        tapi_->setMember61(65535);
        ResetForCapture();
        StartWaveCapture();
        ShowRecordingStarted();
    } catch (const RuntimeError& error) {
        // The caller is on the line and nothing records: the operator must know at once.
        notice(texts::kCallNotRecorded + ErrorText(error.number(), error.description()), true);
    }
    changed();
}

void RecorderSession::amTapiPro1_Disconnected() {
    state_.call = CallState::None;
    answerRefusedTold_ = false;
    tapi_->setMember46(false);
    StopDevices();
    StopAndSave();
}

void RecorderSession::amTapiPro1_Idle() {
    state_.call = CallState::None;
    answerRefusedTold_ = false;
    state_.lineStatus = LineStatus::Waiting;
    changed();
}

void RecorderSession::onLineClosing() {
    // Closing the line ends its call without a Disconnected event: the recording of that
    // call is saved first, whoever closes the line (the settings, the mixer).
    if (state_.recording) {
        stopCapture(false);
        StopAndSave();
    }
    state_.call = CallState::None;
    changed();
}

void RecorderSession::onCaptureFailed(const QString& text) {
    reports_->postError(errors::kDeviceIo, text, texts::kSaveTitle);
    // What was captured before the failure is saved; the call stays up.
    try {
        stopCapture(false);
        StopAndSave();
    } catch (const RuntimeError& error) {
        reports_->postError(error, texts::kSaveTitle);
    }
}

// ---- buttons ----------------------------------------------------------------------------

void RecorderSession::ResetForCapture() {
    // The player gives the sound device up, and the buttons and its status start over.
    if (PlayerLink* p = player())
        p->setPlaybackActive(false);
    mci(QStringLiteral("stop capture"));
    state_.recordEnabled = true;
    state_.stopEnabled = false;
    if (PlayerLink* p = player()) {
        p->setPositionSliderValue(0);
        p->setStatusText(QStringLiteral("Stopped"));
    }
    changed();
}

void RecorderSession::BtiNIReg_Click() {
    try {
        if (PlayerLink* p = player(); p && p->playbackActive()) {
            p->stopPlaybackBuffer();
            p->setPlaybackPosition(0);
            p->setPositionSliderValue(0);
        }
        if (state_.source == RecordSource::LineIn) {
            ResetForCapture();
            if (!StartWaveCapture()) {
                // Nothing was started: a call on the line is none of this start's business.
                stopCapture(false);
                return;
            }
            ShowRecordingStarted();
        } else {
            tapi_->setLineOpen(false);
            tapi_->setLineOpen(true);
            const QString number = ctx_.settings.get(QStringLiteral("Telephone Number"), QString());
            if (number.isEmpty()) {
                reports_->post(QStringLiteral("N. Telefonico non impostato"));
                failurePath(0, QString());
                return;
            }
            state_.lineStatus = LineStatus::Dialling;
            state_.call = CallState::Dialling;
            tapi_->dial(number);
        }
        state_.recordEnabled = false;
        state_.stopEnabled = true;
        changed();
    } catch (const RuntimeError& error) {
        failurePath(error.number(), error.description());
    }
}

void RecorderSession::failurePath(int number, const QString& description) {
    try {
        if (number == kLineDeviceError) {
            reports_->post(QStringLiteral("Controllare Settaggio Scheda Audio "));
            if (state_.silenceDetect)
                silencecrt_Click(false);
            StopDevices();
            StopAndSave();
            return;
        }
        reports_->postError(number, description, kApplicationTitle);
        state_.telephoneSourceEnabled = false;
        state_.source = RecordSource::LineIn;
        StopDevices();
        changed();
    } catch (const RuntimeError& error) {
        reports_->postError(error, kApplicationTitle);
    }
}

void RecorderSession::BtFineReg_Click() {
    StopDevices();
    StopAndSave();
}

void RecorderSession::silencecrt_Click(bool ticked) {
    state_.silenceDetect = ticked;
    changed();
    if (ticked) {
        state_.target = RecordTarget::Null;
        state_.source = RecordSource::LineIn;
        BtiNIReg_Click();
    } else {
        BtFineReg_Click();
        state_.target = RecordTarget::File;
        changed();
    }
}

// ---- capture ----------------------------------------------------------------------------

QString RecorderSession::captureProblem() const {
    const qint32 format =
        ToInt32(Val(ctx_.settings.get(QStringLiteral("Record Format"), QStringLiteral("-1"))));
    if (format == -1)
        return QStringLiteral("Formato Record non selezionato");
    if (!RecordFormatOf(format))
        return QStringLiteral("il formato di registrazione %1 non è valido").arg(format);
    const qint32 input =
        ToInt32(Val(ctx_.settings.get(QStringLiteral("Sound Card Input"), QStringLiteral("-1"))));
    if (input == -1)
        return QStringLiteral("Scheda audio non settata");
    if (!wave_->inputExists(input))
        return QStringLiteral("la scheda audio in ingresso n. %1 non esiste più").arg(input);
    if (!QFileInfo(ctx_.homeFolder).isWritable())
        return QStringLiteral("impossibile scrivere nella cartella del programma %1")
            .arg(ctx_.homeFolder);
    return {};
}

bool RecorderSession::StartWaveCapture() {
    captureFile_.clear();
    state_.captureStatus = QStringLiteral("recording");
    changed();
    const qint32 format =
        ToInt32(Val(ctx_.settings.get(QStringLiteral("Record Format"), QStringLiteral("-1"))));
    if (format == -1) {
        reports_->post(QStringLiteral("Formato Record non selezionato "));
        return false;
    }
    wave_->setRecordFormat(format);
    // A capture file that still holds unsaved audio is never written again: a new capture
    // takes a file of its own.
    const QString file = state_.target == RecordTarget::File
                             ? FreeCaptureFile(ctx_.homeFolder, savingCaptures_)
                             : QString();
    wave_->setFileName(file);
    const qint32 input =
        ToInt32(Val(ctx_.settings.get(QStringLiteral("Sound Card Input"), QStringLiteral("-1"))));
    if (input == -1) {
        reports_->post(QStringLiteral("Scheda audio non settata"));
        return false;
    }
    wave_->startCapture(input);
    wave_->startCapture(tapi_->waveInDevice());
    if (!file.isEmpty() && wave_->isCapturing())
        captureFile_ = file;
    return true;
}

void RecorderSession::stopCapture(bool dropCall) {
    try {
        wave_->stopCapture();
        wave_->closeCapture();
        if (dropCall)
            tapi_->drop();
    } catch (const RuntimeError& error) {
        reports_->postError(error, QStringLiteral("CommandStop_Click"));
    }
}

void RecorderSession::StopDevices() {
    stopCapture(true);
}

void RecorderSession::ShowRecordingStarted() {
    state_.lineStatus = LineStatus::Connected;
    if (state_.target == RecordTarget::Null) {
        state_.lineStatus = LineStatus::SilenceDetect;
        changed();
        return;
    }
    // A capture that never started leaves nothing to record; marking a recording now would
    // save the audio of an earlier one again.
    if (captureFile_.isEmpty()) {
        changed();
        return;
    }
    state_.recording = true;
    state_.recordingOfCall = state_.call == CallState::Connected;
    state_.showsRecording = true;
    state_.startTime = nowToSecond();
    const QString problem = CaptureMarker(captureFile_).create(state_.startTime);
    if (!problem.isEmpty())
        notice(texts::kMarkerNotWritten + problem, true);
    state_.startText = FormatDateTime(state_.startTime);
    state_.useDir = ctx_.config.recFolder;
    state_.elapsedRunning = true;
    state_.stopEnabled = true;
    state_.recordEnabled = false;
    state_.splitEnabled = true;
    state_.captureStatus = QStringLiteral("recording");
    changed();
}

void RecorderSession::setFolderSizeLimit(double millionsOfBytes) {
    setState(state_.dimFolder, ToInt64(millionsOfBytes));
}

void RecorderSession::setVoxThresholdBar(int value, bool visible) {
    state_.voxThreshold = value;
    state_.voxThresholdVisible = visible;
    changed();
}

void RecorderSession::setRecordLevel(qint16 level) {
    wave_->setRecordLevel(level);
}

void RecorderSession::setVoxHoldMs(qint16 ms) {
    wave_->setVoxHoldMs(ms);
}

void RecorderSession::setVoxThreshold(qint16 threshold) {
    wave_->setVoxThreshold(threshold);
}

}  // namespace kallomir
