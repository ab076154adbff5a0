#pragma once

#include "LineEventLog.h"
#include "RawSipPeer.h"
#include "controls/sip/G711.h"
#include "controls/sip/Rtp.h"
#include "controls/sip/Sdp.h"
#include "controls/sip/SipLine.h"

#include <gtest/gtest.h>

#include <memory>

namespace kallomir::test {

// One line on 127.0.0.1 at a free port, opened, with its events logged.
class SipLineFixture : public ::testing::Test {
protected:
    // A test's own settings for the line.
    virtual void adjust(SipLineConfig&) {}

    void SetUp() override {
        SipLineConfig cfg;
        cfg.name = QStringLiteral("Linea SIP");
        cfg.listenAddress = QStringLiteral("127.0.0.1");
        cfg.listenPort = test::freeUdpPort();
        cfg.user = QStringLiteral("rec");
        cfg.domain = QStringLiteral("127.0.0.1");
        cfg.ringPeriodMs = 500;
        cfg.rtpPortMin = 20000 + cfg.listenPort % 20000;
        cfg.rtpPortMax = cfg.rtpPortMin + 200;
        adjust(cfg);
        port = cfg.listenPort;
        line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
        line->setEventReceiver(&log);
        line->setAudioSink(&log);
        line->open(0);
    }
    void TearDown() override {
        if (line) {
            line->setEventReceiver(nullptr);
            line->setAudioSink(nullptr);
        }
    }

    // INVITE from the peer up to the first ring; returns the 180.
    SipText ringIn(RawSipPeer& peer, const QByteArray& pts = "8 0") {
        peer.invite(port, peer.offer(pts));
        auto ringing = peer.waitFor(180);
        EXPECT_TRUE(ringing);
        EXPECT_TRUE(log.waitFor(QStringLiteral("ring 1")));
        return ringing.value_or(SipText{});
    }

    // Answers, acknowledges the 200 and waits for the connected event; returns the 200.
    SipText connect(RawSipPeer& peer) {
        line->answer(0);
        auto ok = peer.waitFor(200);
        EXPECT_TRUE(ok);
        if (!ok)
            return {};
        peer.ack(port, ok->toTag());
        EXPECT_TRUE(log.waitFor(QStringLiteral("connected")));
        return *ok;
    }

    // Full-scale PCMU packets, numbered from `first`, 160 samples each.
    static void sendLoud(RawSipPeer& peer, int rtpPort, int first, int count) {
        for (int n = first; n < first + count; ++n)
            peer.sendRtp(rtpPort, 0, uint16_t(n), uint32_t(n * 160), kLoud);
    }
    // How many samples of what the line handed over are decoded full-scale PCMU.
    std::ptrdiff_t loudSamples() const {
        std::vector<int16_t> decoded;
        decodeG711(G711Law::MuLaw, {reinterpret_cast<const uint8_t*>(kLoud.constData()), 1},
                   decoded);
        const auto audio = log.audio();
        return std::count(audio.begin(), audio.end(), decoded[0]);
    }
    static inline const QByteArray kLoud = QByteArray(160, char(0x80));

    static int rtpPortOf(const SipText& msg) {
        const int m = msg.body.indexOf("m=audio ");
        return msg.body.mid(m + 8).split(' ').value(0).toInt();
    }

    static MediaDirection directionOf(const SipText& msg) {
        const auto sdp = parseSdp(msg.body);
        EXPECT_TRUE(sdp) << msg.body.constData();
        return sdp ? sdp->direction : MediaDirection::SendRecv;
    }

    // What the line sent the peer: keepalives only, header-only packets with a dynamic
    // payload number the peer did not offer. Returns how many.
    static int expectOnlyKeepalives(RawSipPeer& peer, const std::vector<int>& offered) {
        const QList<QByteArray> sent = peer.drainRtp();
        for (const QByteArray& d : sent) {
            const auto p =
                parseRtp({reinterpret_cast<const uint8_t*>(d.constData()), size_t(d.size())});
            EXPECT_TRUE(p);
            if (!p)
                continue;
            EXPECT_TRUE(p->payload.empty());
            EXPECT_GE(p->payloadType, 96);
            EXPECT_EQ(std::count(offered.begin(), offered.end(), p->payloadType), 0);
        }
        return int(sent.size());
    }

    int port = 0;
    LineEventLog log;
    std::unique_ptr<SipLine> line;
};

}  // namespace kallomir::test
