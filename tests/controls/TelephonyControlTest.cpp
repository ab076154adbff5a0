#include "SoundFixture.h"
#include "controls/SimulatedLine.h"
#include "controls/TelephonyControl.h"
#include "core/RuntimeError.h"
#include "support/TestAudioSystem.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace kallomir {
namespace {

using test::DeliverEvents;

// Records the control's events in the order they arrive.
struct EventLog : QObject {
    explicit EventLog(TelephonyControl& control) {
        connect(&control, &TelephonyControl::IncomingCall, this,
                [this](int rings) { events << QStringLiteral("ring %1").arg(rings); });
        connect(&control, &TelephonyControl::Connected, this, [this] { events << "connected"; });
        connect(&control, &TelephonyControl::Disconnected, this,
                [this] { events << "disconnected"; });
        connect(&control, &TelephonyControl::Idle, this, [this] { events << "idle"; });
        connect(&control, &TelephonyControl::Notify, this,
                [this](const QString& text) { events << "notify " + text; });
    }
    QStringList take() {
        DeliverEvents();
        return std::exchange(events, {});
    }
    QStringList events;
};

class TelephonyControlTest : public ::testing::Test {
protected:
    TelephonyControlTest() {
        cards.addInput({QStringLiteral("Card A"), {}, 0xFF});
        cards.addInput({QStringLiteral("Card B"), {}, 0xFF});
    }
    void openLine() {
        tapi.setLineName(SimulatedLine::DefaultDevice().name);
        tapi.setCallPrivilege(4);
        tapi.setLineOpen(true);
    }
    TestAudioSystem cards;
    SimulatedLine line{{SimulatedLine::DefaultDevice(),
                        {QStringLiteral("Fax modem"), 0x00010004, LineCapability::kG3Fax}}};
    TelephonyControl tapi{line, &cards};
    EventLog log{tapi};
};

TEST_F(TelephonyControlTest, ListsDevicesAndMember3MakesCurrent) {
    EXPECT_EQ(tapi.lineDeviceCount(), 2);
    EXPECT_EQ(tapi.lineDeviceName(1), "Fax modem");
    EXPECT_EQ(tapi.apiVersion(), 0x00010004);
    EXPECT_EQ(tapi.capabilities(), LineCapability::kG3Fax);
    EXPECT_EQ(tapi.lineDeviceName(0), "Kallomir Simulated Line");
    EXPECT_EQ(tapi.apiVersion() >> 16, 2);
    EXPECT_TRUE(tapi.capabilities() & LineCapability::kAutomatedVoice);
    EXPECT_EQ(tapi.lineName(), "Kallomir Simulated Line");
    try {
        tapi.lineDeviceName(2);
        FAIL() << "an index past the list must fail";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), kLineDeviceError);
    }
}

TEST_F(TelephonyControlTest, UnknownLineNameFailsAndOpeningNeedsAChosenLine) {
    EXPECT_THROW(tapi.setLineOpen(true), RuntimeError);
    try {
        tapi.setLineName("Not Set");
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), -2147213296);
    }
    EXPECT_FALSE(tapi.lineOpen());
    EXPECT_THROW(tapi.dial("123"), RuntimeError);  // line closed
    EXPECT_NO_THROW(tapi.drop());                  // stopping never fails
}

TEST_F(TelephonyControlTest, SettingsSequenceOpensAndReopensTheLine) {
    openLine();
    EXPECT_TRUE(tapi.lineOpen());
    EXPECT_TRUE(line.isOpen(0));
    EXPECT_EQ(tapi.callPrivilege(), 4);
    tapi.setLineOpen(false);
    EXPECT_FALSE(line.isOpen(0));
    tapi.setLineOpen(false);  // closing a closed line is harmless
    tapi.setLineOpen(true);
    EXPECT_TRUE(line.isOpen(0));
    // Choosing the other line while open moves the open line over.
    tapi.setLineName("Fax modem");
    tapi.setLineOpen(true);
    EXPECT_FALSE(line.isOpen(0));
    EXPECT_TRUE(line.isOpen(1));
}

TEST_F(TelephonyControlTest, IncomingCallRingsConnectsAndHangsUp) {
    SimulatedIncomingCall call;
    call.atMs = 2000;
    call.ringPeriodMs = 3000;
    call.callerId = "0612345678";
    call.hangUpAfterMs = 10000;
    line.addIncomingCall(call);
    openLine();

    line.advance(1980);
    EXPECT_TRUE(log.take().isEmpty());
    line.advance(20);
    EXPECT_EQ(log.take(), QStringList({"notify CALLERID 0612345678", "ring 1"}));
    EXPECT_EQ(tapi.waveInDevice(), -1);
    line.advance(2980);
    EXPECT_TRUE(log.take().isEmpty());
    line.advance(20);
    EXPECT_EQ(log.take(), QStringList({"ring 2"}));

    tapi.answer();
    EXPECT_TRUE(log.events.isEmpty()) << "events never arrive inside a member call";
    EXPECT_EQ(log.take(), QStringList({"connected"}));
    // Line audio comes after the two sound-card inputs.
    EXPECT_EQ(tapi.waveInDevice(), 2);
    EXPECT_EQ(tapi.waveOutDevice(), -1);
    tapi.setMember46(true);
    tapi.setMember51(4);
    tapi.setMember61(65535);
    EXPECT_EQ(tapi.readMember72(), 0);
    EXPECT_EQ(tapi.readMember35(), 0);

    line.advance(9980);
    EXPECT_TRUE(log.take().isEmpty());
    line.advance(20);
    EXPECT_EQ(log.take(), QStringList({"disconnected", "idle"}));
    EXPECT_EQ(tapi.waveInDevice(), -1);
}

TEST_F(TelephonyControlTest, UnansweredCallerGivesUpAndClosedLineHearsNothing) {
    SimulatedIncomingCall call;
    call.ringPeriodMs = 1000;
    call.giveUpAfterRings = 3;
    line.addIncomingCall(call);
    call.atMs = 6000;
    line.addIncomingCall(call);
    openLine();
    line.advance(3500);
    EXPECT_EQ(log.take(), QStringList({"ring 1", "ring 2", "ring 3", "idle"}));

    // The second call arrives while the line is closed: nothing reaches the control.
    tapi.setLineOpen(false);
    line.advance(5000);
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Offering);
    EXPECT_TRUE(log.take().isEmpty());
}

TEST_F(TelephonyControlTest, EventsQueuedBeforeClosingAreDropped) {
    SimulatedIncomingCall call;
    line.addIncomingCall(call);
    openLine();
    line.advance(20);
    tapi.setLineOpen(false);  // the ring is still in the queue
    EXPECT_TRUE(log.take().isEmpty());
}

TEST_F(TelephonyControlTest, DialledCallIsAnsweredCarriesAudioAndOurDropIsQuiet) {
    SimulatedDialAnswer far;
    far.answerAfterMs = 4000;
    line.setDialAnswer(far);
    openLine();
    tapi.dial("0298765432");
    EXPECT_EQ(line.lastDialled(), "0298765432");
    EXPECT_THROW(tapi.dial("1"), RuntimeError) << "one call at a time";
    line.advance(3980);
    EXPECT_TRUE(log.take().isEmpty());
    line.advance(20);
    EXPECT_EQ(log.take(), QStringList({"connected"}));

    struct Counter : LineAudioSink {
        void lineAudio(int, std::span<const std::int16_t> s, int rate) override {
            samples += s.size();
            lastRate = rate;
        }
        std::size_t samples = 0;
        int lastRate = 0;
    } sink;
    line.setAudioSink(&sink);
    line.advance(1000);
    line.setAudioSink(nullptr);
    EXPECT_EQ(sink.samples, 8000u);
    EXPECT_EQ(sink.lastRate, 8000);

    tapi.drop();
    EXPECT_TRUE(log.take().isEmpty());
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Idle);
    EXPECT_EQ(tapi.waveInDevice(), -1);
}

TEST_F(TelephonyControlTest, ScenarioTimeStartsAtFirstOpening) {
    SimulatedIncomingCall call;
    call.atMs = 1000;
    line.addIncomingCall(call);
    line.advance(5000);  // before login: nothing happens
    openLine();
    line.advance(980);
    EXPECT_TRUE(log.take().isEmpty());
    line.advance(20);
    EXPECT_EQ(log.take(), QStringList({"ring 1"}));
}

}  // namespace
}  // namespace kallomir
