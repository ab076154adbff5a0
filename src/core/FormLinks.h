#pragma once

#include <QString>
#include <QStringList>

namespace kallomir {

class RecorderSession;

// The windows reach into one another's controls and state by the window's name. These
// narrow interfaces are what one window may touch of another; the window registry creates
// the window the first time any of them is used.

// What other windows use of the recorder window FrmRecorder.
class RecorderLink {
public:
    virtual ~RecorderLink() = default;
    // The recording cycle, which owns the telephony and wave controls: whoever acts on the
    // line or the capture goes through it, so no call or recording is lost behind its back.
    virtual RecorderSession& session() = 0;
    virtual bool recordButtonEnabled() const = 0;                  // BtiNIReg.Enabled
    virtual void setProgressiveNumber(const QString& text) = 0;    // txtprog
    virtual void setFolderSizeLimit(double millionsOfBytes) = 0;   // DimFolder
    virtual void setTelephoneSourceEnabled(bool enabled) = 0;      // OptionWaveDevice(0).Enabled
    virtual void selectLineInSource() = 0;                         // OptionWaveDevice(1) = True
    virtual void setVoxThresholdBar(int value, bool visible) = 0;  // ProgressBar1
    virtual void setVoxLabel(const QString& text) = 0;             // Label1
    virtual void setLevelBar(int /*value*/) {}                     // ProgressBar
    virtual void digitKeyPressed(int keyCode) = 0;                 // Form_KeyDown
};

// What other windows use of the player window FrmPlayer.
class PlayerLink {
public:
    virtual ~PlayerLink() = default;
    virtual bool saveButtonEnabled() const = 0;  // cmdSalva.Enabled: unsaved transcription
    virtual bool playbackActive() const = 0;     // PlaybackActive
    virtual void setPlaybackActive(bool active) = 0;
    virtual void stopPlaybackBuffer() = 0;                  // PlaybackBuffer.Stop
    virtual void setPlaybackPosition(long long bytes) = 0;  // PlaybackBuffer.SetCurrentPosition
    virtual int positionSliderValue() const = 0;            // Scroller.Value
    virtual void setPositionSliderValue(int seconds) = 0;
    virtual long long bytesPerSecond() const = 0;         // BytesPerSecond
    virtual void setStatusText(const QString& text) = 0;  // lbstatus
    virtual QString folderPath() const = 0;               // Dir1.Path
    virtual void setFolderPath(const QString& path) = 0;  // Dir1.Path = ...
    virtual void refreshFileList() = 0;                   // FOpener.Refresh
    virtual QString folderSizeText() const = 0;           // folder-size label
    virtual void setFolderSizeText(const QString& text) = 0;
    virtual void rewindByDigitKey(int keyCode) = 0;  // digit-key rewind
    // A recording found by the search: its folder shown, the file selected and opened, the
    // transcription at the first word whose stem is one of stems. False when it cannot be
    // opened now (a transcription being edited, the file gone).
    virtual bool openFoundRecording(const QString& /*folder*/, const QString& /*nome*/,
                                    const QStringList& /*stems*/) {
        return false;
    }
};

// What other windows use of the mixer window FrmMixer.
class MixerLink {
public:
    virtual ~MixerLink() = default;
    virtual void setTimeVoxSlider(int seconds) = 0;  // SliderTimeVox.Value
};

enum class FormId { Splash, Main, Login, Pwd, Recorder, Player, Mixer, Reports, Search };

// The one owner of every window: each exists at most once and is created (and loaded)
// the first time any code shows it or touches it.
class Forms {
public:
    virtual ~Forms() = default;
    virtual RecorderLink& recorder() = 0;
    virtual PlayerLink& player() = 0;
    virtual MixerLink& mixer() = 0;
    virtual void show(FormId form) = 0;
    // Runs the window's unload; false when the window refused to close.
    virtual bool unload(FormId form) = 0;
    virtual bool isLoaded(FormId form) const = 0;
    // The password window with its tag ("P" settings, "E" leave the program).
    virtual void showPasswordWindow(const QString& tag) = 0;
};

}  // namespace kallomir
