#pragma once

#include "controls/LineBackend.h"
#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/FormLinks.h"
#include "recorder/RecorderSession.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"
#include "support/TestAudioSystem.h"
#include "support/TestMixerBackend.h"

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
    std::unique_ptr<RecorderSession> session;  // the recording cycle and its two controls
    TelephonyControl* tapi = nullptr;
    WaveControl* wave = nullptr;
    FakeForms forms;
    FakeRecorder* recorder = &forms.fakeRecorder;
    FakePlayer& player = forms.fakePlayer;
    FakeMixer& mixer = forms.fakeMixer;
};

}  // namespace kallomir::test
