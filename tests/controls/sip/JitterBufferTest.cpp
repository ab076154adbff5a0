#include "controls/sip/JitterBuffer.h"

#include <gtest/gtest.h>

#include <numeric>

namespace kallomir {
namespace {

constexpr int kPacket = 160;  // 20 ms at 8 kHz

// Packet n carries samples n*160 .. n*160+159 whose values are their own index (mod 30000),
// so any misplacement shows in the output.
std::vector<int16_t> packetSamples(int n) {
    std::vector<int16_t> s(kPacket);
    for (int i = 0; i < kPacket; ++i) s[size_t(i)] = int16_t((n * kPacket + i) % 30000 + 1);
    return s;
}

void pushPacket(JitterBuffer& jb, uint32_t base, int n) {
    const auto s = packetSamples(n);
    jb.push(base + uint32_t(n * kPacket), s);
}

std::vector<int16_t> pullAll(JitterBuffer& jb, int count) {
    std::vector<int16_t> out;
    jb.pull(count, out);
    return out;
}

TEST(JitterBuffer, HoldsSilenceUntilThePreBufferFillsThenPlaysInOrder) {
    JitterBuffer jb(320);
    pushPacket(jb, 1000, 0);
    EXPECT_FALSE(jb.playing());
    EXPECT_EQ(pullAll(jb, 160), std::vector<int16_t>(160, 0));  // still buffering
    pushPacket(jb, 1000, 1);
    EXPECT_TRUE(jb.playing());
    EXPECT_EQ(pullAll(jb, 160), packetSamples(0));
    pushPacket(jb, 1000, 2);
    EXPECT_EQ(pullAll(jb, 160), packetSamples(1));
    EXPECT_EQ(pullAll(jb, 160), packetSamples(2));
    EXPECT_EQ(jb.stats().concealedSamples, 0u);
}

TEST(JitterBuffer, PutsReorderedPacketsInPlaceAndDropsDuplicates) {
    JitterBuffer jb(320);
    for (int n : {0, 2, 1, 1, 4, 3, 2}) pushPacket(jb, 0, n);
    std::vector<int16_t> expected;
    for (int n = 0; n < 5; ++n) {
        const auto s = packetSamples(n);
        expected.insert(expected.end(), s.begin(), s.end());
    }
    EXPECT_EQ(pullAll(jb, 5 * kPacket), expected);
    EXPECT_EQ(jb.stats().packets, 5u);
    EXPECT_EQ(jb.stats().duplicates, 2u);
    EXPECT_EQ(jb.stats().concealedSamples, 0u);
}

TEST(JitterBuffer, FillsLostPacketsWithSilenceAndDropsTheirLateArrival) {
    JitterBuffer jb(320);
    pushPacket(jb, 5000, 0);
    pushPacket(jb, 5000, 2);  // packet 1 lost in transit
    pushPacket(jb, 5000, 3);
    auto out = pullAll(jb, 4 * kPacket);
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + kPacket), packetSamples(0));
    EXPECT_EQ(std::vector<int16_t>(out.begin() + kPacket, out.begin() + 2 * kPacket),
              std::vector<int16_t>(kPacket, 0));
    EXPECT_EQ(std::vector<int16_t>(out.begin() + 2 * kPacket, out.begin() + 3 * kPacket),
              packetSamples(2));
    EXPECT_EQ(jb.stats().concealedSamples, uint64_t(kPacket));

    pushPacket(jb, 5000, 1);  // arrives after its place was played
    EXPECT_EQ(jb.stats().late, 1u);
}

TEST(JitterBuffer, FollowsTimestampsAcrossTheThirtyTwoBitWrap) {
    JitterBuffer jb(320);
    const uint32_t base = 0xFFFFFFFFu - 200;
    for (int n = 0; n < 4; ++n) pushPacket(jb, base, n);
    std::vector<int16_t> expected;
    for (int n = 0; n < 4; ++n) {
        const auto s = packetSamples(n);
        expected.insert(expected.end(), s.begin(), s.end());
    }
    EXPECT_EQ(pullAll(jb, 4 * kPacket), expected);
    EXPECT_EQ(jb.stats().resyncs, 0u);
}

TEST(JitterBuffer, RestartsWhenTheSenderJumpsFarAhead) {
    JitterBuffer jb(320, 1600);
    pushPacket(jb, 0, 0);
    pushPacket(jb, 0, 1);
    pullAll(jb, 320);
    jb.push(1000000, packetSamples(7));
    jb.push(1000000 + kPacket, packetSamples(8));
    EXPECT_EQ(jb.stats().resyncs, 1u);
    EXPECT_EQ(pullAll(jb, kPacket), packetSamples(7));
}

TEST(JitterBuffer, RefillsThePreBufferAfterRunningDrySoSlightlyLateAudioIsKept) {
    JitterBuffer jb(320);
    pushPacket(jb, 0, 0);
    pushPacket(jb, 0, 1);
    pullAll(jb, 320);
    // Nothing arrives for 20 ms: silence is played, the position does not run on.
    EXPECT_EQ(pullAll(jb, kPacket), std::vector<int16_t>(kPacket, 0));
    EXPECT_FALSE(jb.playing());
    pushPacket(jb, 0, 2);
    pushPacket(jb, 0, 3);
    EXPECT_EQ(pullAll(jb, kPacket), packetSamples(2));
    EXPECT_EQ(jb.stats().late, 0u);
}

TEST(JitterBuffer, GivesUpTheOldestAudioWhenTheSenderRunsAheadOfTheReader) {
    JitterBuffer jb(320, 800);
    for (int n = 0; n < 7; ++n) pushPacket(jb, 0, n);  // 1120 samples into room for 800
    EXPECT_LE(jb.buffered(), 800);
    EXPECT_EQ(jb.stats().droppedSamples, uint64_t(7 * kPacket - 800));
    auto out = pullAll(jb, 800);
    EXPECT_EQ(out.back(), packetSamples(6).back());
}

TEST(JitterBuffer, ResetForgetsHeldAudio) {
    JitterBuffer jb(0);
    pushPacket(jb, 0, 0);
    jb.reset();
    EXPECT_EQ(pullAll(jb, kPacket), std::vector<int16_t>(kPacket, 0));
    pushPacket(jb, 90000, 3);
    EXPECT_EQ(pullAll(jb, kPacket), packetSamples(3));
}

TEST(JitterBuffer, OverlappingPacketsFillOnlyTheirGapAcrossTheRingsEnd) {
    // A ring of 1024 samples: packets of 160 straddle its end again and again.
    JitterBuffer jb(0, 1000);
    std::vector<int16_t> expected, out;
    for (int n = 0; n < 12; ++n) {
        pushPacket(jb, 100, n);
        const auto p = packetSamples(n);
        expected.insert(expected.end(), p.begin(), p.end());
        jb.pull(100, out);  // reads in steps that do not line up with the packets
    }
    jb.pull(int(expected.size() - out.size()), out);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(jb.stats().concealedSamples, 0u);

    // A resent stretch overlapping held audio and a gap: only the gap is taken.
    std::vector<int16_t> first(100, 1000), overlap(200, 2000);
    jb.push(100 + 12 * kPacket, first);         // held: 0..99
    jb.push(100 + 12 * kPacket + 50, overlap);  // 50..249, of which 100..249 are new
    jb.push(100 + 12 * kPacket + 50, overlap);  // nothing new: a duplicate
    EXPECT_EQ(jb.stats().duplicates, 1u);
    out.clear();
    jb.pull(250, out);
    EXPECT_EQ(std::count(out.begin(), out.begin() + 100, int16_t(1000)), 100);
    EXPECT_EQ(std::count(out.begin() + 100, out.end(), int16_t(2000)), 150);
}

TEST(JitterBuffer, DrainHandsOutEverythingHeldEvenBeforeThePreBufferFills) {
    // The end of a call: nothing the far end said may stay behind in the buffer.
    JitterBuffer jb(1120);
    pushPacket(jb, 7000, 0);
    pushPacket(jb, 7000, 2);  // packet 1 lost
    EXPECT_FALSE(jb.playing());
    std::vector<int16_t> out;
    jb.drain(out);
    ASSERT_EQ(out.size(), size_t(3 * kPacket));
    auto expected = packetSamples(0);
    expected.insert(expected.end(), size_t(kPacket), int16_t(0));
    const auto last = packetSamples(2);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(out, expected);
    EXPECT_EQ(jb.stats().concealedSamples, uint64_t(kPacket));

    // Once drained it starts afresh at the next packet, and an empty buffer drains nothing.
    out.clear();
    jb.drain(out);
    EXPECT_TRUE(out.empty());
    pushPacket(jb, 90000, 0);
    pushPacket(jb, 90000, 1);
    EXPECT_EQ(pullAll(jb, 2 * kPacket), std::vector<int16_t>(2 * kPacket, 0));  // buffering
}

}  // namespace
}  // namespace kallomir
