#pragma once

#include "core/FormLinks.h"
#include "core/RuntimeError.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <vector>

namespace kallomir::test {

// The recorder window as the other windows see it: what they set is kept for the test.
class FakeRecorder : public RecorderLink {
public:
    RecorderSession& session() override {
        if (!recorderSession)
            throw RuntimeError(errors::kDeviceIo, QStringLiteral("none"));
        return *recorderSession;
    }
    bool recordButtonEnabled() const override { return recordEnabled; }
    void setProgressiveNumber(const QString& text) override { progressive = text; }
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

    RecorderSession* recorderSession = nullptr;
    bool recordEnabled = true;
    QString progressive = QStringLiteral("untouched");
    QList<double> folderLimits;
    bool telephoneEnabled = true;
    bool lineInSelected = false;
    int thresholdBar = -1;
    bool thresholdBarVisible = true;
    QString voxLabel = QStringLiteral("unset");
    int levelBar = -1;
};

// The player window as the other windows see it.
class FakePlayer : public PlayerLink {
public:
    bool saveButtonEnabled() const override { return unsaved; }
    bool playbackActive() const override { return playing; }
    void setPlaybackActive(bool active) override { playing = active; }
    void stopPlaybackBuffer() override { ++bufferStops; }
    void setPlaybackPosition(long long bytes) override { position = bytes; }
    int positionSliderValue() const override { return slider; }
    void setPositionSliderValue(int seconds) override { slider = seconds; }
    long long bytesPerSecond() const override { return 16000; }
    void setStatusText(const QString& text) override { status = text; }
    QString folderPath() const override { return folder; }
    void setFolderPath(const QString& path) override { folder = path; }
    void refreshFileList() override { ++refreshes; }
    QString folderSizeText() const override { return folderSize; }
    void setFolderSizeText(const QString& text) override { folderSize = text; }
    void rewindByDigitKey(int keyCode) override { rewinds << keyCode; }
    bool openFoundRecording(const QString& inFolder, const QString& nome,
                            const QStringList& stems) override {
        folder = inFolder;
        opened = nome;
        openedStems = stems;
        return true;
    }

    bool unsaved = false;
    bool playing = false;
    int bufferStops = 0;
    long long position = -1;
    int slider = 0;
    QString status;
    QString folder;
    int refreshes = 0;
    QString folderSize = QStringLiteral("0");
    QList<int> rewinds;
    QString opened;  // the recording the search opened
    QStringList openedStems;
};

class FakeMixer : public MixerLink {
public:
    void setTimeVoxSlider(int seconds) override { timeVox.append(seconds); }
    QList<int> timeVox;
};

// The window registry: hands out the fakes above unless a test puts a real window in their
// place, and keeps what was shown and unloaded.
class FakeForms : public Forms {
public:
    RecorderLink& recorder() override { return *recorderWindow; }
    PlayerLink& player() override { return *playerWindow; }
    MixerLink& mixer() override { return *mixerWindow; }
    void show(FormId form) override { shown.push_back(form); }
    bool unload(FormId form) override {
        unloaded.push_back(form);
        return form != FormId::Recorder || recorderCloses;
    }
    bool isLoaded(FormId) const override { return true; }
    void showPasswordWindow(const QString&) override {}
    bool wasUnloaded(FormId form) const {
        return std::find(unloaded.begin(), unloaded.end(), form) != unloaded.end();
    }

    FakeRecorder fakeRecorder;
    FakePlayer fakePlayer;
    FakeMixer fakeMixer;
    RecorderLink* recorderWindow = &fakeRecorder;
    PlayerLink* playerWindow = &fakePlayer;
    MixerLink* mixerWindow = &fakeMixer;
    bool recorderCloses = true;
    std::vector<FormId> shown, unloaded;
};

}  // namespace kallomir::test
