#pragma once

#include "recorder/FolderSizeCache.h"
#include "recorder/RecorderState.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <memory>

namespace kallomir {

struct AppContext;
class MessageBoxQueue;
class PlayerLink;
class RecordingSaver;
class RuntimeError;
class SaveQueue;
struct SaveRequest;
struct SaveResult;
class TelephonyControl;
class WaveControl;

// The recording cycle without a window: it owns the telephony control amTapiPro1, the wave
// control amWavePro1, the capture files and their markers and the save queue, and keeps the
// cycle's state as plain values. The recorder window shows that state and hands the
// operator's clicks to the handlers below, which keep the names of the window's handlers.
//
// Rules beyond the window's own, all for one purpose (no call and no recording lost):
// - a call is answered only when a capture can start; otherwise the operator is told;
// - silence and level events end a recording only, and drop a call only when the recording
//   they end is of that call;
// - a save runs on its own thread; a capture that started meanwhile goes to a capture file
//   of its own, so unsaved audio is never overwritten; a save cut off by a crash, or one that
//   failed, is finished when the program starts again and whenever no save is running;
// - reports are shown after the handler that found the problem has finished, so calls are
//   answered and recorded while a message box is open.
class RecorderSession : public QObject {
    Q_OBJECT
public:
    explicit RecorderSession(AppContext& ctx, QObject* parent = nullptr);
    ~RecorderSession() override;

    const RecorderState& state() const { return state_; }
    TelephonyControl& amTapiPro1() { return *tapi_; }
    WaveControl& amWavePro1() { return *wave_; }
    QTimer& counterTimer() { return counter_; }
    QTimer& timer1() { return timer1_; }
    SaveQueue& saves() { return *saves_; }
    MessageBoxQueue& reports() { return *reports_; }

    // Window events
    void Form_Load();
    // False when the operator chose to stay.
    bool Form_Unload();
    void Form_KeyDown(int keyCode);

    // The operator
    void BtiNIReg_Click();
    void BtFineReg_Click();
    void cmdProvvisorio_Click() { SplitRecording(); }
    void Command2_Click();
    void silencecrt_Click(bool ticked);
    void selectSource(RecordSource source) { setState(state_.source, source); }
    void selectTarget(RecordTarget target) { setState(state_.target, target); }

    // Timers
    void Counter_Timer();
    void Timer1_Timer();

    // Line and wave events
    void amTapiPro1_IncomingCall(int rings);
    void amTapiPro1_Connected();
    void amTapiPro1_Disconnected();
    void amTapiPro1_Idle();
    void amWavePro1_Level(qint16 a, qint16 b);
    void amWavePro1_Silence(bool silent);

    // The cycle
    bool StartWaveCapture();
    void StopDevices();
    void ShowRecordingStarted();
    void StopAndSave();
    void SplitRecording();
    void ShowDiskTime();
    void ShowTempFileSize();
    void ShowFolderSize();

    // What the settings dialog and the mixer set
    void setProgressiveNumber(const QString& text) { setState(state_.progressive, text); }
    void setFolderSizeLimit(double millionsOfBytes);
    void setTelephoneSourceEnabled(bool enabled) {
        setState(state_.telephoneSourceEnabled, enabled);
    }
    void selectLineInSource() { selectSource(RecordSource::LineIn); }
    void setVoxThresholdBar(int value, bool visible);
    void setVoxLabel(const QString& text) { setState(state_.voxLabel, text); }
    void setLevelBar(int value) { setState(state_.level, value); }
    void setRecordLevel(qint16 level);
    void setVoxHoldMs(qint16 ms);
    void setVoxThreshold(qint16 threshold);

    // Finishes every unsaved capture not in use (at load, and when no save is running).
    void RecoverUnsavedCaptures();
    // The capture file of the recording now running (empty without one).
    const QString& captureFile() const { return captureFile_; }

signals:
    void stateChanged();

private:
    template <class T>
    void setState(T& field, const T& value) {
        if (field == value)
            return;
        field = value;
        changed();
    }
    void changed();
    PlayerLink* player();
    void mci(const QString& command, QString* reply = nullptr);
    void ResetForCapture();
    void failurePath(int number, const QString& description);
    void stopCapture(bool dropCall);
    void silenceStop();
    QString captureProblem() const;
    void reloadSilenceCountdown();
    void onLineClosing();
    void onCaptureFailed(const QString& text);
    void notice(const QString& text, bool box);
    void queueSave(const SaveRequest& request);
    void saveDone(const SaveRequest& request, const SaveResult& result);
    bool catalogue(const SaveRequest& request, const SaveResult& result);
    bool logSaved(const SaveRequest& request, const SaveResult& result, bool recovery);
    void showCatalogueStatus();
    void finishMarker(const QString& captureFile);
    QString fallbackDataPath() const;
    QDateTime nowToSecond() const;

    AppContext& ctx_;
    std::unique_ptr<TelephonyControl> tapi_;
    std::unique_ptr<WaveControl> wave_;
    std::unique_ptr<MessageBoxQueue> reports_;
    std::unique_ptr<SaveQueue> saves_;
    FolderSizeCache folderSizes_;
    QTimer counter_;
    QTimer timer1_;
    RecorderState state_;

    QString captureFile_;               // the running capture's file ("Rec File" only)
    QSet<QString> savingCaptures_;      // capture files whose saves are queued or running
    QSet<QString> recoveringCaptures_;  // capture files whose saves finish an earlier one
    QSet<QString> toldAboutCaptures_;   // unsaved captures the operator has heard about
    bool levelSinceTick_ = false;
    bool answerRefusedTold_ = false;
    bool folderAdvanceFailed_ = false;
    int recoveryCountdown_ = 0;
    bool loaded_ = false;
    QString catalogueNotice_;  // what the notice line says about a catalogue server away
};

}  // namespace kallomir
