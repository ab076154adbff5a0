#include "controls/sip/SipLine.h"

#include "SipLineFixture.h"
#include "controls/TelephonyControl.h"
#include "controls/sip/G711.h"
#include "controls/sip/Rtp.h"
#include "controls/sip/Sdp.h"
#include "core/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kallomir {
namespace {

using test::RawSipPeer;
using test::SipText;

using SipLineTest = test::SipLineFixture;

TEST(SipLineDevices, ListsEachConfiguredLineWithVersionAndCapabilities) {
    SipLineConfig a;
    a.name = QStringLiteral("Uno");
    SipLineConfig b;
    b.name = QStringLiteral("Due");
    SipLine line({a, b});
    const auto devices = line.devices();
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(devices[1].name, "Due");
    EXPECT_GE(devices[0].apiVersion >> 16, 1);
    EXPECT_TRUE(devices[0].capabilities & LineCapability::kAutomatedVoice);
    EXPECT_TRUE(devices[0].capabilities & LineCapability::kCallerId);
    EXPECT_EQ(line.audioSampleRate(1), 8000);
    EXPECT_FALSE(line.isConnected(0));
    EXPECT_THROW(line.open(2), RuntimeError);
    EXPECT_THROW(line.dial(0, QStringLiteral("0123")), RuntimeError);  // no domain, not open
    line.answer(0);  // nothing offered: nothing happens
    line.drop(1);
}

TEST(SipLineDevices, ATakenPortOrASecondStackIsReportedAsAnError) {
    QUdpSocket taken;
    ASSERT_TRUE(taken.bind(QHostAddress::LocalHost, 0));
    SipLineConfig cfg;
    cfg.name = QStringLiteral("Occupata");
    cfg.listenAddress = QStringLiteral("127.0.0.1");
    cfg.listenPort = taken.localPort();
    SipLine line({cfg});
    try {
        line.open(0);
        ADD_FAILURE() << "opened a line on a port in use";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), kLineDeviceError);
        EXPECT_TRUE(e.description().contains("cannot listen")) << e.what();
    }
    EXPECT_FALSE(line.diagnostics(0).listening);
    // libre keeps one loop per process.
    EXPECT_THROW(SipLine({cfg}), RuntimeError);
}

TEST_F(SipLineTest, RingsAnswersRecordsTheFarEndAndEndsOnItsBye) {
    RawSipPeer peer;
    ringIn(peer);
    EXPECT_TRUE(log.events().contains("notify CALLERID 0123456 \"Mario Rossi\""));
    EXPECT_TRUE(log.waitFor(QStringLiteral("ring 2")));  // one ring per ring period
    const SipText ok = connect(peer);
    EXPECT_TRUE(ok.body.contains("RTP/AVP 8"));            // the caller's first choice, PCMA
    EXPECT_EQ(directionOf(ok), MediaDirection::RecvOnly);  // we record, we do not talk
    EXPECT_TRUE(line->isConnected(0));
    EXPECT_GE(line->diagnostics(0).lastAnswerMs, 0);

    // A 1 kHz tone from the far end, 20 packets of 20 ms, one of them sent twice and two
    // swapped on the way.
    const int rtpPort = rtpPortOf(ok);
    std::vector<QByteArray> packets;
    for (int n = 0; n < 20; ++n) {
        std::vector<int16_t> pcm(160);
        for (int i = 0; i < 160; ++i) {
            pcm[size_t(i)] = int16_t(8000 * std::sin(2 * M_PI * 1000 * (n * 160 + i) / 8000.0));
        }
        std::vector<uint8_t> coded;
        encodeG711(G711Law::ALaw, pcm, coded);
        packets.emplace_back(reinterpret_cast<const char*>(coded.data()), int(coded.size()));
    }
    for (int n : {0, 1, 2, 4, 3, 5, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}) {
        peer.sendRtp(rtpPort, 8, uint16_t(n), uint32_t(5000 + n * 160), packets[size_t(n)]);
    }
    ASSERT_TRUE(log.waitForAudio(8000));  // a second of line audio
    const auto audio = log.audio();
    EXPECT_EQ(log.rate(), 8000);
    double energy = 0;
    for (int16_t s : audio) energy += double(s) * s;
    const double rms = std::sqrt(energy / double(audio.size()));
    // 400 ms of tone at RMS ~5650 in a second or more of audio.
    EXPECT_GT(rms, 1500.0);
    const auto diag = line->diagnostics(0);
    EXPECT_EQ(diag.audio.packets, 20u);
    EXPECT_EQ(diag.audio.duplicates, 1u);
    EXPECT_EQ(diag.audio.late, 0u);
    // No audio from us, but a keepalive as the call connected (a far end behind NAT, or
    // one that waits for our first packet, learns where to send).
    EXPECT_EQ(expectOnlyKeepalives(peer, {8, 0}), 1);

    peer.bye(port, ok.toTag());
    EXPECT_TRUE(peer.waitFor(200));
    ASSERT_TRUE(log.waitFor(QStringLiteral("idle")));
    const QStringList events = log.events();
    EXPECT_EQ(events.indexOf("disconnected") + 1, events.indexOf("idle"));
    EXPECT_FALSE(line->isConnected(0));
}

TEST_F(SipLineTest, CancelWhileRingingLeavesTheLineIdleWithoutConnecting) {
    RawSipPeer peer;
    ringIn(peer);
    peer.cancel(port);
    EXPECT_TRUE(peer.waitFor(487));
    ASSERT_TRUE(log.waitFor(QStringLiteral("idle")));
    EXPECT_FALSE(log.events().contains("connected"));
    EXPECT_FALSE(log.events().contains("disconnected"));
    line->answer(0);  // too late: nothing to answer
    // The line takes the next call.
    RawSipPeer next;
    ringIn(next);
}

TEST_F(SipLineTest, RefusesASecondCallAnOfferWithoutOurCodecsAndBrokenDescriptions) {
    RawSipPeer first;
    ringIn(first);

    RawSipPeer second;
    second.invite(port, second.offer());
    EXPECT_TRUE(second.waitFor(486));

    line->drop(0);  // refuse the ringing call
    EXPECT_TRUE(first.waitFor(603));

    RawSipPeer g729;
    g729.invite(port, g729.offer("18", "a=rtpmap:18 G729/8000\r\n"));
    EXPECT_TRUE(g729.waitFor(488));

    RawSipPeer broken;
    broken.invite(port, "v=0\r\nthis is not a description\r\n");
    EXPECT_TRUE(broken.waitFor(488));

    RawSipPeer empty;
    empty.invite(port, {});
    EXPECT_TRUE(empty.waitFor(488));

    // Garbage on the SIP port is ignored.
    RawSipPeer junk;
    junk.send(QByteArray("\x00\x01garbage\r\n\r\n", 13), port);
    junk.send("INVITE sip:x SIP/2.0\r\nVia: nonsense\r\n\r\n", port);

    const auto diag = line->diagnostics(0);
    EXPECT_EQ(diag.refusedCalls, 4u);
    EXPECT_TRUE(diag.problems.join(u'\n').contains("no common codec"));
    EXPECT_TRUE(diag.problems.join(u'\n').contains("bad SDP"));
    EXPECT_FALSE(log.events().contains("connected"));

    RawSipPeer good;
    ringIn(good);
}

TEST_F(SipLineTest, AClosedLineTurnsCallsAway) {
    line->close(0);
    RawSipPeer peer;
    peer.invite(port, peer.offer());
    EXPECT_TRUE(peer.waitFor(480));
    line->open(0);
    RawSipPeer again;
    ringIn(again);
}

TEST_F(SipLineTest, DropSendsByeAndIsNotReportedBack) {
    RawSipPeer peer;
    ringIn(peer);
    connect(peer);
    line->drop(0);
    const auto bye = peer.waitForRequest("BYE");
    ASSERT_TRUE(bye);
    peer.reply(*bye, 200, "OK", port);
    EXPECT_FALSE(line->isConnected(0));
    EXPECT_FALSE(log.events().contains("disconnected"));
}

TEST_F(SipLineTest, TheFarEndsLastWordsBeforeItsByeAreRecorded) {
    RawSipPeer peer;
    ringIn(peer, "0");
    const SipText ok = connect(peer);
    const int rtpPort = rtpPortOf(ok);
    // Packets wait in the socket and the jitter buffer for a while; a hang-up right after
    // the last one must not cut them off.
    sendLoud(peer, rtpPort, 0, 10);
    peer.bye(port, ok.toTag());
    EXPECT_TRUE(peer.waitFor(200));
    ASSERT_TRUE(log.waitFor(QStringLiteral("idle")));
    EXPECT_EQ(loudSamples(), 1600);
    EXPECT_EQ(line->diagnostics(0).audio.packets, 10u);
}

TEST_F(SipLineTest, AFlushHandsOverHeldAudioAndTheCallGoesOnWithoutAGap) {
    RawSipPeer peer;
    ringIn(peer, "0");
    const SipText ok = connect(peer);
    const int rtpPort = rtpPortOf(ok);
    // A capture stopping right after these packets (a split) keeps all of them at once.
    sendLoud(peer, rtpPort, 0, 10);
    line->flushAudio(0);
    EXPECT_EQ(loudSamples(), 1600);
    // The call goes on: what follows is neither dropped as late nor repeated.
    sendLoud(peer, rtpPort, 10, 10);
    line->flushAudio(0);
    EXPECT_EQ(loudSamples(), 3200);
    EXPECT_EQ(line->diagnostics(0).audio.late, 0u);
    EXPECT_TRUE(line->isConnected(0));
}

TEST_F(SipLineTest, NewOffersInTheCallAreAnsweredWithoutOurSending) {
    RawSipPeer peer;
    ringIn(peer, "0 101");
    const SipText ok = connect(peer);
    EXPECT_EQ(expectOnlyKeepalives(peer, {0, 101}), 1);

    // On hold: the far end still sends (music), we still only receive.
    peer.reinvite(port, ok.toTag(), peer.offer("0", {}, "sendonly"));
    auto held = peer.waitFor(200);
    ASSERT_TRUE(held);
    EXPECT_EQ(directionOf(*held), MediaDirection::RecvOnly);
    peer.ack(port, ok.toTag());

    // A far end that only listens, or stops the stream: nobody sends.
    for (const QByteArray& offered : {QByteArray("recvonly"), QByteArray("inactive")}) {
        peer.reinvite(port, ok.toTag(), peer.offer("0", {}, offered));
        auto answer = peer.waitFor(200);
        ASSERT_TRUE(answer) << offered.constData();
        EXPECT_EQ(directionOf(*answer), MediaDirection::Inactive) << offered.constData();
        EXPECT_EQ(rtpPortOf(*answer), rtpPortOf(ok));
        peer.ack(port, ok.toTag());
    }
    EXPECT_TRUE(line->isConnected(0));
    expectOnlyKeepalives(peer, {0, 101});
    EXPECT_EQ(line->diagnostics(0).media.sendFailures, 0u);
}

TEST_F(SipLineTest, RtpFromAnotherAddressOrPayloadIsIgnoredAndCounted) {
    RawSipPeer peer;
    ringIn(peer, "0");
    const SipText ok = connect(peer);
    const int rtpPort = rtpPortOf(ok);
    QUdpSocket intruder;
    intruder.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
    const QByteArray loud(160, char(0x80));  // PCMU full scale
    for (int n = 0; n < 10; ++n) {
        peer.sendRtp(rtpPort, 0, uint16_t(n), uint32_t(n * 160), loud, &intruder);
        peer.sendRtp(rtpPort, 101, uint16_t(n), uint32_t(n * 160), QByteArray(4, '\0'));
    }
    ASSERT_TRUE(log.waitForAudio(4000));
    const auto diag = line->diagnostics(0);
    EXPECT_EQ(diag.media.foreignPackets, 10u);
    EXPECT_EQ(diag.media.otherPayloads, 10u);
    EXPECT_EQ(diag.audio.packets, 0u);
    for (int16_t s : log.audio()) ASSERT_EQ(s, 0);
    EXPECT_TRUE(diag.problems.join(u'\n').contains("unexpected source 127.0.0.2"));
}

TEST_F(SipLineTest, DialsConnectsWhenAnsweredAndCancelsOrHangsUp) {
    RawSipPeer callee;
    const QString target = QStringLiteral("sip:peer@127.0.0.1:%1").arg(callee.port());

    // Unanswered: our drop cancels the INVITE.
    line->dial(0, target);
    auto invite = callee.waitForRequest("INVITE");
    ASSERT_TRUE(invite);
    EXPECT_TRUE(invite->body.contains("RTP/AVP 9 96 0 8"));  // wideband first
    EXPECT_TRUE(invite->body.contains("a=recvonly\r\n"));    // a call-back records too
    callee.reply(*invite, 180, "Ringing", port);
    EXPECT_THROW(line->dial(0, target), RuntimeError);  // busy with this call
    line->drop(0);
    auto cancel = callee.waitForRequest("CANCEL");
    ASSERT_TRUE(cancel);
    callee.reply(*cancel, 200, "OK", port);
    callee.reply(*invite, 487, "Request Terminated", port);

    // Answered: connected, and our drop ends it with BYE.
    RawSipPeer callee2;
    line->dial(0, QStringLiteral("peer@127.0.0.1:%1").arg(callee2.port()));
    invite = callee2.waitForRequest("INVITE");
    ASSERT_TRUE(invite);
    callee2.reply(*invite, 200, "OK", port, callee2.offer("0"));
    EXPECT_TRUE(callee2.waitForRequest("ACK"));
    ASSERT_TRUE(log.waitFor(QStringLiteral("connected")));
    EXPECT_TRUE(line->isConnected(0));
    line->drop(0);
    EXPECT_TRUE(callee2.waitForRequest("BYE"));

    // Refused by the far end: back to idle with the reason in a notify event.
    RawSipPeer busy;
    line->dial(0, QStringLiteral("peer@127.0.0.1:%1").arg(busy.port()));
    invite = busy.waitForRequest("INVITE");
    ASSERT_TRUE(invite);
    busy.reply(*invite, 486, "Busy Here", port);
    EXPECT_TRUE(log.waitFor(QStringLiteral("notify CALLSTATE 486 Busy Here")));
    EXPECT_TRUE(log.waitFor(QStringLiteral("idle")));
}

}  // namespace
}  // namespace kallomir
