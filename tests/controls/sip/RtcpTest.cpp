#include "controls/sip/Rtcp.h"

#include <gtest/gtest.h>

namespace kallomir {
namespace {

uint32_t get32(const std::vector<uint8_t>& p, size_t at) {
    return (uint32_t(p[at]) << 24) | (uint32_t(p[at + 1]) << 16) | (uint32_t(p[at + 2]) << 8) |
           p[at + 3];
}

TEST(Rtcp, AReceiverReportCarriesTheBlockOurNameAndByeAsACompoundPacket) {
    RtcpReportBlock block;
    block.ssrc = 0x11223344;
    block.fractionLost = 64;
    block.cumulativeLost = -2;  // duplicates can make it negative
    block.highestSequence = 0x0001fffe;
    block.jitter = 37;
    block.lastSenderReport = 0xaabbccdd;
    block.delaySinceLastSenderReport = 65536;
    const auto p = buildRtcp(0xcafef00d, std::nullopt, block, "rec@192.0.2.7", true);
    ASSERT_EQ(p.size() % 4, 0u);
    // RR: V=2, one block, type 201, 7 words after the header.
    EXPECT_EQ(p[0], 0x81);
    EXPECT_EQ(p[1], 201);
    EXPECT_EQ((p[2] << 8) | p[3], 7);
    EXPECT_EQ(get32(p, 4), 0xcafef00du);
    EXPECT_EQ(get32(p, 8), 0x11223344u);
    EXPECT_EQ(get32(p, 12), (64u << 24) | 0xfffffeu);
    EXPECT_EQ(get32(p, 16), 0x0001fffeu);
    EXPECT_EQ(get32(p, 20), 37u);
    EXPECT_EQ(get32(p, 24), 0xaabbccddu);
    EXPECT_EQ(get32(p, 28), 65536u);
    // SDES with the CNAME item, then BYE for our source.
    EXPECT_EQ(p[33], 202);
    EXPECT_EQ(get32(p, 36), 0xcafef00du);
    EXPECT_EQ(p[40], 1);
    EXPECT_EQ(p[41], 13);
    EXPECT_EQ(std::string(p.begin() + 42, p.begin() + 55), "rec@192.0.2.7");
    const auto parsed = parseRtcp(p);
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->senderReport);
    EXPECT_EQ(parsed->byes, std::vector<uint32_t>{0xcafef00du});
    EXPECT_FALSE(parseRtcp(buildRtcp(1, std::nullopt, std::nullopt, "x", false))->byes.size());
}

TEST(Rtcp, ASenderReportIsReadBackAndBrokenPacketsAreRefused) {
    const RtcpSenderInfo info{0x0102030405060708ull, 160, 50, 8000};
    const auto p = buildRtcp(0x42, info, std::nullopt, "peer", false);
    EXPECT_EQ(p[1], 200);
    const auto parsed = parseRtcp(p);
    ASSERT_TRUE(parsed);
    ASSERT_TRUE(parsed->senderReport);
    EXPECT_EQ(parsed->senderReport->ssrc, 0x42u);
    EXPECT_EQ(parsed->senderReport->ntp, 0x0102030405060708ull);
    EXPECT_TRUE(looksLikeRtcp(p));

    std::vector<uint8_t> cut(p.begin(), p.end() - 4);
    EXPECT_FALSE(parseRtcp(cut));  // length words beyond the datagram
    std::vector<uint8_t> sdesFirst(p.begin() + 28, p.end());
    EXPECT_FALSE(parseRtcp(sdesFirst));  // a compound packet starts with a report
    std::vector<uint8_t> badVersion = p;
    badVersion[0] = 0x40;
    EXPECT_FALSE(parseRtcp(badVersion));
    // RTP sharing the port: payload types 0-127 with or without marker are not RTCP.
    const std::vector<uint8_t> rtp{0x80, 0x80, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_FALSE(looksLikeRtcp(rtp));
}

TEST(RtpReceiveStats, CountsLossReorderingDuplicatesAndTheSequenceWrap) {
    RtpReceiveStats stats;
    stats.start(7, 65530);
    // 65531..65535, 0..9 with 2 and 5 lost, 7 twice, 8 before 6.
    for (int s : {65531, 65532, 65533, 65534, 65535, 0, 1, 3, 4, 8, 6, 7, 7, 9}) {
        stats.update(uint16_t(s));
    }
    EXPECT_EQ(stats.extendedMax(), 65536u + 9);
    EXPECT_EQ(stats.received(), 15u);
    // 16 expected (65530..9), 15 received (the duplicate counts): 1 lost net.
    EXPECT_EQ(stats.lost(), 1);
    const RtcpReportBlock first = stats.report(1000);
    EXPECT_EQ(first.ssrc, 7u);
    EXPECT_EQ(first.highestSequence, 65536u + 9);
    EXPECT_EQ(first.cumulativeLost, 1);
    EXPECT_EQ(first.fractionLost, 256 * 1 / 16);
    // The next report counts only what happened since: 10..19 with 3 lost.
    for (int s = 10; s < 20; ++s) {
        if (s != 12 && s != 13 && s != 17)
            stats.update(uint16_t(s));
    }
    const RtcpReportBlock second = stats.report(2000);
    EXPECT_EQ(second.fractionLost, 256 * 3 / 10);
    EXPECT_EQ(second.cumulativeLost, 4);
}

TEST(RtpReceiveStats, AJumpIsARestartOnlyWhenTheNextPacketFollowsIt) {
    RtpReceiveStats stats;
    stats.start(7, 100);
    stats.update(101);
    stats.update(30000);  // a stray packet: not counted, nothing moves
    EXPECT_EQ(stats.extendedMax(), 101u);
    stats.update(102);
    EXPECT_EQ(stats.received(), 3u);
    stats.update(40000);
    stats.update(40001);  // follows on: the sender restarted, counting starts afresh
    EXPECT_EQ(stats.extendedMax(), 40001u);
    EXPECT_EQ(stats.received(), 1u);
    EXPECT_EQ(stats.lost(), 0);
}

TEST(RtpReceiveStats, JitterFollowsTheVariationOfTransitTime) {
    // Arrival times as the system gives them: microseconds since 1970.
    constexpr int64_t kNow = 1'760'000'000'000'000;
    RtpReceiveStats steady;
    steady.start(1, 0);
    for (int n = 0; n < 50; ++n) steady.arrival(uint32_t(n * 160), kNow + n * 20'000, 8000);
    EXPECT_EQ(steady.report(0).jitter, 0u);

    // Every other packet 10 ms late: transit differences of 80 units.
    RtpReceiveStats uneven;
    uneven.start(1, 0);
    for (int n = 0; n < 400; ++n) {
        uneven.arrival(uint32_t(n * 160), kNow + n * 20'000 + (n % 2) * 10'000, 8000);
    }
    EXPECT_NEAR(double(uneven.report(0).jitter), 80.0, 2.0);
}

TEST(RtpReceiveStats, ReportsTheLastSenderReportAndTheDelaySinceIt) {
    RtpReceiveStats stats;
    stats.start(1, 0);
    EXPECT_EQ(stats.report(100).lastSenderReport, 0u);
    stats.senderReport(0x1122334455667788ull, 1000);
    const RtcpReportBlock b = stats.report(1500);
    EXPECT_EQ(b.lastSenderReport, 0x33445566u);
    EXPECT_EQ(b.delaySinceLastSenderReport, 32768u);  // half a second in 1/65536 s
}

TEST(Rtcp, ReportsComeEveryFewSecondsSoonerAtFirstAndSpreadOut) {
    constexpr double kBandwidth = 500;  // bytes/s: 5 % of a voice call
    const struct {
        bool initial;
        double random;
        double seconds;
    } cases[] = {
        // Between two members the 5 s minimum rules, compensated by e - 3/2.
        {false, 0.5, 5.0 / 1.21828},
        {false, 0.0, 2.5 / 1.21828},
        {false, 0.999999, 7.5 / 1.21828},
        {true, 0.5, 2.5 / 1.21828},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(rtcpIntervalSeconds(2, 1, kBandwidth, false, 100, c.initial, c.random),
                    c.seconds, 0.001);
    }
    // Big packets on little bandwidth: the interval grows beyond the minimum.
    EXPECT_NEAR(rtcpIntervalSeconds(2, 1, 10, false, 100, false, 0.5), 100 * 2 / 10 / 1.21828,
                0.01);
    // A sender shares a quarter of the bandwidth with the other sender.
    EXPECT_NEAR(rtcpIntervalSeconds(8, 2, 10, true, 100, false, 0.5), 100 * 2 / 2.5 / 1.21828,
                0.01);
}

TEST(Rtcp, NtpTimeCountsFrom1900WithAFractionOfTheSecond) {
    const uint64_t ntp = ntpFromUnixUs(1'500'000);
    EXPECT_EQ(ntp >> 32, 2208988800ull + 1);
    EXPECT_EQ(uint32_t(ntp), 0x80000000u);
}

}  // namespace
}  // namespace kallomir
