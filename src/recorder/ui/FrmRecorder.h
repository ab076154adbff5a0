#pragma once

#include "core/FormLinks.h"
#include "recorder/CaptureMarker.h"
#include "recorder/FolderSizeCache.h"
#include "widgets/Strum.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace kallomir {

struct AppContext;
class CaptureEngine;
class PictureBox;
class PlayerLink;
class TelephonyControl;
class WaveControl;

// The recorder window: watches the line, answers, dials back, records from the line or the
// line input, saves and catalogues each recording, and shows the level, times and sizes
// once a second. It owns the telephony and wave controls for the whole run.
class FrmRecorder : public QWidget, public RecorderLink {
    Q_OBJECT
public:
    FrmRecorder(AppContext& ctx, QWidget* parent = nullptr);
    ~FrmRecorder() override;

    // A loaded window, as the window registry wants it.
    static FrmRecorder* Create(AppContext& ctx, QWidget* parent = nullptr);

    // Window events and handlers, public so that other windows and tests reach them by name.
    void Form_Load();
    void Form_Unload(bool& cancel);
    void Form_KeyDown(int keyCode);
    void BtiNIReg_Click();
    void BtFineReg_Click();
    void cmdProvvisorio_Click() { SplitRecording(); }
    void Command2_Click();
    void silencecrt_Click();
    void Counter_Timer();
    void Timer1_Timer();
    void amTapiPro1_IncomingCall(int rings);
    void amTapiPro1_Connected();
    void amTapiPro1_Disconnected();
    void amTapiPro1_Idle();
    void amWavePro1_Level(std::int16_t a, std::int16_t b);
    void amWavePro1_Silence(bool silent);

    void ShowRecordingStarted();
    void StopAndSave();
    void SplitRecording();
    void ShowDiskTime();
    void ShowTempFileSize();
    void ShowFolderSize();

    // RecorderLink
    TelephonyControl& amTapiPro1() override { return *tapi_; }
    WaveControl& amWavePro1() override { return *wave_; }
    bool recordButtonEnabled() const override;
    void setProgressiveNumber(const QString& text) override;
    void setFolderSizeLimit(double millionsOfBytes) override;
    void setTelephoneSourceEnabled(bool enabled) override;
    void selectLineInSource() override;
    void setVoxThresholdBar(int value, bool visible) override;
    void setVoxLabel(const QString& text) override;
    void digitKeyPressed(int keyCode) override { Form_KeyDown(keyCode); }
    void setLevelBar(int value) override;

    // State and controls, for the windows that reach in and for tests.
    bool isRecording() const { return isRecording_; }
    QDateTime startTime() const { return startTime_; }
    QDateTime endTime() const { return endTime_; }
    QString currentFile() const { return currentFile_; }
    bool recallArmed() const { return recallArmed_; }
    std::int32_t recallSeconds() const { return recallSeconds_; }
    std::int64_t silenceCountdown() const { return silenceCountdown_; }
    std::int64_t folderSizeLimit() const { return dimFolder_; }
    QString counterTag() const { return counterTag_; }
    QTimer& counterTimer() { return counter_; }
    QTimer& timer1() { return timer1_; }
    CaptureEngine& captureEngine() { return *engine_; }
    PictureBox& picture3() { return *picture3_; }

    QPushButton* BtiNIReg = nullptr;
    QPushButton* BtFineReg = nullptr;
    QPushButton* BtPlayReg = nullptr;
    QPushButton* cmdProvvisorio = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    std::array<QRadioButton*, 3> OptionWaveDevice{};
    std::array<QRadioButton*, 2> OptionRecordFile{};
    QCheckBox* silencecrt = nullptr;
    QLabel* LabelStatus = nullptr;
    QLabel* lbstatus = nullptr;
    QLabel* LbInizio = nullptr;
    QLabel* LbNow = nullptr;
    QLabel* LbContrec = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtprog = nullptr;
    QLabel* LABELSIZE = nullptr;
    QLabel* USEDIR = nullptr;
    QLabel* LABELRECALL = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QLabel* IStat = nullptr;
    std::array<QLabel*, 7> Eti{};

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ResetForCapture();
    void buildControls();
    void connectControls();
    // Runs one handler; a RuntimeError that escapes it is shown under the handler's name,
    // so that no error ever leaves through the event loop.
    void guarded(const QString& title, const std::function<void()>& handler);
    void failurePath(int number, const QString& description);
    void mci(const QString& command, QString* reply = nullptr);
    void letEventsRun();
    PlayerLink* player();
    QDateTime nowToSecond() const;
    QString fallbackDataPath() const;
    bool recNull() const;
    void applyStoredLine();
    void showIStat(bool recording);
    void resetSilenceCountdown();

    AppContext& ctx_;
    std::unique_ptr<TelephonyControl> tapi_;
    std::unique_ptr<WaveControl> wave_;
    std::unique_ptr<CaptureEngine> engine_;
    CaptureMarker marker_;
    FolderSizeCache folderSize_;
    Strum Meter;
    PictureBox* picture3_ = nullptr;
    QTimer counter_;
    QTimer timer1_;
    QString counterTag_;

    bool isRecording_ = false;
    QDateTime startTime_;
    QDateTime endTime_;
    QString currentFile_;
    bool recallArmed_ = false;
    std::int32_t recallSeconds_ = 0;
    std::int64_t silenceCountdown_ = 0;
    std::int64_t dimFolder_ = 600;
    int voxThreshold_ = 0;
    bool saving_ = false;  // a save is copying; starts and a second save wait for it
    bool loaded_ = false;
};

}  // namespace kallomir
