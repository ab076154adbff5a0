#include "controls/sip/Rtp.h"
#include "controls/sip/RtpSocket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>

namespace kallomir {
namespace {

std::vector<uint8_t> packetWith(std::vector<uint8_t> header, std::vector<uint8_t> payload) {
    header.insert(header.end(), payload.begin(), payload.end());
    return header;
}

TEST(Rtp, ReadsTheHeaderAndFindsThePayloadPastSourcesExtensionAndPadding) {
    const auto h = rtpHeader(8, 0xfffe, 0x01020304, 0xcafef00d);
    std::vector<uint8_t> plain(h.begin(), h.end());
    const auto withAudio = packetWith(plain, {1, 2, 3});
    const auto p = parseRtp(withAudio);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->payloadType, 8);
    EXPECT_FALSE(p->marker);
    EXPECT_EQ(p->sequence, 0xfffe);
    EXPECT_EQ(p->timestamp, 0x01020304u);
    EXPECT_EQ(p->ssrc, 0xcafef00du);
    EXPECT_EQ(std::vector<uint8_t>(p->payload.begin(), p->payload.end()),
              (std::vector<uint8_t>{1, 2, 3}));

    // Two contributing sources, a one-word extension, marker, two bytes of padding.
    std::vector<uint8_t> full = plain;
    full[0] = 0x80 | 0x20 | 0x10 | 2;
    full[1] = 0x80 | 0;
    full.insert(full.end(), 8, 0xee);                         // CSRCs
    full.insert(full.end(), {0xbe, 0xde, 0x00, 0x01});        // extension header, length 1
    full.insert(full.end(), {0x11, 0x22, 0x33, 0x44});        // extension word
    full.insert(full.end(), {0x7f, 0x7e, 0x7d, 0x00, 0x02});  // 3 bytes audio, padding 2
    const auto q = parseRtp(full);
    ASSERT_TRUE(q);
    EXPECT_TRUE(q->marker);
    EXPECT_EQ(q->payloadType, 0);
    EXPECT_EQ(std::vector<uint8_t>(q->payload.begin(), q->payload.end()),
              (std::vector<uint8_t>{0x7f, 0x7e, 0x7d}));

    // A keepalive is a header and nothing else.
    const auto k = parseRtp(plain);
    ASSERT_TRUE(k);
    EXPECT_TRUE(k->payload.empty());
}

TEST(Rtp, RejectsWhatIsNotAWholeVersionTwoPacket) {
    const auto h = rtpHeader(0, 1, 2, 3);
    std::vector<uint8_t> base(h.begin(), h.end());
    EXPECT_FALSE(parseRtp(std::vector<uint8_t>(base.begin(), base.begin() + 11)));  // short
    auto v1 = base;
    v1[0] = 0x40;
    EXPECT_FALSE(parseRtp(v1));
    // A STUN binding request on the same port (first two bits zero).
    EXPECT_FALSE(parseRtp(std::vector<uint8_t>{
        0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xa4, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    auto csrcs = base;
    csrcs[0] = 0x80 | 15;  // 60 bytes of sources that are not there
    EXPECT_FALSE(parseRtp(csrcs));
    auto extension = base;
    extension[0] = 0x90;
    extension.insert(extension.end(), {0xbe, 0xde, 0x00, 0x09});  // 36 bytes promised, none
    EXPECT_FALSE(parseRtp(extension));
    auto padding = packetWith(base, {1, 2, 40});
    padding[0] = 0xa0;  // padding longer than the payload
    EXPECT_FALSE(parseRtp(padding));
    padding.back() = 0;  // padding of zero bytes is malformed
    EXPECT_FALSE(parseRtp(padding));
}

TEST(Rtp, KeepalivesUseADynamicNumberTheFarEndDidNotList) {
    EXPECT_EQ(unusedDynamicPayloadType({0, 8}), 127);
    EXPECT_EQ(unusedDynamicPayloadType({0, 101, 127, 126}), 125);
    std::vector<int> all;
    for (int pt = 96; pt <= 127; ++pt) all.push_back(pt);
    EXPECT_EQ(unusedDynamicPayloadType(all), 127);  // nothing free: still a dynamic number
}

TEST(Rtp, KeepaliveIsDueAtStartThenOncePerPeriodAndNeverInBursts) {
    RtpKeepalive k(5000);
    EXPECT_FALSE(k.due(0));  // not started: a call that never connected sends nothing
    k.start(1000);
    EXPECT_TRUE(k.due(1000));
    EXPECT_FALSE(k.due(1000));
    EXPECT_FALSE(k.due(5999));
    EXPECT_TRUE(k.due(6000));
    // Ticks that come late keep the cadence instead of drifting later each time.
    EXPECT_TRUE(k.due(11090));
    EXPECT_FALSE(k.due(15999));
    EXPECT_TRUE(k.due(16000));
    // After a long stall one keepalive, then a full period again.
    EXPECT_TRUE(k.due(60000));
    EXPECT_FALSE(k.due(60100));
    EXPECT_FALSE(k.due(64999));
    EXPECT_TRUE(k.due(65000));
    k.stop();
    EXPECT_FALSE(k.due(100000));
}

// A loopback sender for the socket tests.
class RtpSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sender = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(sender, 0);
        ASSERT_EQ(bind(sender, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    }
    void TearDown() override { close(sender); }

    void sendTo(const RtpSocket& to, size_t size, uint8_t fill) {
        sockaddr_in addr = local;
        addr.sin_port = htons(uint16_t(to.port()));
        const std::vector<uint8_t> data(size, fill);
        ASSERT_EQ(
            sendto(sender, data.data(), size, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr),
            ssize_t(size));
    }

    sockaddr_in local{};
    int sender = -1;
};

TEST_F(RtpSocketTest, TakesAnEvenPortOfTheRangeAndReportsAFullRange) {
    RtpSocket a;
    ASSERT_EQ(a.open(reinterpret_cast<sockaddr*>(&local), sizeof local, 0, 0), 0);
    EXPECT_GT(a.port(), 0);
    // A range of two even ports: both sockets get one, a third finds none.
    const int base = (a.port() % 20000 + 30001) & ~1;
    RtpSocket b, c, d;
    ASSERT_EQ(b.open(reinterpret_cast<sockaddr*>(&local), sizeof local, base - 1, base + 3), 0);
    ASSERT_EQ(c.open(reinterpret_cast<sockaddr*>(&local), sizeof local, base - 1, base + 3), 0);
    for (const RtpSocket* s : {&b, &c}) {
        EXPECT_EQ(s->port() % 2, 0);
        EXPECT_TRUE(s->port() == base || s->port() == base + 2) << s->port();
    }
    EXPECT_NE(b.port(), c.port());
    EXPECT_EQ(d.open(reinterpret_cast<sockaddr*>(&local), sizeof local, base - 1, base + 3),
              EADDRINUSE);
    EXPECT_FALSE(d.isOpen());
}

TEST_F(RtpSocketTest, ReadsAllQueuedDatagramsInBatchesWithoutWaiting) {
    RtpSocket s;
    ASSERT_EQ(s.open(reinterpret_cast<sockaddr*>(&local), sizeof local, 0, 0), 0);
    EXPECT_TRUE(s.receive().empty());  // nothing queued: returns at once
    EXPECT_FALSE(s.more());

    // More than a batch, with one datagram too long to be audio in the middle.
    const size_t total = RtpSocket::kBatch + 5;
    for (size_t i = 0; i < total; ++i) sendTo(s, i == 3 ? 4000 : 172, uint8_t(i));
    std::vector<uint8_t> seen;
    int reads = 0;
    do {
        for (const auto& d : s.receive()) {
            EXPECT_EQ(d.bytes.size(), 172u);
            EXPECT_EQ(reinterpret_cast<const sockaddr_in*>(d.from)->sin_addr.s_addr,
                      htonl(INADDR_LOOPBACK));
            seen.push_back(d.bytes[0]);
        }
        ++reads;
    } while (s.more());
    EXPECT_EQ(reads, 2);
    ASSERT_EQ(seen.size(), total - 1);
    EXPECT_EQ(seen[2], 2);
    EXPECT_EQ(seen[3], 4);  // the long one was left out, nothing else

    // What we send arrives from the socket's own port (symmetric RTP).
    sockaddr_in back = local;
    socklen_t len = sizeof back;
    ASSERT_EQ(getsockname(sender, reinterpret_cast<sockaddr*>(&back), &len), 0);
    const auto header = rtpHeader(127, 1, 2, 3);
    ASSERT_EQ(s.sendTo(reinterpret_cast<sockaddr*>(&back), len, header), 0);
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    uint8_t buf[64];
    ASSERT_EQ(recvfrom(sender, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                       &fromLen),
              ssize_t(kRtpHeaderSize));
    EXPECT_EQ(ntohs(from.sin_port), s.port());
    EXPECT_EQ(parseRtp({buf, kRtpHeaderSize})->payloadType, 127);
}

}  // namespace
}  // namespace kallomir
