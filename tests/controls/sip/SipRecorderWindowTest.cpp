// The recorder window on a SIP line with a real SIP user agent (Debian's baresip) as the far
// end, on 127.0.0.1 in a private network namespace: the operator's four call flows.
#include "BaresipPeer.h"
#include "catalogue/CatalogueStore.h"
#include "controls/MediaCommands.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "controls/sip/SipLine.h"
#include "recorder/RecorderSession.h"
#include "recorder/SaveQueue.h"
#include "recorder/ui/FrmRecorder.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"
#include "support/TestAudioSystem.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTest>

#include <iostream>

namespace kallomir {
namespace {

using test::BaresipPeer;
using test::bestCorrelation;
using test::writeWav8k;

constexpr int kLinePort = 5062;

class SipRecorderWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!BaresipPeer::available())
            GTEST_SKIP() << "baresip is not installed";
        const QString why = test::enterLoopbackOnlyNetwork();
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        const QString speechPath = qEnvironmentVariable("KALLOMIR_TEST_DATA") + "/speech.wav";
        if (!QFile::exists(speechPath))
            GTEST_SKIP() << "no tests/data/speech.wav";
        speech = ReadMonoSamples(speechPath, 8000).samples;
        speechWav = home.path(QStringLiteral("speech8k.wav"));
        ASSERT_TRUE(writeWav8k(speechWav, speech));

        home.initConfiguration();
        SipLineConfig cfg;
        cfg.name = QStringLiteral("Linea SIP");
        cfg.listenAddress = QStringLiteral("127.0.0.1");
        cfg.listenPort = kLinePort;
        cfg.user = QStringLiteral("rec");
        cfg.domain = QStringLiteral("127.0.0.1");
        cfg.ringPeriodMs = 1000;
        line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
        auto& ctx = *home.context;
        ctx.line = line.get();
        ctx.audio = &audio;
        ctx.media = &media;
        ctx.forms = &forms;
        settings().save("Record Format", "2");     // 8000 Hz 16 bit
        settings().save("Sound Card Input", "0");  // no sound card: input 0 is the line
        settings().save("Line Device", "Linea SIP");
        settings().save("Rings Before Answer", "2");
    }

    void TearDown() override {
        if (window) {
            window->session().amWavePro1().closeCapture();
            window->session().saves().waitIdle();
            delete window;
        }
        line.reset();
    }

    UserSettings& settings() { return home.context->settings; }

    FrmRecorder& load() {
        window = new FrmRecorder(*home.context);
        forms.recorderWindow = window;
        window->Form_Load();
        // The once-a-second work runs when a test says so.
        window->session().counterTimer().stop();
        window->session().timer1().stop();
        return *window;
    }

    bool waitFor(const std::function<bool()>& done, int timeoutMs) {
        return QTest::qWaitFor(done, timeoutMs);
    }

    // Waits for the recording to start, then moves the program's clock past its start second
    // (the window keeps no recording that starts and ends in the same second).
    bool waitForRecording(FrmRecorder& w, int timeoutMs) {
        if (!waitFor([&] { return w.session().state().recording; }, timeoutMs))
            return false;
        home.clock.advanceMs(5000);
        return true;
    }

    // The recordings whose saves have finished.
    QStringList recordings() const {
        QCoreApplication::processEvents();
        return QDir(home.config.recordingsFolder())
            .entryList(QStringList{"*.Ems"}, QDir::Files, QDir::Name);
    }

    BaresipPeer::Options caller(int quitAfterSec) const {
        BaresipPeer::Options o;
        o.sipPort = 5080;
        o.rtpPortMin = 12000;
        o.user = QStringLiteral("caller");
        o.sendWav = speechWav;
        o.quitAfterSec = quitAfterSec;
        o.dial = QStringLiteral("sip:rec@127.0.0.1:%1").arg(kLinePort);
        return o;
    }

    // The one saved recording correlates with the speech the far end sent, and is catalogued.
    void expectRecordingOfTheSpeech() {
        window->session().saves().waitIdle();
        ASSERT_EQ(recordings().size(), 1);
        const QString name = recordings().front();
        const QString file = home.config.recordingsFolder() + "/" + name;
        QFile ems(file);
        ASSERT_TRUE(ems.open(QIODevice::ReadOnly));
        QFile wav(home.path("Record.wav"));
        ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
        EXPECT_EQ(ems.readAll().chopped(48), wav.readAll());  // capture + trailer
        const auto recorded = ReadMonoSamples(home.path("Record.wav")).samples;
        const double corr = bestCorrelation(speech, recorded, 4000);
        std::cout << "recording correlates " << corr << " with what was sent\n";
        EXPECT_GE(corr, 0.95);
        EXPECT_TRUE(home.catalogue->find(name).has_value());
    }

    test::TempHome home;
    TestAudioSystem audio{&home.clock};
    MediaCommands media;
    test::FakeForms forms;
    std::unique_ptr<SipLine> line;
    FrmRecorder* window = nullptr;
    std::vector<int16_t> speech;
    QString speechWav;
};

// (a) A call is answered at the second ring, recorded, saved and catalogued when the caller
// hangs up.
TEST_F(SipRecorderWindowTest, CallIsAnsweredRecordedAndCatalogued) {
    FrmRecorder& w = load();
    BaresipPeer peer(caller(30));
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(waitForRecording(w, 15000)) << peer.log().toStdString();
    EXPECT_EQ(w.LabelStatus->text(), "Connesso");
    ASSERT_TRUE(
        waitFor([&] { return !w.session().state().recording && !recordings().isEmpty(); }, 30000))
        << peer.log().toStdString();
    EXPECT_EQ(w.LabelStatus->text(), "In Attesa");
    expectRecordingOfTheSpeech();
}

// (b) The caller gives up while it rings: nothing recorded, the line waits again.
TEST_F(SipRecorderWindowTest, CallerGivingUpWhileRingingLeavesNothing) {
    settings().save("Rings Before Answer", "10");
    FrmRecorder& w = load();
    BaresipPeer peer(caller(3));
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(waitFor([&] { return w.LabelStatus->text() == "Chiamata in Arrivo"; }, 15000));
    ASSERT_TRUE(waitFor([&] { return w.LabelStatus->text() == "In Attesa"; }, 15000))
        << peer.log().toStdString();
    EXPECT_FALSE(w.session().state().recording);
    EXPECT_TRUE(recordings().isEmpty());
}

// (c) The operator's stop ends the call: the caller gets the BYE at once.
TEST_F(SipRecorderWindowTest, OperatorsStopHangsUpTheCall) {
    FrmRecorder& w = load();
    BaresipPeer peer(caller(30));
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(waitForRecording(w, 15000)) << peer.log().toStdString();
    ASSERT_TRUE(peer.waitForLog(QStringLiteral("Call established"), 5000));
    QElapsedTimer sinceStop;
    sinceStop.start();
    w.session().BtFineReg_Click();
    w.session().saves().waitIdle();
    ASSERT_TRUE(peer.waitForLog(QStringLiteral("Connection reset by peer"), 5000))
        << peer.log().toStdString();
    std::cout << "caller saw the hang-up after " << sinceStop.elapsed() << " ms\n";
    EXPECT_FALSE(w.session().state().recording);
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_FALSE(line->isConnected(0));
}

// (d) Call-back: with "Recall" on the call is not answered; once the caller has given up and
// the recall time has passed, the recorder dials the number, which answers by itself, and
// that call is recorded.
TEST_F(SipRecorderWindowTest, RecallDialsBackAndRecordsTheCallBack) {
    settings().save("Recall", "1");
    settings().save("timerecall", "2");
    settings().save("Telephone Number", "sip:peer@127.0.0.1:5070");
    FrmRecorder& w = load();

    BaresipPeer::Options o;
    o.sipPort = 5070;
    o.rtpPortMin = 12100;
    o.user = QStringLiteral("peer");
    o.autoAnswer = true;
    o.sendWav = speechWav;
    BaresipPeer callee(o);
    ASSERT_TRUE(callee.start());
    ASSERT_TRUE(callee.waitForLog(QStringLiteral("baresip is ready"), 10000));

    BaresipPeer first(caller(3));
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(waitFor([&] { return w.session().state().recallArmed; }, 15000))
        << first.log().toStdString();
    ASSERT_TRUE(waitFor([&] { return w.LabelStatus->text() == "In Attesa"; }, 15000));
    EXPECT_TRUE(recordings().isEmpty());

    // The window's seconds, driven here: the call-back fires on the tick that finds the
    // recall time passed and the line idle.
    for (int tick = 0; tick < 5 && w.session().state().recallArmed; ++tick) {
        w.session().Counter_Timer();
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(w.session().state().recallArmed);
    ASSERT_TRUE(waitForRecording(w, 15000)) << callee.log().toStdString();
    ASSERT_TRUE(
        waitFor([&] { return !w.session().state().recording && !recordings().isEmpty(); }, 30000))
        << callee.log().toStdString();
    expectRecordingOfTheSpeech();
}

}  // namespace
}  // namespace kallomir
