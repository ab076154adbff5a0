// The SIP line against a real SIP user agent (Debian's baresip) on 127.0.0.1, at the level of
// the telephony control, the line backend and the wave control's capture of the line.
#include "BaresipPeer.h"
#include "app/RuntimeError.h"
#include "controls/RecordFormat.h"
#include "controls/TelephonyControl.h"
#include "controls/TestAudioSystem.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "controls/sip/SipLine.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <cmath>
#include <iostream>

namespace kallomir {
namespace {

using test::BaresipPeer;

constexpr int kLinePort = 5062;

bool writeWav8k(const QString& path, const std::vector<int16_t>& samples) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!f) return false;
    const sf_count_t n = sf_write_short(f, samples.data(), sf_count_t(samples.size()));
    sf_close(f);
    return n == sf_count_t(samples.size());
}

// The best normalised correlation of `sent` against `recorded` over shifts of the recording
// up to maxLag samples either way, over the part of `sent` that overlaps.
double bestCorrelation(const std::vector<int16_t>& sent, const std::vector<int16_t>& recorded,
                       int maxLag) {
    double best = 0;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double sx = 0, sy = 0, sxy = 0;
        for (size_t i = 0; i < sent.size(); ++i) {
            const long j = long(i) + lag;
            if (j < 0 || j >= long(recorded.size())) continue;
            const double x = sent[i];
            const double y = recorded[size_t(j)];
            sx += x * x;
            sy += y * y;
            sxy += x * y;
        }
        if (sx > 0 && sy > 0) best = std::max(best, sxy / std::sqrt(sx * sy));
    }
    return best;
}

class SipBaresipTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!BaresipPeer::available()) GTEST_SKIP() << "baresip is not installed";
        const QString why = test::enterLoopbackOnlyNetwork();
        if (!why.isEmpty()) GTEST_SKIP() << why.toStdString();
        const QString data = qEnvironmentVariable("KALLOMIR_TEST_DATA");
        const QString speechPath = data + QStringLiteral("/speech.wav");
        if (data.isEmpty() || !QFile::exists(speechPath)) GTEST_SKIP() << "no tests/data/speech.wav";

        speech = ReadMonoSamples(speechPath, 8000).samples;
        speechWav = dir.filePath(QStringLiteral("speech8k.wav"));
        ASSERT_TRUE(writeWav8k(speechWav, speech));
        recording = dir.filePath(QStringLiteral("Record.wav"));

        SipLineConfig cfg;
        cfg.name = QStringLiteral("Linea SIP");
        cfg.listenAddress = QStringLiteral("127.0.0.1");
        cfg.listenPort = kLinePort;
        cfg.user = QStringLiteral("rec");
        cfg.domain = QStringLiteral("127.0.0.1");
        cfg.ringPeriodMs = 1000;
        cfg.rtpPortMin = 10000;
        cfg.rtpPortMax = 10100;
        line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
        tel = std::make_unique<TelephonyControl>(*line, &audio);
        wave = std::make_unique<WaveControl>(audio, line.get());

        // What the recorder window does with the line, reduced to the events.
        QObject::connect(tel.get(), &TelephonyControl::IncomingCall, [this](int rings) {
            events << QStringLiteral("ring %1").arg(rings);
            if (rings >= answerAtRings) tel->answer();
        });
        QObject::connect(tel.get(), &TelephonyControl::Connected, [this] {
            events << QStringLiteral("connected");
            wave->setRecordFormat(2);  // 8 kHz 16 bit
            wave->setFileName(recording);
            wave->startCapture(tel->waveInDevice());
        });
        QObject::connect(tel.get(), &TelephonyControl::Disconnected, [this] {
            events << QStringLiteral("disconnected");
            stopCapture();
        });
        QObject::connect(tel.get(), &TelephonyControl::Idle, [this] { events << QStringLiteral("idle"); });
        QObject::connect(tel.get(), &TelephonyControl::Notify,
                         [this](const QString& text) { events << QStringLiteral("notify ") + text; });

        tel->lineDeviceName(0);
        tel->setCallPrivilege(4);
        tel->setLineOpen(true);
    }

    void TearDown() override {
        wave.reset();
        tel.reset();
        line.reset();
    }

    void stopCapture() {
        if (!wave->isCapturing()) return;
        wave->stopCapture();
        wave->closeCapture();
    }

    bool waitForEvent(const QString& event, int timeoutMs) {
        return QTest::qWaitFor([&] { return events.contains(event); }, timeoutMs);
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

    double recordedCorrelation() {
        const auto recorded = ReadMonoSamples(recording).samples;
        EXPECT_GT(recorded.size(), speech.size() / 2);
        const double corr = bestCorrelation(speech, recorded, 4000);
        std::cout << "recording correlates " << corr << " with what was sent\n";
        return corr;
    }

    QTemporaryDir dir;
    std::vector<int16_t> speech;
    QString speechWav;
    QString recording;
    TestAudioSystem audio;
    std::unique_ptr<SipLine> line;
    std::unique_ptr<TelephonyControl> tel;
    std::unique_ptr<WaveControl> wave;
    int answerAtRings = 2;
    QStringList events;
};

// (a) The caller is answered at the second ring and everything it says is recorded.
TEST_F(SipBaresipTest, AnswersAtTheSecondRingAndRecordsTheCaller) {
    BaresipPeer peer(caller(30));
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(waitForEvent(QStringLiteral("disconnected"), 30000)) << peer.log().toStdString();
    ASSERT_TRUE(waitForEvent(QStringLiteral("idle"), 5000));
    const QStringList expected{"ring 1", "ring 2", "connected", "disconnected", "idle"};
    QStringList seen = events;
    seen.removeIf([](const QString& e) { return e.startsWith(u"notify"); });
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(events.contains("notify CALLERID caller")) << events.join(u',').toStdString();
    EXPECT_GE(recordedCorrelation(), 0.95);
}

// (b) The caller gives up while it rings: no connection, no recording, the line idle again.
TEST_F(SipBaresipTest, CallerGivingUpWhileRingingLeavesNoRecording) {
    answerAtRings = 1000;
    BaresipPeer peer(caller(3));
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(waitForEvent(QStringLiteral("idle"), 15000)) << peer.log().toStdString();
    EXPECT_TRUE(events.contains("ring 1"));
    EXPECT_FALSE(events.contains("connected"));
    EXPECT_FALSE(events.contains("disconnected"));
    EXPECT_FALSE(QFile::exists(recording));
    EXPECT_FALSE(line->isConnected(0));
}

// (c) The operator's stop hangs up: the caller is told at once.
TEST_F(SipBaresipTest, OurStopHangsUpAndTheCallerSeesTheBye) {
    answerAtRings = 1;
    BaresipPeer peer(caller(30));
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(waitForEvent(QStringLiteral("connected"), 15000)) << peer.log().toStdString();
    ASSERT_TRUE(peer.waitForLog(QStringLiteral("Call established"), 5000));
    // Let some audio be recorded, as an operator would.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(recording).size() > 8000; }, 5000));
    QElapsedTimer sinceStop;
    sinceStop.start();
    stopCapture();
    tel->drop();
    // baresip's words for a BYE received.
    ASSERT_TRUE(peer.waitForLog(QStringLiteral("Connection reset by peer"), 5000))
        << peer.log().toStdString();
    std::cout << "caller saw the hang-up after " << sinceStop.elapsed() << " ms\n";
    EXPECT_FALSE(line->isConnected(0));
    EXPECT_FALSE(events.contains("disconnected"));  // our own hang-up is not reported back
    EXPECT_GE(ReadMonoSamples(recording).samples.size(), 3000u);
}

// (d) Call-back: a call is let ring and given up, then the line calls back a number that
// answers by itself, and that call is recorded.
TEST_F(SipBaresipTest, CallsBackAfterAnUnansweredCallAndRecordsTheCallBack) {
    answerAtRings = 1000;  // "Recall" on: rings are not answered
    BaresipPeer first(caller(3));
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(waitForEvent(QStringLiteral("idle"), 15000)) << first.log().toStdString();
    ASSERT_TRUE(first.waitForExit(10000));
    events.clear();

    BaresipPeer::Options o;
    o.sipPort = 5070;
    o.rtpPortMin = 12100;
    o.user = QStringLiteral("peer");
    o.autoAnswer = true;
    o.sendWav = speechWav;
    BaresipPeer callee(o);
    ASSERT_TRUE(callee.start());
    ASSERT_TRUE(callee.waitForLog(QStringLiteral("baresip is ready"), 10000));

    // What the recorder does when the call-back fires: close and reopen, then dial.
    tel->setLineOpen(false);
    tel->setLineOpen(true);
    tel->dial(QStringLiteral("sip:peer@127.0.0.1:5070"));
    ASSERT_TRUE(waitForEvent(QStringLiteral("disconnected"), 30000)) << callee.log().toStdString();
    EXPECT_TRUE(events.startsWith("connected")) << events.join(u',').toStdString();
    EXPECT_GE(recordedCorrelation(), 0.95);
}

}  // namespace
}  // namespace kallomir
