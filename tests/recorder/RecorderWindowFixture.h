#pragma once

#include "app/FormLinks.h"
#include "controls/MediaCommands.h"
#include "controls/SimulatedLine.h"
#include "controls/TelephonyControl.h"
#include "controls/TestAudioSystem.h"
#include "controls/WaveControl.h"
#include "recorder/Catalogue.h"
#include "recorder/ui/FrmRecorder.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <memory>

namespace kallomir::test {

// The player as the recorder sees it.
class FakePlayer : public PlayerLink {
public:
    bool saveButtonEnabled() const override { return false; }
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

    bool playing = false;
    int bufferStops = 0;
    long long position = -1;
    int slider = 0;
    QString status;
    QString folder;
    int refreshes = 0;
    QString folderSize = "0";
    QList<int> rewinds;
};

class FakeMixer : public MixerLink {
public:
    void setTimeVoxSlider(int) override {}
};

class FakeForms : public Forms {
public:
    RecorderLink& recorder() override { return *recorderWindow; }
    PlayerLink& player() override { return playerWindow; }
    MixerLink& mixer() override { return mixerWindow; }
    void show(FormId) override {}
    bool unload(FormId form) override {
        unloaded << int(form);
        return true;
    }
    bool isLoaded(FormId) const override { return true; }
    void showPasswordWindow(const QString&) override {}

    RecorderLink* recorderWindow = nullptr;
    FakePlayer playerWindow;
    FakeMixer mixerWindow;
    QList<int> unloaded;
};

// A program folder with the simulated line, test sound cards and a loaded recorder window
// whose timers are driven by the test.
class RecorderWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.initConfiguration();
        auto& ctx = *home.context;
        ctx.line = &line;
        ctx.audio = &audio;
        ctx.media = &media;
        ctx.forms = &forms;
        settings().save("Record Format", "2");     // 8000 Hz 16 bit
        settings().save("Sound Card Input", "0");  // the line's audio (no sound card)
        settings().save("Line Device", SimulatedLine::DefaultDevice().name);
    }
    void TearDown() override {
        if (window) {
            window->amWavePro1().closeCapture();
            delete window;
        }
    }

    UserSettings& settings() { return home.context->settings; }

    // Creates and loads the window; its timers are stopped so ticks come only from tick().
    FrmRecorder& load(int voxThreshold = 10, int voxHoldMs = 2000) {
        window = new FrmRecorder(*home.context);
        forms.recorderWindow = window;
        window->amWavePro1().setVoxThreshold(qint16(voxThreshold));
        window->amWavePro1().setVoxHoldMs(qint16(voxHoldMs));
        window->Form_Load();
        window->counterTimer().stop();
        window->timer1().stop();
        return *window;
    }

    void deliver() {
        window->amWavePro1().waitIdle();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    // Moves the line and the clock on in 100 ms steps; one second-tick per whole second.
    void runLine(int ms, bool ticks = true) {
        for (int t = 0; t < ms; t += 100) {
            line.advance(100);
            home.clock.advanceMs(100);
            deliver();
            if (ticks && ++lineSteps_ % 10 == 0)
                tick();
        }
    }
    // The sound cards move the clock themselves.
    void runCard(int ms) {
        for (int t = 0; t < ms; t += 100) {
            audio.advance(100);
            deliver();
            if (++cardSteps_ % 10 == 0)
                tick();
        }
    }
    void tick() {
        window->Counter_Timer();
        window->Timer1_Timer();
        deliver();
    }

    QStringList recordings(const QString& folder = QString()) const {
        const QString dir = folder.isEmpty() ? home.config.recordingsFolder() : folder;
        return QDir(dir).entryList(QStringList{"*.Ems"}, QDir::Files, QDir::Name);
    }
    Catalogue catalogue() const { return Catalogue::InFolder(home.home()); }

    TempHome home;
    SimulatedLine line;
    TestAudioSystem audio{&home.clock};
    MediaCommands media;
    FakeForms forms;
    FrmRecorder* window = nullptr;

private:
    int lineSteps_ = 0;
    int cardSteps_ = 0;
};

}  // namespace kallomir::test
