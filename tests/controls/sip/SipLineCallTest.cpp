// SIP lines against a real SIP user agent (Debian's baresip) on 127.0.0.1 in a private network
// namespace: a far end that hangs up on missing media, an encrypted PBX extension, a wideband
// one, and a caller the line does not take calls from.
#include "BaresipPeer.h"
#include "LineEventLog.h"
#include "PacketCapture.h"
#include "controls/WavSamples.h"
#include "controls/sip/G711.h"
#include "controls/sip/SipLine.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>

namespace kallomir {
namespace {

using test::BaresipPeer;
using test::LineEventLog;

// The events and audio of several line devices, one log each, with when each event came.
class PerDevice : public LineEvents, public LineAudioSink {
public:
    explicit PerDevice(int devices) : logs_(size_t(devices)) {}
    LineEventLog& operator[](int device) { return logs_[size_t(device)]; }
    qint64 whenMs(int device, const QString& event) {
        std::lock_guard lock(mutex_);
        return times_.value(QStringLiteral("%1 %2").arg(device).arg(event), -1);
    }

    void lineRing(int d, int rings) override {
        note(d, "ring");
        logs_[size_t(d)].lineRing(d, rings);
    }
    void lineConnected(int d) override {
        note(d, "connected");
        logs_[size_t(d)].lineConnected(d);
    }
    void lineDisconnected(int d) override {
        note(d, "disconnected");
        logs_[size_t(d)].lineDisconnected(d);
    }
    void lineIdle(int d) override {
        note(d, "idle");
        logs_[size_t(d)].lineIdle(d);
    }
    void lineNotify(int d, const QString& t) override { logs_[size_t(d)].lineNotify(d, t); }
    void lineAudio(int d, std::span<const std::int16_t> s, int rate) override {
        logs_[size_t(d)].lineAudio(d, s, rate);
    }

private:
    void note(int device, const char* event) {
        std::lock_guard lock(mutex_);
        times_.insert(QStringLiteral("%1 %2").arg(device).arg(QLatin1String(event)),
                      clock_.elapsed());
    }
    std::vector<LineEventLog> logs_;
    std::mutex mutex_;
    QHash<QString, qint64> times_;
    QElapsedTimer clock_ = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

class SipLineCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!BaresipPeer::available())
            GTEST_SKIP() << "baresip is not installed";
        const QString why = test::enterLoopbackOnlyNetwork();
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        speechPath = qEnvironmentVariable("KALLOMIR_TEST_DATA") + "/speech.wav";
        if (!QFile::exists(speechPath))
            GTEST_SKIP() << "no tests/data/speech.wav";
    }

    // The test speech at a rate, repeated to at least `seconds`, written for baresip to send.
    std::vector<int16_t> speechWav(int rate, double seconds, const QString& name) {
        const auto once = ReadMonoSamples(speechPath, rate).samples;
        std::vector<int16_t> out;
        while (double(out.size()) < seconds * rate) out.insert(out.end(), once.begin(), once.end());
        EXPECT_TRUE(test::writeWav(dir.filePath(name), out, rate));
        return out;
    }

    static SipLineConfig lineAt(int port, int rtpMin) {
        SipLineConfig cfg;
        cfg.name = QStringLiteral("Linea %1").arg(port);
        cfg.listenAddress = QStringLiteral("127.0.0.1");
        cfg.listenPort = port;
        cfg.user = QStringLiteral("rec");
        cfg.domain = QStringLiteral("127.0.0.1");
        cfg.ringPeriodMs = 1000;
        cfg.rtpPortMin = rtpMin;
        cfg.rtpPortMax = rtpMin + 100;
        return cfg;
    }

    BaresipPeer::Options caller(int sipPort, int rtpMin, const QString& wav, int quitAfterSec,
                                const QString& dial) const {
        BaresipPeer::Options o;
        o.sipPort = sipPort;
        o.rtpPortMin = rtpMin;
        o.user = QStringLiteral("caller");
        o.sendWav = dir.filePath(wav);
        o.quitAfterSec = quitAfterSec;
        o.dial = dial;
        return o;
    }

    // Answers the call ringing on a device and waits for it to end.
    static bool answerAndWait(SipLine& line, LineEventLog& log, int device, int timeoutMs) {
        if (!log.waitFor(QStringLiteral("ring 1"), 10000))
            return false;
        line.answer(device);
        return log.waitFor(QStringLiteral("idle"), timeoutMs);
    }

    QString speechPath;
    QTemporaryDir dir;
};

TEST_F(SipLineCallTest, FarEndsThatHangUpWithoutMediaKeepA20SecondCallToTheEnd) {
    // A far end that drops calls after 5 s without RTP from us (baresip checks two-way streams).
    const auto sent = speechWav(8000, 20, QStringLiteral("speech20.wav"));
    SipLineConfig plain = lineAt(5062, 20000);
    plain.codecs = {QStringLiteral("PCMU")};
    SipLineConfig silence = lineAt(5064, 20200);
    silence.codecs = {QStringLiteral("PCMU")};
    silence.sendSilence = true;
    SipLine line({plain, silence});
    PerDevice events(2);
    line.setEventReceiver(&events);
    line.setAudioSink(&events);
    line.open(0);
    line.open(1);

    BaresipPeer::Options a = caller(5080, 12000, "speech20.wav", 30, "sip:rec@127.0.0.1:5062");
    a.codecs = QStringLiteral("PCMU");
    a.rtpTimeoutSec = 5;
    BaresipPeer::Options b = caller(5090, 12100, "speech20.wav", 30, "sip:rec@127.0.0.1:5064");
    b.codecs = QStringLiteral("PCMU");
    b.rtpTimeoutSec = 5;
    BaresipPeer first(a), second(b);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    ASSERT_TRUE(events[0].waitFor(QStringLiteral("ring 1"), 10000));
    line.answer(0);
    ASSERT_TRUE(events[1].waitFor(QStringLiteral("ring 1"), 10000));
    line.answer(1);
    EXPECT_TRUE(events[0].waitFor(QStringLiteral("idle"), 30000));
    EXPECT_TRUE(events[1].waitFor(QStringLiteral("idle"), 30000));
    line.setEventReceiver(nullptr);
    line.setAudioSink(nullptr);
    first.stop();
    second.stop();

    for (int device : {0, 1}) {
        const qint64 lasted =
            events.whenMs(device, "disconnected") - events.whenMs(device, "connected");
        std::printf("line %d call lasted %.1f s\n", device, double(lasted) / 1000);
        EXPECT_GE(lasted, 19500) << "line " << device;
        const auto recorded = events[device].audio();
        EXPECT_GE(recorded.size(), size_t(19.5 * 8000)) << "line " << device;
        const double c = test::bestCorrelation(sent, recorded, 8000);
        std::printf("line %d correlation %.3f\n", device, c);
        EXPECT_GE(c, 0.95) << "line " << device;
    }
    for (BaresipPeer* peer : {&first, &second}) {
        EXPECT_FALSE(peer->log().contains("RTP packets received")) << peer->log().toStdString();
        EXPECT_FALSE(peer->log().contains("Connection timed out")) << peer->log().toStdString();
    }
    // RTCP went both ways on both lines.
    EXPECT_GT(line.diagnostics(0).media.rtcpSent, 3u);
    EXPECT_GT(line.diagnostics(0).media.rtcpReceived, 0u);
    EXPECT_GT(line.diagnostics(1).media.silenceSent, 900u);
}

TEST_F(SipLineCallTest, AnEncryptedCallIsRecordedWithNothingInClearOnTheWire) {
    if (!test::PacketCapture::available())
        GTEST_SKIP() << "tcpdump is not installed";
    const auto sent = speechWav(8000, 3, QStringLiteral("speech.wav"));
    SipLineConfig cfg = lineAt(5063, 20000);
    cfg.transport = SipTransport::Tls;
    cfg.mediaEncryption = MediaEncryption::SrtpRequired;
    SipLine line({cfg});
    LineEventLog log;
    line.setEventReceiver(&log);
    line.setAudioSink(&log);
    line.open(0);

    test::PacketCapture capture;
    ASSERT_TRUE(capture.start());
    BaresipPeer::Options o = caller(5080, 12000, "speech.wav", 20, "sip:rec@127.0.0.1:5063");
    o.codecs = QStringLiteral("PCMU");
    o.tls = true;
    o.mediaEncryption = QStringLiteral("srtp-mand");
    BaresipPeer peer(o);
    ASSERT_TRUE(peer.start());
    EXPECT_TRUE(answerAndWait(line, log, 0, 20000)) << peer.log().toStdString();
    line.setEventReceiver(nullptr);
    line.setAudioSink(nullptr);
    peer.stop();
    const auto packets = capture.stop();

    const double c = test::bestCorrelation(sent, log.audio(), 8000);
    std::printf("TLS+SRTP correlation %.3f\n", c);
    EXPECT_GE(c, 0.95);
    EXPECT_TRUE(peer.log().contains("SRTP")) << peer.log().toStdString();
    // Nothing of SIP in clear, and the audio packets look like ciphertext.
    QByteArray media;
    int audioPackets = 0, tlsBytes = 0;
    for (const auto& p : packets) {
        EXPECT_FALSE(p.bytes.contains("SIP/2.0")) << p.sourcePort << "->" << p.destinationPort;
        EXPECT_FALSE(p.bytes.contains("INVITE"));
        EXPECT_FALSE(p.bytes.contains("rec@127.0.0.1"));  // our RTCP name is encrypted too
        if (!p.udp)
            tlsBytes += int(p.bytes.size());
        if (p.udp && p.bytes.size() >= 172) {
            ++audioPackets;
            media += p.bytes.mid(12);  // past the RTP header
        }
    }
    const double entropy = test::entropyBitsPerByte(media);
    std::printf(
        "captured %zu payloads, %d audio packets, %d TLS bytes, audio entropy %.2f bits/byte\n",
        packets.size(), audioPackets, tlsBytes, entropy);
    EXPECT_GE(audioPackets, 100);
    EXPECT_GT(tlsBytes, 1000);
    EXPECT_GT(entropy, 7.8);  // plain G.711 speech stays well under 7
}

TEST_F(SipLineCallTest, AG722CallIsRecordedWidebandWithWhatTheSpeechHasAbove4kHz) {
    const auto sent = speechWav(16000, 3, QStringLiteral("speech16k.wav"));
    SipLine line({lineAt(5065, 20000)});
    LineEventLog log;
    line.setEventReceiver(&log);
    line.setAudioSink(&log);
    line.open(0);
    BaresipPeer::Options o = caller(5080, 12000, "speech16k.wav", 20, "sip:rec@127.0.0.1:5065");
    o.codecs = QStringLiteral("G722/16000/1");
    o.sampleRate = 16000;
    BaresipPeer peer(o);
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(log.waitFor(QStringLiteral("ring 1"), 10000)) << peer.log().toStdString();
    EXPECT_EQ(line.audioSampleRate(0), 16000);
    line.answer(0);
    EXPECT_TRUE(log.waitFor(QStringLiteral("idle"), 20000));
    line.setEventReceiver(nullptr);
    line.setAudioSink(nullptr);
    peer.stop();

    EXPECT_EQ(log.rate(), 16000);
    const auto recorded = log.audio();
    const double sentHigh = test::energyAbove(sent, 16000, 4000);
    const double recordedHigh = test::energyAbove(recorded, 16000, 4000);
    const double c = test::bestCorrelation(sent, recorded, 16000);
    std::printf("G.722: energy above 4 kHz sent %.3f recorded %.3f, correlation %.3f\n", sentHigh,
                recordedHigh, c);
    EXPECT_GT(sentHigh, 0.01);  // the speech has something up there to keep
    EXPECT_GT(recordedHigh, 0.5 * sentHigh);
    EXPECT_GE(c, 0.9);
}

TEST_F(SipLineCallTest, ACallerOutsideTheAllowListIsRefusedAndNothingIsRecorded) {
    speechWav(8000, 3, QStringLiteral("speech.wav"));
    SipLineConfig cfg = lineAt(5066, 20000);
    cfg.allowFrom = {QStringLiteral("127.0.0.2")};
    SipLine line({cfg});
    LineEventLog log;
    line.setEventReceiver(&log);
    line.setAudioSink(&log);
    line.open(0);
    BaresipPeer peer(caller(5080, 12000, "speech.wav", 10, "sip:rec@127.0.0.1:5066"));
    ASSERT_TRUE(peer.start());
    EXPECT_TRUE(peer.waitForLog(QStringLiteral("403"), 10000)) << peer.log().toStdString();
    line.setEventReceiver(nullptr);
    line.setAudioSink(nullptr);
    peer.stop();
    EXPECT_TRUE(log.events().isEmpty());
    EXPECT_TRUE(log.audio().empty());
    EXPECT_GE(line.diagnostics(0).forbiddenRequests, 1u);
}

}  // namespace
}  // namespace kallomir
