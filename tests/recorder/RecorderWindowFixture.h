#pragma once

#include "catalogue/Catalogue.h"
#include "controls/MediaCommands.h"
#include "controls/SimulatedLine.h"
#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/FormLinks.h"
#include "recorder/ui/FrmRecorder.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"
#include "support/TestAudioSystem.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <memory>

namespace kallomir::test {

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
