#pragma once

#include "catalogue/CatalogueStore.h"
#include "controls/MediaCommands.h"
#include "controls/SimulatedLine.h"
#include "controls/TelephonyControl.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "core/MessageBoxQueue.h"
#include "recorder/RecorderSession.h"
#include "recorder/SaveQueue.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"
#include "support/TestAudioSystem.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <memory>

namespace kallomir::test {

// The simulated line, whose drops are counted only when they end a call.
class CountingLine : public SimulatedLine {
public:
    int callsDropped = 0;
    void drop(int device) override {
        if (callState() != CallState::Idle)
            ++callsDropped;
        SimulatedLine::drop(device);
    }
};

inline QString SpeechFile() {
    return qEnvironmentVariable("KALLOMIR_TEST_DATA") + QStringLiteral("/speech.wav");
}

// A program folder with the simulated line, test sound cards, a manual clock and a loaded
// recording cycle whose timers are driven by the test. Both controls' member uses are
// traced: "t..." for the telephony control, "w..." for the wave control.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.initConfiguration();
        auto& ctx = *home.context;
        ctx.line = &line;
        ctx.audio = &audio;
        ctx.media = &media;
        ctx.forms = &forms;
        settings().save("Record Format", "2");  // 8000 Hz 16 bit
        settings().save("Sound Card Input", "0");
        settings().save("Line Device", SimulatedLine::DefaultDevice().name);
    }
    void TearDown() override {
        if (session) {
            session->amWavePro1().closeCapture();
            session->saves().waitIdle();
            session.reset();
        }
    }

    UserSettings& settings() { return home.context->settings; }
    const RecorderState& st() const { return session->state(); }

    // Creates and loads the cycle; its timers are stopped so ticks come only from tick().
    RecorderSession& load(int voxThreshold = 10, int voxHoldMs = 2000) {
        session = std::make_unique<RecorderSession>(*home.context);
        forms.fakeRecorder.recorderSession = session.get();
        session->amTapiPro1().setMemberTrace([this](const QString& e) { trace << "t" + e; });
        session->amWavePro1().setMemberTrace([this](const QString& e) { trace << "w" + e; });
        session->amWavePro1().setVoxThreshold(qint16(voxThreshold));
        session->amWavePro1().setVoxHoldMs(qint16(voxHoldMs));
        session->Form_Load();
        session->counterTimer().stop();
        session->timer1().stop();
        deliver();
        trace.clear();
        return *session;
    }

    // Lets queued events, finished saves and queued reports through.
    void deliver() {
        session->amWavePro1().waitIdle();
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
    void waitSaves() {
        session->saves().waitIdle();
        deliver();
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
        session->Counter_Timer();
        session->Timer1_Timer();
        deliver();
    }

    QStringList recordings(const QString& folder = QString()) const {
        const QString dir = folder.isEmpty() ? home.config.recordingsFolder() : folder;
        return QDir(dir).entryList(QStringList{"*.Ems"}, QDir::Files, QDir::Name);
    }
    // Every file in the recordings folder, hidden ones included.
    QStringList allFiles(const QString& folder = QString()) const {
        const QString dir = folder.isEmpty() ? home.config.recordingsFolder() : folder;
        return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    CatalogueStore& catalogue() const { return *home.catalogue; }
    int rows() const { return catalogue().rowCount(); }
    // The member uses since the last call, then forgotten.
    QStringList takeTrace() {
        QStringList t = trace;
        trace.clear();
        return t;
    }

    TempHome home;
    CountingLine line;
    TestAudioSystem audio{&home.clock};
    MediaCommands media;
    FakeForms forms;
    std::unique_ptr<RecorderSession> session;
    QStringList trace;

private:
    int lineSteps_ = 0;
    int cardSteps_ = 0;
};

}  // namespace kallomir::test
