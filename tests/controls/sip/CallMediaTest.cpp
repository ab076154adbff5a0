#include "controls/sip/CallMedia.h"

#include "AudioChecks.h"
#include "controls/sip/G711.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <random>

namespace kallomir {
namespace {

sockaddr_storage loopback(int port) {
    sockaddr_storage s{};
    auto& in = reinterpret_cast<sockaddr_in&>(s);
    in.sin_family = AF_INET;
    in.sin_port = htons(uint16_t(port));
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return s;
}

// The far end of a call on 127.0.0.1: an RTP/RTCP port pair that sends G.711 and reads what
// the line sends back.
struct FarEnd {
    RtpSocket rtp, rtcp;
    uint32_t ssrc = 0x5eed0001;
    std::unique_ptr<SrtpContext> protect;    // SRTP with its own key, when set
    std::unique_ptr<SrtpContext> unprotect;  // our key, to read what the line sends

    FarEnd() {
        const auto local = loopback(0);
        EXPECT_EQ(openRtpPair(rtp, rtcp, reinterpret_cast<const sockaddr*>(&local),
                              sizeof(sockaddr_in), 30000, 40000),
                  0);
    }
    void sendFrom(RtpSocket& socket, int toPort, uint16_t seq, uint32_t ts, uint32_t fromSsrc,
                  std::span<const uint8_t> payload, int pt = 0) {
        const auto h = rtpHeader(pt, seq, ts, fromSsrc);
        std::vector<uint8_t> p(h.begin(), h.end());
        p.insert(p.end(), payload.begin(), payload.end());
        if (protect) {
            EXPECT_EQ(protect->protectRtp(p), 0);
        }
        const auto to = loopback(toPort);
        socket.sendTo(reinterpret_cast<const sockaddr*>(&to), sizeof(sockaddr_in), p);
    }
    void send(int toPort, uint16_t seq, uint32_t ts, std::span<const uint8_t> payload) {
        sendFrom(rtp, toPort, seq, ts, ssrc, payload);
    }
    // Datagrams that came to a socket, decrypted when we hold the line's key.
    std::vector<std::vector<uint8_t>> drain(RtpSocket& socket, bool rtcpPackets) {
        std::vector<std::vector<uint8_t>> out;
        for (bool more = true; more; more = socket.more()) {
            for (const auto& d : socket.receive()) {
                std::span<uint8_t> bytes = d.bytes;
                if (unprotect) {
                    const int err = rtcpPackets ? unprotect->unprotectRtcp(bytes)
                                                : unprotect->unprotectRtp(bytes);
                    if (err != 0)
                        continue;
                }
                out.emplace_back(bytes.begin(), bytes.end());
            }
        }
        return out;
    }
};

// A call's media on 127.0.0.1 driven by a clock the test moves.
class CallMediaTest : public ::testing::Test {
protected:
    CallMedia media{[this](std::span<const int16_t> s, int rate) {
                        audio.insert(audio.end(), s.begin(), s.end());
                        audioRate = rate;
                    },
                    [this](const QString& text) { problems << text; }, "rec@127.0.0.1"};
    FarEnd far;
    std::vector<int16_t> audio;
    int audioRate = 0;
    QStringList problems;
    uint64_t now = 1000;
    uint64_t nextTick = 1000 + CallMedia::kTickMs;

    void SetUp() override {
        const auto local = loopback(0);
        ASSERT_EQ(media.open(reinterpret_cast<const sockaddr*>(&local), sizeof(sockaddr_in), 20000,
                             29999),
                  0);
    }
    CallMedia::Params params(CodecKind kind = CodecKind::Pcmu, int pt = 0) {
        CallMedia::Params p;
        p.remote = loopback(far.rtp.port());
        p.signalling = loopback(5060);
        p.codec = {pt, kind};
        p.remotePayloadTypes = {pt};
        return p;
    }
    // Moves the clock, ticking the media as its timer would.
    void runFor(uint64_t ms) {
        now += ms;
        while (nextTick <= now) {
            media.tick(nextTick);
            nextTick += CallMedia::kTickMs;
        }
    }
    static std::vector<uint8_t> pcmu(const std::vector<int16_t>& pcm) {
        std::vector<uint8_t> coded;
        encodeG711(G711Law::MuLaw, pcm, coded);
        return coded;
    }
};

TEST_F(CallMediaTest, ReportsReceptionByRtcpAtTheIntervalAndSaysByeAtTheEnd) {
    ASSERT_TRUE(media.configure(params()));
    media.start(now);
    const std::vector<uint8_t> silence(160, 0xff);
    // 50 packets, two of them lost on the way.
    for (int n = 0; n < 50; ++n) {
        if (n != 10 && n != 11)
            far.send(media.port(), uint16_t(500 + n), uint32_t(n * 160), silence);
    }
    std::vector<uint64_t> reportTimes;
    std::vector<std::vector<uint8_t>> reports;
    for (int tick = 0; tick < 300; ++tick) {  // a minute
        runFor(CallMedia::kTickMs);
        for (auto& r : far.drain(far.rtcp, true)) {
            reportTimes.push_back(now);
            reports.push_back(r);
        }
    }
    // RFC 3550: the first soon (1 to 3 s), then every 2 to 6 s, 4 s on average.
    ASSERT_GE(reportTimes.size(), 9u);
    EXPECT_LE(reportTimes.size(), 30u);
    EXPECT_LE(reportTimes[0] - 1000, 3200u);
    for (size_t i = 1; i < reportTimes.size(); ++i) {
        EXPECT_GE(reportTimes[i] - reportTimes[i - 1], 2000u);
        EXPECT_LE(reportTimes[i] - reportTimes[i - 1], 6400u);
    }
    const std::vector<uint8_t>& first = reports.front();
    EXPECT_EQ(first[1], 201);  // a receiver report: we send no audio
    const auto content = parseRtcp(first);
    ASSERT_TRUE(content);
    const auto get32 = [&](size_t at) {
        return (uint32_t(first[at]) << 24) | (uint32_t(first[at + 1]) << 16) |
               (uint32_t(first[at + 2]) << 8) | first[at + 3];
    };
    EXPECT_EQ(get32(4), media.ourSsrc());
    EXPECT_EQ(get32(8), far.ssrc);        // about the far end's stream
    EXPECT_EQ(get32(12) & 0xffffff, 2u);  // two lost
    EXPECT_EQ(get32(16), 500u + 49);      // highest sequence number
    EXPECT_TRUE(std::string(first.begin(), first.end()).find("rec@127.0.0.1") != std::string::npos);

    media.stop(now);
    const auto last = far.drain(far.rtcp, true);
    ASSERT_EQ(last.size(), 1u);
    const auto bye = parseRtcp(last[0]);
    ASSERT_TRUE(bye);
    EXPECT_EQ(bye->byes, std::vector<uint32_t>{media.ourSsrc()});
    EXPECT_EQ(media.counters().rtcpSent, reports.size() + 1);
}

TEST_F(CallMediaTest, SendsSilenceInTheCodecAndSenderReportsWhenAskedTo) {
    auto p = params(CodecKind::Pcma, 8);
    p.sendSilence = true;
    ASSERT_TRUE(media.configure(p));
    media.start(now);
    runFor(2000);
    const auto packets = far.drain(far.rtp, false);
    // 50 packets a second, in sequence, 20 ms of A-law silence each.
    EXPECT_GE(packets.size(), 99u);
    EXPECT_LE(packets.size(), 102u);
    for (size_t i = 0; i < packets.size(); ++i) {
        const auto rtp = parseRtp(packets[i]);
        ASSERT_TRUE(rtp);
        EXPECT_EQ(rtp->payloadType, 8);
        EXPECT_EQ(rtp->marker, i == 0);
        ASSERT_EQ(rtp->payload.size(), 160u);
        EXPECT_EQ(rtp->payload[0], g711Silence(G711Law::ALaw));
        if (i > 0) {
            const auto before = parseRtp(packets[i - 1]);
            EXPECT_EQ(uint16_t(rtp->sequence - before->sequence), 1);
            EXPECT_EQ(rtp->timestamp - before->timestamp, 160u);
        }
    }
    runFor(6000);
    const auto reports = far.drain(far.rtcp, true);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back()[1], 200);  // a sender report now
    // After a stall the stream carries on from the present, not with a burst of the past.
    far.drain(far.rtp, false);
    now += 10000;
    nextTick = now;
    runFor(0);
    EXPECT_LE(far.drain(far.rtp, false).size(), 26u);
}

TEST_F(CallMediaTest, TakesOnlyTheFarEndsStreamAgainstSpoofedPacketsFromItsHost) {
    ASSERT_TRUE(media.configure(params()));
    media.start(now);
    RtpSocket spoofer;
    const auto local = loopback(0);
    ASSERT_EQ(spoofer.openAt(reinterpret_cast<const sockaddr*>(&local), sizeof(sockaddr_in), 0), 0);
    const auto speech = test::chirp(8000, 8000, 300, 3000);
    const std::vector<uint8_t> coded = pcmu(speech);
    const std::vector<uint8_t> loud(160, 0x80);
    std::mt19937 random(7);
    for (int n = 0; n < 50; ++n) {
        far.send(media.port(), uint16_t(n), uint32_t(n * 160),
                 std::span<const uint8_t>(coded).subspan(size_t(n) * 160, 160));
        if (n % 5 == 0) {
            // Another port of the same host, and the far end's own port, with random streams.
            far.sendFrom(spoofer, media.port(), uint16_t(random()), random(), random(), loud);
            far.sendFrom(far.rtp, media.port(), uint16_t(random()), random(), random(), loud);
        }
        runFor(20);
    }
    runFor(1000);
    media.stop(now);
    EXPECT_EQ(media.counters().foreignPackets, 10u);
    EXPECT_EQ(media.counters().otherStreams, 10u);
    EXPECT_EQ(media.audioStats().resyncs, 0u);
    EXPECT_EQ(media.audioStats().packets, 50u);
    EXPECT_GT(test::bestCorrelation(speech, audio, 3200), 0.99);
}

TEST_F(CallMediaTest, LearnsATranslatedSourceAndAnswersItThere) {
    auto p = params();
    p.remote = loopback(9);  // what a far end behind NAT writes: nothing comes from there
    ASSERT_TRUE(media.configure(p));
    media.start(now);
    const std::vector<uint8_t> loud(160, 0x80);
    for (int n = 0; n < 20; ++n) far.send(media.port(), uint16_t(n), uint32_t(n * 160), loud);
    runFor(4000);
    EXPECT_TRUE(media.counters().learntSource);
    // The first packets teach where it is; the rest is its audio.
    EXPECT_EQ(media.audioStats().packets, 20u - SourceLatch::kLearnPackets + 1);
    // Our reports go where its audio comes from (the port above it).
    EXPECT_FALSE(far.drain(far.rtcp, true).empty());
}

TEST_F(CallMediaTest, ReadsSrtpWithTheFarEndsKeyAndSendsSrtcpWithOurs) {
    auto p = params();
    p.receiveKey = makeSrtpKey(QStringLiteral("AES_CM_128_HMAC_SHA1_80"));
    p.sendKey = makeSrtpKey(QStringLiteral("AES_CM_128_HMAC_SHA1_32"));
    ASSERT_TRUE(media.configure(p));
    far.protect = SrtpContext::make(*p.receiveKey);
    far.unprotect = SrtpContext::make(*p.sendKey);
    media.start(now);
    const auto speech = test::chirp(8000, 4000, 300, 3000);
    const std::vector<uint8_t> coded = pcmu(speech);
    for (int n = 0; n < 25; ++n) {
        far.send(media.port(), uint16_t(n), uint32_t(n * 160),
                 std::span<const uint8_t>(coded).subspan(size_t(n) * 160, 160));
    }
    // Plain RTP from the far end's own port is not genuine.
    const auto keys = std::move(far.protect);
    for (int n = 25; n < 30; ++n)
        far.send(media.port(), uint16_t(n), uint32_t(n * 160), std::vector<uint8_t>(160, 0x80));
    runFor(4000);
    media.stop(now);
    EXPECT_EQ(media.audioStats().packets, 25u);
    EXPECT_EQ(media.counters().undecryptable, 5u);
    EXPECT_GT(test::bestCorrelation(speech, audio, 3200), 0.99);
    // Our RTCP reads only with our key.
    const auto reports = far.drain(far.rtcp, true);
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(parseRtcp(reports.back()));
}

TEST_F(CallMediaTest, ARestartedStreamCarriesOnWhereTheOldOneStopped) {
    ASSERT_TRUE(media.configure(params()));
    media.start(now);
    const std::vector<uint8_t> loud(160, 0x80);
    for (int n = 0; n < 25; ++n) {
        far.send(media.port(), uint16_t(n), uint32_t(90000 + n * 160), loud);
        runFor(20);
    }
    runFor(600);  // quiet: the old stream has gone
    far.ssrc = 0x5eed0002;
    for (int n = 0; n < 25; ++n) {
        far.send(media.port(), uint16_t(7000 + n), uint32_t(3'000'000'000u + n * 160), loud);
        runFor(20);
    }
    runFor(1000);
    media.stop(now);
    // Both runs of audio, the first packet of the new stream spent on its probation.
    const std::vector<int16_t> decodedLoud = [] {
        std::vector<int16_t> d;
        decodeG711(G711Law::MuLaw, std::vector<uint8_t>{0x80}, d);
        return d;
    }();
    EXPECT_EQ(std::count(audio.begin(), audio.end(), decodedLoud[0]), (25 + 24) * 160);
    EXPECT_EQ(media.audioStats().late, 0u);
    EXPECT_TRUE(problems.join(u'\n').contains("restarted its stream"));
}

TEST_F(CallMediaTest, WidebandAudioComesOutAt16kHz) {
    ASSERT_TRUE(media.configure(params(CodecKind::G722, 9)));
    EXPECT_EQ(media.outputRate(), 16000);
    // A later offer of G.711 keeps the call's rate.
    ASSERT_TRUE(media.configure(params(CodecKind::Pcmu, 0)));
    EXPECT_EQ(media.outputRate(), 16000);
    media.start(now);
    const std::vector<uint8_t> loud(160, 0x80);
    for (int n = 0; n < 10; ++n) far.send(media.port(), uint16_t(n), uint32_t(n * 160), loud);
    runFor(1000);
    EXPECT_EQ(audioRate, 16000);
    EXPECT_GE(audio.size(), 16000u * 8 / 10);
}

}  // namespace
}  // namespace kallomir
