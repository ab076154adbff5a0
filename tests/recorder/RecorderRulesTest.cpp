// The recording cycle's event matrix: each line or wave event in each state of the cycle,
// with the line's audio or a sound card as the input and voice activation on or off, and
// what it must do to the line (answer, nothing, drop), to the files and to the catalogue.
// Then the order in which the controls' members are used.
#include "SessionFixture.h"
#include "recorder/CaptureMarker.h"

#include <QFileInfo>
#include <functional>
#include <iostream>
#include <ostream>
#include <semaphore>
#include <string>

using namespace kallomir;
using namespace kallomir::test;

namespace {

enum class Input { Line, Card };
enum class Action { None, Answer, Drop };

const char* Name(Action a) {
    return a == Action::None ? "none" : a == Action::Answer ? "answer" : "drop";
}

class RulesTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        // A card that hears nothing, then the line's audio: input 0 is the card, 1 the line.
        audio.addInput({"card", {8000, std::vector<std::int16_t>(8000 * 60, 0)}});
    }

    void useInput(Input input) {
        settings().save("Sound Card Input", input == Input::Card ? "0" : "1");
    }

    // A caller who talks (the speech file) once answered and hangs up after `talkMs`.
    void incomingCall(qint64 talkMs = 60000, int giveUpAfterRings = 0) {
        SimulatedIncomingCall call;
        call.atMs = 100;  // from now
        call.ringPeriodMs = 1000;
        call.audioPath = SpeechFile();
        call.hangUpAfterMs = talkMs;
        call.giveUpAfterRings = giveUpAfterRings;
        line.addIncomingCall(call);
    }
    // Rings until the first ring has been handled.
    void untilRinging() {
        for (int i = 0; i < 30 && st().call != CallState::Ringing; ++i) runLine(100, false);
    }
    void untilConnected() {
        for (int i = 0; i < 60 && st().call != CallState::Connected; ++i) runLine(100, false);
    }

    // The card and the line both move on; the card moves the clock.
    void runCardAndLine(int ms) {
        for (int t = 0; t < ms; t += 100) {
            line.advance(100);
            audio.advance(100);
            deliver();
        }
        tick();
    }

    // Holds every save just after its copy until release() is called.
    void holdSaves() {
        session->saves().saver().onStep = [this](SaveStep s) {
            if (s == SaveStep::Copied)
                gate_.acquire();
        };
    }
    void releaseSaves() {
        for (int i = 0; i < 8; ++i) gate_.release();
        session->saves().saver().onStep = nullptr;
    }

    struct Outcome {
        Action action = Action::None;
        int files = 0;
        int rows = 0;
        bool recording = false;
    };
    // What the event did: an answer or a dropped call on the line, files and rows once every
    // save has finished.
    Outcome outcome(int answersBefore, int dropsBefore) {
        Outcome o;
        const int answers = int(trace.count("t10")) - answersBefore;
        const int drops = line.callsDropped - dropsBefore;
        o.action = drops > 0 ? Action::Drop : answers > 0 ? Action::Answer : Action::None;
        o.recording = st().recording;
        if (o.recording)
            session->BtFineReg_Click();  // the operator ends whatever runs, for the count
        waitSaves();
        o.files = int(recordings().size());
        o.rows = rows();
        return o;
    }

    std::counting_semaphore<8> gate_{0};
};

// The states the cycle can be in when an event comes.
enum class State { Waiting, Ringing, VoxArmed, RecordingCall, RecordingLineIn, Saving, Recall };
// The events.
enum class Event { RingBelow, RingAtAnswer, Silence, QuietLevels, Disconnected, GivesUp, Idle };

struct Row {
    State state;
    Input input;
    bool silenceDetect;
    Event event;
    Action action;
    int files;  // recordings saved once everything has stopped
    int rows;
    const char* why;
};

const char* Name(State s) {
    static const char* const names[] = {"Waiting",         "Ringing", "VoxArmed", "RecordingCall",
                                        "RecordingLineIn", "Saving",  "Recall"};
    return names[int(s)];
}
const char* Name(Event e) {
    static const char* const names[] = {"RingBelow",    "RingAtAnswer", "Silence", "QuietLevels",
                                        "Disconnected", "GivesUp",      "Idle"};
    return names[int(e)];
}
void PrintTo(const Row& r, std::ostream* out) {
    *out << Name(r.state) << " + " << Name(r.event) << ": " << r.why;
}

class EventMatrix : public RulesTest, public ::testing::WithParamInterface<Row> {};

// files/rows count what is saved by the end, the operator's stop of a running recording
// included. A state's own recording (RecordingCall, RecordingLineIn, Saving) is one file.
const Row kRows[] = {
    {State::Waiting, Input::Line, false, Event::RingBelow, Action::None, 0, 0, "not yet"},
    {State::Waiting, Input::Line, false, Event::RingAtAnswer, Action::Answer, 1, 1, "answered"},
    {State::Waiting, Input::Card, false, Event::RingAtAnswer, Action::Answer, 1, 1, "answered"},
    {State::Waiting, Input::Line, false, Event::Silence, Action::None, 0, 0, "nothing runs"},
    {State::Waiting, Input::Line, false, Event::Idle, Action::None, 0, 0, "idle"},
    {State::Ringing, Input::Card, false, Event::Silence, Action::None, 0, 0, "not recording"},
    {State::Ringing, Input::Card, true, Event::Silence, Action::None, 0, 0,
     "level-only waiting never hangs up on a caller"},
    {State::Ringing, Input::Card, true, Event::QuietLevels, Action::None, 0, 0,
     "level-only waiting never hangs up on a caller"},
    {State::Ringing, Input::Line, false, Event::GivesUp, Action::None, 0, 0, "nothing heard"},
    {State::VoxArmed, Input::Card, true, Event::RingAtAnswer, Action::Answer, 1, 1,
     "answered: the caller's voice on the line starts the file"},
    {State::VoxArmed, Input::Line, true, Event::RingAtAnswer, Action::Answer, 1, 1,
     "the caller's voice starts the file without hanging up"},
    {State::VoxArmed, Input::Card, true, Event::Silence, Action::None, 0, 0, "waiting"},
    {State::RecordingCall, Input::Line, false, Event::Disconnected, Action::None, 1, 1,
     "the far end hung up"},
    {State::RecordingCall, Input::Line, false, Event::Silence, Action::Drop, 1, 1,
     "the silence rule on a recording of the call"},
    {State::RecordingCall, Input::Line, false, Event::QuietLevels, Action::Drop, 1, 1,
     "the countdown on a recording of the call"},
    {State::RecordingCall, Input::Card, false, Event::Disconnected, Action::None, 1, 1,
     "the far end hung up"},
    {State::RecordingLineIn, Input::Card, false, Event::RingBelow, Action::None, 1, 1,
     "ringing while the card records"},
    {State::RecordingLineIn, Input::Card, false, Event::Silence, Action::None, 1, 1,
     "silence ends the card's recording, never the ringing caller"},
    {State::RecordingLineIn, Input::Card, false, Event::QuietLevels, Action::None, 1, 1,
     "the countdown ends the card's recording, never the ringing caller"},
    {State::Saving, Input::Line, false, Event::RingAtAnswer, Action::Answer, 2, 2,
     "a save under way never holds a call up"},
    {State::Saving, Input::Line, false, Event::Disconnected, Action::None, 1, 1, "saved"},
    {State::Recall, Input::Line, false, Event::RingAtAnswer, Action::None, 0, 0,
     "call-back: never answered"},
    {State::Recall, Input::Line, false, Event::GivesUp, Action::None, 0, 0,
     "call-back waits for its time"},
};

TEST_P(EventMatrix, EventInState) {
    const Row& r = GetParam();
    SCOPED_TRACE(r.why);
    useInput(r.input);
    settings().save("Rings Before Answer", "2");
    if (r.state == State::Recall)
        settings().save("Recall", "1");
    if (r.state == State::Ringing)
        settings().save("Auto Answer", "0");
    RecorderSession& s = load();
    holdSaves();
    if (r.silenceDetect) {
        s.silencecrt_Click(true);
        tick();
    }
    switch (r.state) {
        case State::Waiting:
        case State::VoxArmed:
            break;
        case State::Ringing:
        case State::Recall:
            incomingCall(60000, r.event == Event::GivesUp ? 3 : 0);
            untilRinging();
            break;
        case State::RecordingCall:
            incomingCall();
            untilRinging();
            runLine(1000, false);
            untilConnected();
            runLine(1500);
            ASSERT_TRUE(st().recording);
            break;
        case State::RecordingLineIn:
            s.selectSource(RecordSource::LineIn);
            s.BtiNIReg_Click();
            runCardAndLine(1500);
            if (r.event != Event::RingAtAnswer) {
                settings().save("Auto Answer", "0");
                incomingCall();
                untilRinging();
            }
            ASSERT_TRUE(st().recording);
            break;
        case State::Saving:
            incomingCall(2500);
            untilRinging();
            runLine(1000, false);
            untilConnected();
            runLine(3500);  // the caller hangs up; the save holds after its copy
            ASSERT_FALSE(st().recording);
            ASSERT_EQ(session->saves().pending(), 1);
            break;
    }
    const int answers = int(trace.count("t10"));
    const int drops = line.callsDropped;
    switch (r.event) {
        case Event::RingBelow:
            if (r.state != State::RecordingLineIn) {
                incomingCall();
                untilRinging();
            }
            break;
        case Event::RingAtAnswer:
            if (r.state != State::Ringing && r.state != State::Recall) {
                incomingCall(4000);
                untilRinging();
            }
            runLine(1100);  // the second ring, and the caller's first words
            untilConnected();
            runLine(2500);
            break;
        case Event::Silence:
            home.clock.advanceSeconds(2);
            s.amWavePro1_Silence(true);
            deliver();
            break;
        case Event::QuietLevels:
            // The input goes quiet: levels below the threshold until the countdown has run.
            s.amWavePro1().closeCapture();
            for (int i = 0; i < 12; ++i) {
                s.amWavePro1_Level(0, 0);
                home.clock.advanceSeconds(1);
                tick();
            }
            s.amWavePro1_Level(0, 0);
            deliver();
            break;
        case Event::Disconnected:
            if (r.state == State::Saving)
                break;  // the call has already ended; its save is what counts
            line.hangUpFarEnd();
            runLine(500);
            break;
        case Event::GivesUp:
            runLine(4000);
            break;
        case Event::Idle:
            s.amTapiPro1_Idle();
            break;
    }
    releaseSaves();
    const Outcome o = outcome(answers, drops);
    EXPECT_EQ(Name(o.action), std::string(Name(r.action)));
    EXPECT_EQ(o.files, r.files);
    EXPECT_EQ(o.rows, r.rows) << home.boxes.texts().join(" | ").toStdString();
    if (r.state == State::Saving && r.event == Event::RingAtAnswer) {
        EXPECT_EQ(allFiles().size(), 2);  // two whole recordings, no temporary left
    }
}

INSTANTIATE_TEST_SUITE_P(RecordingCycle, EventMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& param) {
                             const Row& r = param.param;
                             return std::string(Name(r.state)) + "_" + Name(r.event) + "_" +
                                    (r.input == Input::Line ? "Line" : "Card") +
                                    (r.silenceDetect ? "_Vox" : "");
                         });

// The member orders the controls are used in: a capture starts with format, file, the input,
// then the line's input; a stop is stop, close, drop; a connect sets 46, 51 twice and 61.
TEST_F(RulesTest, ControlsAreUsedInTheirDocumentedOrders) {
    useInput(Input::Card);
    incomingCall(60000);
    RecorderSession& s = load();
    untilRinging();
    runLine(1000, false);
    untilConnected();
    const QString capture = home.path("Record.wav");
    EXPECT_EQ(takeTrace().mid(0, 12),
              (QStringList{"t10", "t72?", "t35?", "t46=true", "t51=4", "t51=4", "t61=65535",
                           "w11=2", "w3=" + capture, "w8(0)", "t16?", "w8(1)"}))
        << "answer, connect settings, then the capture";
    runLine(1500);
    takeTrace();
    s.BtFineReg_Click();
    EXPECT_EQ(takeTrace(), (QStringList{"w9", "w10", "t7"}));

    s.selectSource(RecordSource::LineIn);
    s.BtiNIReg_Click();
    runLine(1500);
    takeTrace();
    home.boxes.answerNext(MsgAnswer::Yes);
    ASSERT_TRUE(s.Form_Unload());
    const QStringList unload = takeTrace();
    // The recording is stopped and saved first; then the unload's own order.
    ASSERT_GE(unload.size(), 4);
    EXPECT_EQ(unload.mid(0, 3), (QStringList{"w9", "w10", "t7"}));
    EXPECT_EQ(unload.mid(unload.size() - 4), (QStringList{"w9", "t7", "w10", "t22=false"}));
}

// A call-back fires on the very tick its time is reached, not one later.
TEST_F(RulesTest, CallBackFiresOnTheTickItsTimeIsReached) {
    settings().save("Recall", "1");
    settings().save("timerecall", "3");
    settings().save("Telephone Number", "0612345");
    line.setDialAnswer({-1, {}, -1});
    RecorderSession& s = load();
    s.amTapiPro1_IncomingCall(1);
    s.amTapiPro1_Idle();
    tick();
    tick();
    EXPECT_TRUE(line.lastDialled().isEmpty());
    tick();
    EXPECT_EQ(line.lastDialled(), "0612345");
}

}  // namespace
