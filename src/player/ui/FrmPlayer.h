#pragma once

#include "controls/MediaCommands.h"
#include "core/FormLinks.h"
#include "player/HeardCoverage.h"
#include "player/TranscriptionKeys.h"

#include <QDateTime>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;

namespace kallomir {

struct AppContext;
struct CatalogueRow;
class PedalControl;
class PedalDevices;
class PlaybackDevice;
class PlayerDialogs;
class SoundBuffer;
class TranscriptionEditor;
class WaveformView;
class WavePeaks;

// The player window: choose a recording, see its catalogue data, play it, seek, play it
// faster or at another frequency, and write its transcription and marks into its
// catalogue row. Beside that, the tools of a transcription workstation: "Velocità" (tempo with
// the pitch kept), keys that work while typing, auto-rewind on resume, a foot pedal, time
// marks in the text, and the waveform with the stretches already heard.
class FrmPlayer : public QWidget, public PlayerLink {
    Q_OBJECT
public:
    explicit FrmPlayer(AppContext& ctx, QWidget* parent = nullptr);
    ~FrmPlayer() override;

    // Replaces the sound output made at load (tests give a driven one); call before Form_Load.

    // Window events.
    void Form_Load();
    void ArrangeFrames();
    void Drive1_Change();
    void Dir1_Change();
    void FOpener_Click();
    void BtiNIReg_Click();
    void Btpause_Click();
    void BtFineReg_Click();
    void Counter_Timer();
    void Scroller_MouseDown();
    void Scroller_Scroll();
    void Scroller_MouseUp();
    void HS_Frequenz_Change();
    void CmdResetVel_Click();
    void FastX5_MouseDown() { fastDown(false); }
    void FastX5_MouseUp() { fastUp(false); }
    void FastX10_MouseDown() { fastDown(true); }
    void FastX10_MouseUp() { fastUp(true); }
    void btedit_Click();
    void cmdSalva_Click();
    void CheckN_Click(int index);  // Check1_Click .. Check3_Click (index 0..2)
    void SetEditMode(bool enable);
    // Opens a recording found elsewhere (the search): the folder list moves to its folder
    // when needed, the file is selected and opened. False when it cannot be (editing is on,
    // or the file is not in that folder).
    bool openRecording(const QString& folder, const QString& nome);

    // PlayerLink.
    bool saveButtonEnabled() const override;
    bool playbackActive() const override { return PlaybackActive; }
    void setPlaybackActive(bool active) override { PlaybackActive = active; }
    void stopPlaybackBuffer() override;
    void setPlaybackPosition(long long bytes) override;
    int positionSliderValue() const override;
    void setPositionSliderValue(int seconds) override;
    long long bytesPerSecond() const override { return BytesPerSecond; }
    void setStatusText(const QString& text) override;
    QString folderPath() const override { return dirPath_; }
    void setFolderPath(const QString& path) override;
    void refreshFileList() override;
    QString folderSizeText() const override;
    void setFolderSizeText(const QString& text) override;
    void rewindByDigitKey(int keyCode) override;
    bool openFoundRecording(const QString& folder, const QString& nome,
                            const QStringList& stems) override;

    // Transcription tools.
    void setPedalDevices(PedalDevices* devices);  // from the wiring place; none: no pedal
    void CmdTasti_Click();                        // the keys and pedal dialog
    void applyTranscriptionSettings(const TranscriptionSettings& settings);
    const TranscriptionSettings& transcriptionSettings() const { return tools_; }
    void transcriptionAction(TranscriptionAction action);
    void pedalButton(int index, bool pressed);
    void pedalRepeat();  // a back or forward pedal held down steps again
    void SliderVelocita_Change();
    void seekToSeconds(double seconds);  // a time mark or a click on the waveform
    void insertTimestamp();
    bool goToTimestampAtCursor();
    bool editing() const;
    int heardPercent() const;
    const HeardCoverage& heardCoverage() const { return heard_.coverage(); }
    PedalControl* pedal() const { return pedal_.get(); }
    WavePeaks* Peaks() const { return peaks_.get(); }

    // Controls, by their names, for the tests and the other windows.
    QComboBox* Drive1 = nullptr;
    QListWidget* Dir1 = nullptr;
    QListWidget* FOpener = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* LbCont = nullptr;
    QLabel* LbInizio = nullptr;
    QLabel* LbFine = nullptr;
    QLabel* LbNow = nullptr;
    QLabel* lblq[3] = {nullptr, nullptr, nullptr};
    QLineEdit* txtUtente = nullptr;
    QLabel* lblNumero = nullptr;  // the caller's number
    QCheckBox* Check[3] = {nullptr, nullptr, nullptr};
    QLabel* Image[3] = {nullptr, nullptr, nullptr};
    QSlider* Scroller = nullptr;
    QSlider* HS_Cursor = nullptr;
    QScrollBar* HS_Frequenz = nullptr;
    QLabel* lbl_Frequenz = nullptr;
    QPushButton* CmdResetVel = nullptr;
    QPushButton* cmdEsporta = nullptr;
    QPushButton* cmdSalva = nullptr;
    QPushButton* btedit = nullptr;
    QPushButton* BtiNIReg = nullptr;
    QPushButton* FastX10 = nullptr;
    QPushButton* FastX5 = nullptr;
    QPushButton* Btpause = nullptr;
    QPushButton* BtFineReg = nullptr;
    QLabel* lbstatus = nullptr;
    QLabel* LblFolderSize = nullptr;
    TranscriptionEditor* Frame2 = nullptr;
    QTimer* Counter = nullptr;
    QSlider* SliderVelocita = nullptr;
    QLabel* lblVelocita = nullptr;
    QLabel* lblAscoltato = nullptr;
    QPushButton* CmdTasti = nullptr;
    WaveformView* Waveform = nullptr;

    // Window and program-wide playback state.
    bool RecordingLoaded = false;
    bool Paused = false;
    bool PlaybackActive = false;
    QDateTime StartTime;
    QDateTime EndTime;
    std::int64_t BufferBytes = 0;
    std::int64_t BytesPerSecond = 0;
    int NativeFrequencyValue = 0;
    QString SampleRate, BitsPerSample, Channels;  // the opened file's own format
    SoundBuffer* PlaybackBuffer() const { return buffer_.get(); }
    PlaybackDevice* SoundDevice() const { return device_.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    void fastDown(bool ten);
    void fastUp(bool ten);
    void showTicks();
    void showRow(const CatalogueRow& row);
    void ShowMciError(int code);
    void loadBuffer(const QString& path);
    void showTimeAt(std::int64_t seconds);
    QString selectedName() const;
    MediaCommands& media();
    bool recorderBusy();
    void buildTools();
    void layoutTools();
    bool handleKey(QKeyEvent* key, bool overrideOnly);
    void playOrPause(bool play);
    void moveBy(double seconds);
    void moveTo(std::int64_t bytes);
    void showPosition(std::int64_t bytes);
    std::int64_t durationMs() const;
    bool listeningSpeed() const;
    void trackHeard(bool playing, std::int64_t position);
    void showHeard();
    void openHeard(const QString& path);
    void saveHeard();
    void pollWaveform();

    AppContext& ctx_;
    std::unique_ptr<PlaybackDevice> device_;
    std::unique_ptr<SoundBuffer> buffer_;
    std::unique_ptr<WavePeaks> peaks_;  // reads buffer_'s image: goes before it
    MediaCommands ownMedia_;
    QString dirPath_;
    QString openedName_;           // the file list's name of the last opening
    bool openedByChange_ = false;  // the selection change of this click already opened it
    QPushButton* btDirUp_ = nullptr;
    std::optional<int> fastRestore_;  // the frequency before a fast button was pressed
    int fastSet_ = 0;                 // what the press set
    bool closing_ = false;

    // The opened recording's row version: a save over it checks nobody saved meanwhile.
    std::optional<std::int64_t> openedVersion_;

    TranscriptionSettings tools_;
    bool rewindOnResume_ = false;  // a pause that no explicit move has followed
    HeardTracker heard_;
    QString heardPath_;   // the recording whose coverage heard_ holds
    int heardTicks_ = 0;  // ticks since the coverage was last stored
    bool heardReported_ = false;
    PedalDevices* pedalDevices_ = nullptr;
    std::unique_ptr<PedalControl> pedal_;
    bool pedalReported_ = false;
    QTimer* pedalRepeat_ = nullptr;
    PedalAction repeating_ = PedalAction::None;
    QTimer* waveformPoll_ = nullptr;
};

}  // namespace kallomir
