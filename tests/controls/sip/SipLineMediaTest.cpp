// A SIP line's calls from the audio side: connected from our 200 OK, RTCP, silence for far
// ends that want audio, SRTP, wideband codecs, new offers and spoofed packets.
#include "AudioChecks.h"
#include "SipLineFixture.h"
#include "controls/sip/Rtcp.h"
#include "controls/sip/Srtp.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

extern "C" {
#include <spandsp/telephony.h>

#include <spandsp/g722.h>
}

namespace kallomir {
namespace {

using test::RawSipPeer;
using test::SipText;
using SipLineTest = test::SipLineFixture;

std::span<const uint8_t> bytes(const QByteArray& d) {
    return {reinterpret_cast<const uint8_t*>(d.constData()), size_t(d.size())};
}

QByteArray pcmuOf(const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> coded;
    encodeG711(G711Law::MuLaw, pcm, coded);
    return QByteArray(reinterpret_cast<const char*>(coded.data()), int(coded.size()));
}

// Sends 20 ms packets of PCMU in real time.
void streamInRealTime(RawSipPeer& peer, int rtpPort, const QByteArray& coded,
                      const std::function<void(int packet)>& between = {}) {
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n * 160 + 160 <= coded.size(); ++n) {
        peer.sendRtp(rtpPort, 0, uint16_t(n), uint32_t(n * 160), coded.mid(n * 160, 160));
        if (between)
            between(n);
        const qint64 due = (n + 1) * 20;
        if (clock.elapsed() < due)
            QThread::msleep(ulong(due - clock.elapsed()));
    }
}

TEST_F(SipLineTest, ACallIsConnectedByOur200OkAndEndsCleanlyWhenItsAckNeverComes) {
    RawSipPeer peer;
    ringIn(peer, "0");
    line->answer(0);
    const auto ok = peer.waitFor(200);
    ASSERT_TRUE(ok);
    // No ACK (lost in a translator): the far end talks anyway, and it is recorded.
    ASSERT_TRUE(log.waitFor(QStringLiteral("connected"), 1000));
    sendLoud(peer, rtpPortOf(*ok), 0, 25);
    ASSERT_TRUE(log.waitForAudio(8000));
    EXPECT_EQ(loudSamples(), 25 * 160);
    // RFC 3261: our 200 OK is retransmitted for 64*T1 = 32 s, then the call ends with BYE.
    EXPECT_TRUE(log.waitFor(QStringLiteral("idle"), 40000));
    const QStringList events = log.events();
    EXPECT_EQ(events.indexOf("disconnected") + 1, events.indexOf("idle"));
    EXPECT_TRUE(peer.waitForRequest("BYE", 2000));
    EXPECT_EQ(loudSamples(), 25 * 160);  // what was heard is kept
    EXPECT_TRUE(line->diagnostics(0).problems.join(u'\n').isEmpty());
}

TEST_F(SipLineTest, RtcpReportsFlowOnASharedPortAndEndWithBye) {
    RawSipPeer peer;
    peer.invite(port, peer.offer("0", "a=rtcp-mux\r\n"));
    ASSERT_TRUE(peer.waitFor(180));
    const SipText ok = connect(peer);
    EXPECT_TRUE(ok.body.contains("a=rtcp-mux\r\n"));
    sendLoud(peer, rtpPortOf(ok), 0, 10);
    // The first report comes within about three seconds (half the minimum interval).
    QList<QByteArray> rtcp;
    QElapsedTimer waited;
    waited.start();
    while (rtcp.isEmpty() && waited.elapsed() < 4500) {
        QThread::msleep(100);
        for (const QByteArray& d : peer.drainRtp()) {
            if (looksLikeRtcp(bytes(d)))
                rtcp << d;
        }
    }
    ASSERT_EQ(rtcp.size(), 1);
    const auto report = parseRtcp(bytes(rtcp[0]));
    ASSERT_TRUE(report);
    EXPECT_EQ(uint8_t(rtcp[0][1]), 201);
    EXPECT_EQ(uint8_t(rtcp[0][0]) & 0x1f, 1);  // one report block: the peer's stream
    line->drop(0);
    ASSERT_TRUE(peer.waitForRequest("BYE"));
    QThread::msleep(50);
    QList<QByteArray> last;
    for (const QByteArray& d : peer.drainRtp()) {
        if (looksLikeRtcp(bytes(d)))
            last << d;
    }
    ASSERT_EQ(last.size(), 1);
    EXPECT_FALSE(parseRtcp(bytes(last[0]))->byes.empty());
}

class SipLineSilenceTest : public test::SipLineFixture {
protected:
    void adjust(SipLineConfig& cfg) override { cfg.sendSilence = true; }
};

TEST_F(SipLineSilenceTest, ALineThatSendsSilenceSaysSendrecvAndSendsTheCodecsSilence) {
    RawSipPeer peer;
    ringIn(peer, "8");
    const SipText ok = connect(peer);
    EXPECT_EQ(directionOf(ok), MediaDirection::SendRecv);
    QThread::msleep(1000);
    const QList<QByteArray> sent = peer.drainRtp();
    EXPECT_GE(sent.size(), 40);
    for (const QByteArray& d : sent) {
        const auto p = parseRtp(bytes(d));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->payloadType, 8);
        EXPECT_EQ(p->payload.size(), 160u);
    }
    // Put on hold, we listen only and send nothing.
    peer.reinvite(port, ok.toTag(), peer.offer("8", {}, "sendonly"));
    const auto held = peer.waitFor(200);
    ASSERT_TRUE(held);
    EXPECT_EQ(directionOf(*held), MediaDirection::RecvOnly);
    peer.ack(port, ok.toTag());
    QThread::msleep(300);
    peer.drainRtp();
    QThread::msleep(600);
    for (const QByteArray& d : peer.drainRtp()) EXPECT_TRUE(parseRtp(bytes(d))->payload.empty());
}

struct SrtpCase {
    const char* name;
    MediaEncryption line;
    const char* profile;
    bool withKey;
    int status;   // 200 or the refusal
    bool secure;  // the answer carries our key
};

class SipLineSrtpTest : public test::SipLineFixture,
                        public ::testing::WithParamInterface<SrtpCase> {
protected:
    void adjust(SipLineConfig& cfg) override { cfg.mediaEncryption = GetParam().line; }
};

TEST_P(SipLineSrtpTest, TakesEncryptedCallsAsTheLineSays) {
    const SrtpCase c = GetParam();
    RawSipPeer peer;
    const SrtpKey theirs = makeSrtpKey(QStringLiteral("AES_CM_128_HMAC_SHA1_80"));
    QByteArray sdp =
        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
        "m=audio " +
        QByteArray::number(peer.rtpPort()) + ' ' + c.profile + " 0\r\n";
    if (c.withKey) {
        sdp += "a=crypto:3 F8_128_HMAC_SHA1_80 inline:AAEC\r\n";  // one we cannot use first
        const SdpCrypto keys = cryptoLine(4, theirs);
        sdp += "a=crypto:4 " + keys.suite.toLatin1() + ' ' + keys.keyParams.toLatin1() + "\r\n";
    }
    sdp += "a=sendrecv\r\n";
    peer.invite(port, sdp);
    if (c.status != 200) {
        EXPECT_TRUE(peer.waitFor(c.status));
        EXPECT_FALSE(log.events().contains("ring 1"));
        return;
    }
    ASSERT_TRUE(peer.waitFor(180));
    const SipText ok = connect(peer);
    const auto answer = parseSdp(ok.body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->proto, QLatin1String(c.profile));
    ASSERT_EQ(answer->crypto.size(), c.secure ? 1u : 0u);
    if (!c.secure)
        return;
    EXPECT_EQ(answer->crypto[0].tag, 4);
    const auto ours = keyOfCrypto(answer->crypto[0]);
    ASSERT_TRUE(ours);
    EXPECT_NE(ours->keySalt, theirs.keySalt);

    // The far end's speech, encrypted with its key; then plain packets, which are forged.
    auto protect = SrtpContext::make(theirs);
    const auto speech = test::chirp(8000, 4000, 300, 3000);
    const QByteArray coded = pcmuOf(speech);
    const int rtpPort = rtpPortOf(ok);
    for (int n = 0; n < 25; ++n) {
        const auto h = rtpHeader(0, uint16_t(n), uint32_t(n * 160), 0x77);
        std::vector<uint8_t> p(h.begin(), h.end());
        const QByteArray frame = coded.mid(n * 160, 160);
        const auto payload = bytes(frame);
        p.insert(p.end(), payload.begin(), payload.end());
        ASSERT_EQ(protect->protectRtp(p), 0);
        peer.sendRtpDatagram(rtpPort,
                             QByteArray(reinterpret_cast<const char*>(p.data()), int(p.size())));
    }
    for (int n = 25; n < 30; ++n)
        peer.sendRtp(rtpPort, 0, uint16_t(n), uint32_t(n * 160), kLoud, nullptr, 0x77);
    line->flushAudio(0);
    EXPECT_GT(test::bestCorrelation(speech, log.audio(), 2000), 0.99);
    EXPECT_EQ(line->diagnostics(0).media.undecryptable, 5u);
    EXPECT_EQ(loudSamples(), 0);
    // What the line sends (its keepalive) reads only with its own key.
    auto unprotect = SrtpContext::make(*ours);
    const QList<QByteArray> sent = peer.drainRtp();
    ASSERT_FALSE(sent.isEmpty());
    QByteArray first = sent[0];
    std::span<uint8_t> view(reinterpret_cast<uint8_t*>(first.data()), size_t(first.size()));
    EXPECT_EQ(unprotect->unprotectRtp(view), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SipLineSrtpTest,
    ::testing::Values(
        SrtpCase{"RequiredSavpWithKey", MediaEncryption::SrtpRequired, "RTP/SAVP", true, 200, true},
        SrtpCase{"RequiredAvpWithKey", MediaEncryption::SrtpRequired, "RTP/AVP", true, 200, true},
        SrtpCase{"RequiredAvpWithoutKey", MediaEncryption::SrtpRequired, "RTP/AVP", false, 488,
                 false},
        SrtpCase{"OptionalAvpWithoutKey", MediaEncryption::SrtpOptional, "RTP/AVP", false, 200,
                 false},
        SrtpCase{"OptionalSavpWithoutKey", MediaEncryption::SrtpOptional, "RTP/SAVP", false, 488,
                 false},
        SrtpCase{"NoneAvpWithKey", MediaEncryption::None, "RTP/AVP", true, 200, false},
        SrtpCase{"NoneSavpWithKey", MediaEncryption::None, "RTP/SAVP", true, 488, false}),
    [](const ::testing::TestParamInfo<SrtpCase>& p) { return std::string(p.param.name); });

TEST_F(SipLineTest, AG722CallIsRecordedAt16kHz) {
    RawSipPeer peer;
    peer.invite(port, peer.offer("0 9"));
    ASSERT_TRUE(peer.waitFor(180));
    EXPECT_EQ(line->audioSampleRate(0), 16000);  // known before the call connects
    const SipText ok = connect(peer);
    EXPECT_TRUE(
        ok.body.contains("m=audio " + QByteArray::number(rtpPortOf(ok)) + " RTP/AVP 9\r\n"));
    const auto sent = test::chirp(16000, 16000, 300, 7000);
    g722_encode_state_t* enc = g722_encode_init(nullptr, 64000, 0);
    for (int n = 0; n < 50; ++n) {
        QByteArray packet(160, '\0');
        g722_encode(enc, reinterpret_cast<uint8_t*>(packet.data()), sent.data() + n * 320, 320);
        peer.sendRtp(rtpPortOf(ok), 9, uint16_t(n), uint32_t(n * 160), packet);
    }
    g722_encode_free(enc);
    line->flushAudio(0);
    EXPECT_EQ(log.rate(), 16000);
    const auto recorded = log.audio();
    EXPECT_GT(test::bestCorrelation(sent, recorded, 4000), 0.95);
    EXPECT_GT(test::energyAbove(recorded, 16000, 4000), 0.3);
}

TEST_F(SipLineTest, NewOffersKeepTheCallUnlessTheyCannotBeFollowed) {
    RawSipPeer peer;
    ringIn(peer, "0");
    const SipText ok = connect(peer);
    const int rtpPort = rtpPortOf(ok);
    const QByteArray head = "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\n";
    const QByteArray media =
        "t=0 0\r\nm=audio " + QByteArray::number(peer.rtpPort()) + " RTP/AVP 0\r\na=sendrecv\r\n";
    // The old way to hold: an unspecified address. Accepted, the audio keeps its address.
    peer.reinvite(port, ok.toTag(), head + "c=IN IP4 0.0.0.0\r\n" + media);
    EXPECT_TRUE(peer.waitFor(200));
    peer.ack(port, ok.toTag());
    // A multicast address cannot be followed: refused, the call goes on as it was.
    peer.reinvite(port, ok.toTag(), head + "c=IN IP4 239.1.1.1\r\n" + media);
    EXPECT_TRUE(peer.waitFor(488));
    peer.ack(port, ok.toTag());
    // Asked for an offer (no description): the session as it stands, answered in the ACK.
    peer.reinvite(port, ok.toTag(), {});
    const auto offered = peer.waitFor(200);
    ASSERT_TRUE(offered);
    EXPECT_TRUE(offered->body.contains("RTP/AVP 0\r\n")) << offered->body.constData();
    peer.ackWithAnswer(port, ok.toTag(), peer.offer("0", {}, "sendrecv"));
    sendLoud(peer, rtpPort, 0, 10);
    line->flushAudio(0);
    EXPECT_EQ(loudSamples(), 1600);
    EXPECT_TRUE(line->isConnected(0));
    EXPECT_FALSE(log.events().contains("disconnected"));
}

TEST_F(SipLineTest, SpoofedRtpFromTheCallersHostNeitherSilencesNorEndsTheCall) {
    RawSipPeer peer;
    ringIn(peer, "0");
    const SipText ok = connect(peer);
    const int rtpPort = rtpPortOf(ok);
    QUdpSocket spoofer;
    ASSERT_TRUE(spoofer.bind(QHostAddress::LocalHost, 0));
    auto* random = QRandomGenerator::global();
    const auto speech = test::chirp(8000, 3 * 8000, 300, 3400);
    // Ten forged packets a second from another port of the caller's host, random streams.
    streamInRealTime(peer, rtpPort, pcmuOf(speech), [&](int n) {
        if (n % 5 == 0) {
            peer.sendRtp(rtpPort, 0, uint16_t(random->generate()), random->generate(),
                         QByteArray(160, char(0x80)), &spoofer, random->generate());
        }
    });
    line->flushAudio(0);
    EXPECT_GT(test::bestCorrelation(speech, log.audio(), 4000), 0.95);
    EXPECT_TRUE(line->isConnected(0));
    EXPECT_FALSE(log.events().contains("disconnected"));
    const auto diag = line->diagnostics(0);
    EXPECT_EQ(diag.media.foreignPackets, 30u);
    EXPECT_EQ(diag.audio.resyncs, 0u);
    EXPECT_TRUE(diag.problems.join(u'\n').contains("unexpected source"));
}

}  // namespace
}  // namespace kallomir
