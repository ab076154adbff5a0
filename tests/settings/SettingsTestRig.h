#pragma once

#include "app/FormLinks.h"
#include "controls/LineBackend.h"
#include "controls/TelephonyControl.h"
#include "controls/TestAudioSystem.h"
#include "controls/WaveControl.h"
#include "settings/TestMixerBackend.h"
#include "support/TempHome.h"

#include <memory>

namespace kallomir::test {

// Line devices that can be told to vanish or to refuse opening, so that the retry rules can
// be driven to their end.
class ScriptedLine : public LineBackend {
public:
    QList<LineDeviceInfo> list;
    mutable int devicesCalls = 0;
    int hideAfterCalls = -1;  // from this many devices() calls on, no device is listed
    bool failOpen = false;
    int openAttempts = 0;

    QList<LineDeviceInfo> devices() const override;
    void open(int device) override;
    void close(int) override {}
    void answer(int) override {}
    void drop(int) override {}
    void dial(int, const QString&) override {}
    bool isConnected(int) const override { return false; }
    int audioSampleRate(int) const override { return 8000; }
};

class FakeRecorder : public RecorderLink {
public:
    FakeRecorder(TelephonyControl& tapi, WaveControl& wave) : tapi_(tapi), wave_(wave) {}
    TelephonyControl& amTapiPro1() override { return tapi_; }
    WaveControl& amWavePro1() override { return wave_; }
    bool recordButtonEnabled() const override { return true; }
    void setProgressiveNumber(const QString&) override {}
    void setFolderSizeLimit(double limit) override { folderLimits.append(limit); }
    void setTelephoneSourceEnabled(bool enabled) override { telephoneEnabled = enabled; }
    void selectLineInSource() override { lineInSelected = true; }
    void setVoxThresholdBar(int value, bool visible) override {
        thresholdBar = value;
        thresholdBarVisible = visible;
    }
    void setVoxLabel(const QString& text) override { voxLabel = text; }
    void setLevelBar(int value) override { levelBar = value; }
    void digitKeyPressed(int) override {}

    QList<double> folderLimits;
    bool telephoneEnabled = true;
    bool lineInSelected = false;
    int thresholdBar = -1;
    bool thresholdBarVisible = true;
    QString voxLabel = QStringLiteral("unset");
    int levelBar = -1;

private:
    TelephonyControl& tapi_;
    WaveControl& wave_;
};

class FakePlayer : public PlayerLink {
public:
    bool saveButtonEnabled() const override { return false; }
    bool playbackActive() const override { return playing; }
    void setPlaybackActive(bool active) override { playing = active; }
    void stopPlaybackBuffer() override {}
    void setPlaybackPosition(long long) override {}
    int positionSliderValue() const override { return 0; }
    void setPositionSliderValue(int) override {}
    long long bytesPerSecond() const override { return 0; }
    void setStatusText(const QString&) override {}
    QString folderPath() const override { return folder; }
    void setFolderPath(const QString& path) override { folder = path; }
    void refreshFileList() override { ++refreshes; }
    QString folderSizeText() const override { return {}; }
    void setFolderSizeText(const QString&) override {}
    void rewindByDigitKey(int keyCode) override { rewinds.append(keyCode); }

    bool playing = false;
    QString folder;
    int refreshes = 0;
    QList<int> rewinds;
};

class FakeMixer : public MixerLink {
public:
    void setTimeVoxSlider(int seconds) override { timeVox.append(seconds); }
    QList<int> timeVox;
};

class FakeForms : public Forms {
public:
    FakeForms(RecorderLink& recorder, PlayerLink& player, MixerLink& mixer)
        : recorder_(recorder), player_(player), mixer_(&mixer) {}
    RecorderLink& recorder() override { return recorder_; }
    PlayerLink& player() override { return player_; }
    MixerLink& mixer() override { return *mixer_; }
    void setMixer(MixerLink& mixer) { mixer_ = &mixer; }
    void show(FormId) override {}
    bool unload(FormId) override { return true; }
    bool isLoaded(FormId) const override { return true; }
    void showPasswordWindow(const QString&) override {}

private:
    RecorderLink& recorder_;
    PlayerLink& player_;
    MixerLink* mixer_;
};

// A configured program folder, two sound-card inputs and outputs, three line devices (offered:
// "Line A" TAPI 2.1 and "Line B" TAPI 3.0; "Fax Only" lacks automated voice), an empty mixer
// card, and fakes for the recorder, player and mixer windows.
class SettingsRig {
public:
    SettingsRig();
    AppContext& ctx() { return *home.context; }
    QString setting(const QString& key) const;
    void store(const QString& key, const QString& value);
    QString ini(const QString& section, const QString& key) const;
    ScriptedMessageBoxes& boxes() { return home.boxes; }

    TempHome home;
    ScriptedLine line;
    TestAudioSystem audio;
    TestMixerBackend card;
    std::unique_ptr<TelephonyControl> tapi;
    std::unique_ptr<WaveControl> wave;
    std::unique_ptr<FakeRecorder> recorder;
    FakePlayer player;
    FakeMixer mixer;
    std::unique_ptr<FakeForms> forms;
};

}  // namespace kallomir::test
