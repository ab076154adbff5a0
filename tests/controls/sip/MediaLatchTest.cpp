#include "controls/sip/MediaLatch.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <random>

namespace kallomir {
namespace {

sockaddr_storage at(const char* ip, int port) {
    sockaddr_storage s{};
    auto& in = reinterpret_cast<sockaddr_in&>(s);
    in.sin_family = AF_INET;
    in.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, ip, &in.sin_addr);
    return s;
}

using V = SourceLatch::Verdict;

TEST(SourceLatch, TakesTheDescribedAddressAndLearnsOnlyFromTheFarEndsHosts) {
    SourceLatch latch;
    latch.expect(at("192.0.2.10", 4000), at("198.51.100.1", 5060));
    EXPECT_EQ(latch.check(at("192.0.2.10", 4000)), V::Accept);
    EXPECT_EQ(latch.check(at("192.0.2.10", 4002)), V::Learning);     // same host, other port
    EXPECT_EQ(latch.check(at("198.51.100.1", 30000)), V::Learning);  // the signalling host
    EXPECT_EQ(latch.check(at("203.0.113.9", 4000)), V::Foreign);     // anyone else
    latch.confirm(at("203.0.113.9", 4000), 1, 1);
    latch.confirm(at("203.0.113.9", 4000), 1, 2);
    latch.confirm(at("203.0.113.9", 4000), 1, 3);
    EXPECT_EQ(latch.check(at("203.0.113.9", 4000)), V::Foreign);
}

TEST(SourceLatch, ATranslatedSourceNeedsPacketsInSequenceAndYieldsToTheDescribedOne) {
    SourceLatch latch;
    latch.expect(at("10.0.0.5", 4000), at("198.51.100.1", 5060));
    const auto nat = at("198.51.100.1", 61000);
    // Out of sequence or of another stream: no learning.
    latch.confirm(nat, 7, 10);
    latch.confirm(nat, 7, 12);
    latch.confirm(nat, 8, 13);
    EXPECT_EQ(latch.check(nat), V::Learning);
    latch.confirm(nat, 8, 14);
    latch.confirm(nat, 8, 15);
    EXPECT_EQ(latch.check(nat), V::Accept);
    EXPECT_TRUE(latch.learnt());
    EXPECT_EQ(latch.check(at("198.51.100.1", 61002)), V::Foreign);
    EXPECT_EQ(reinterpret_cast<const sockaddr_in&>(latch.remote()).sin_port, htons(61000));
    // The described address turns up after all: it wins, for good.
    latch.confirm(at("10.0.0.5", 4000), 9, 1);
    EXPECT_FALSE(latch.learnt());
    EXPECT_EQ(latch.check(nat), V::Foreign);
    EXPECT_EQ(latch.check(at("10.0.0.5", 4000)), V::Accept);
}

TEST(SourceLatch, OnceTheDescribedSourceSpokeNothingElseIsLearnt) {
    SourceLatch latch;
    latch.expect(at("192.0.2.10", 4000), at("192.0.2.10", 5060));
    latch.confirm(at("192.0.2.10", 4000), 1, 1);
    const auto spoof = at("192.0.2.10", 4444);
    for (uint16_t s = 1; s < 10; ++s) latch.confirm(spoof, 2, s);
    EXPECT_EQ(latch.check(spoof), V::Foreign);
}

TEST(SsrcLatch, KeepsTheStreamAgainstOtherSourcesUntilItGoesQuiet) {
    SsrcLatch latch;
    bool switched = false;
    EXPECT_TRUE(latch.confirm(0xaaaa, 100, 0, &switched));  // the first stream is taken at once
    EXPECT_TRUE(switched);
    std::mt19937 random(1);
    // Forged packets of random streams while the call's stream runs (20 ms apart).
    for (uint64_t t = 20; t < 2000; t += 20) {
        EXPECT_TRUE(latch.confirm(0xaaaa, uint16_t(100 + t / 20), t, &switched));
        EXPECT_FALSE(switched);
        const uint32_t forged = random();
        EXPECT_EQ(latch.check(forged, t + 5), SsrcLatch::Verdict::Reject);
        EXPECT_FALSE(latch.confirm(forged, uint16_t(random()), t + 5, &switched));
    }
    EXPECT_EQ(latch.current(), 0xaaaau);
}

TEST(SsrcLatch, ANewStreamAfterQuietNeedsTwoPacketsInSequence) {
    SsrcLatch latch;
    latch.confirm(0xaaaa, 1, 0, nullptr);
    const uint64_t quiet = SsrcLatch::kQuietMs;
    EXPECT_EQ(latch.check(0xbbbb, quiet - 1), SsrcLatch::Verdict::Reject);
    EXPECT_EQ(latch.check(0xbbbb, quiet), SsrcLatch::Verdict::Candidate);
    bool switched = false;
    EXPECT_FALSE(latch.confirm(0xbbbb, 50, quiet, &switched));
    EXPECT_FALSE(latch.confirm(0xcccc, 51, quiet + 1, &switched));  // another one interrupts
    EXPECT_FALSE(latch.confirm(0xbbbb, 52, quiet + 2, &switched));  // its probation starts again
    EXPECT_FALSE(latch.confirm(0xbbbb, 60, quiet + 3, &switched));  // not in sequence
    EXPECT_TRUE(latch.confirm(0xbbbb, 61, quiet + 4, &switched));
    EXPECT_TRUE(switched);
    EXPECT_EQ(latch.current(), 0xbbbbu);
    // Now the old stream is the stranger.
    EXPECT_EQ(latch.check(0xaaaa, quiet + 10), SsrcLatch::Verdict::Reject);
}

TEST(SsrcLatch, AByeEndsTheStreamAtOnce) {
    SsrcLatch latch;
    latch.confirm(0xaaaa, 1, 0, nullptr);
    latch.ended(0x1234);  // not ours: nothing changes
    EXPECT_EQ(latch.check(0xbbbb, 10), SsrcLatch::Verdict::Reject);
    latch.ended(0xaaaa);
    EXPECT_EQ(latch.check(0xbbbb, 10), SsrcLatch::Verdict::Candidate);
    latch.confirm(0xbbbb, 7, 10, nullptr);
    EXPECT_TRUE(latch.confirm(0xbbbb, 8, 11, nullptr));
}

}  // namespace
}  // namespace kallomir
