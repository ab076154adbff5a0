#include "controls/sip/Rtcp.h"

#include <algorithm>
#include <cmath>

namespace kallomir {

namespace {

constexpr int kMaxDropout = 3000;
constexpr int kMaxMisorder = 100;
constexpr uint32_t kSeqMod = 1u << 16;

enum : uint8_t { kSr = 200, kRr = 201, kSdes = 202, kBye = 203 };

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, uint16_t(v >> 16));
    put16(out, uint16_t(v));
}
uint16_t get16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
uint32_t get32(const uint8_t* p) {
    return (uint32_t(get16(p)) << 16) | get16(p + 2);
}

// Writes a header with a placeholder length, returns where the packet starts.
size_t beginPacket(std::vector<uint8_t>& out, int count, uint8_t type) {
    const size_t start = out.size();
    out.push_back(uint8_t(0x80 | (count & 0x1f)));
    out.push_back(type);
    put16(out, 0);
    return start;
}
void endPacket(std::vector<uint8_t>& out, size_t start) {
    while ((out.size() - start) % 4) out.push_back(0);
    const uint16_t words = uint16_t((out.size() - start) / 4 - 1);
    out[start + 2] = uint8_t(words >> 8);
    out[start + 3] = uint8_t(words);
}

void putBlock(std::vector<uint8_t>& out, const RtcpReportBlock& b) {
    put32(out, b.ssrc);
    const int32_t lost = std::clamp<int32_t>(b.cumulativeLost, -0x800000, 0x7fffff);
    put32(out, (uint32_t(b.fractionLost) << 24) | (uint32_t(lost) & 0xffffff));
    put32(out, b.highestSequence);
    put32(out, b.jitter);
    put32(out, b.lastSenderReport);
    put32(out, b.delaySinceLastSenderReport);
}

}  // namespace

void RtpReceiveStats::start(uint32_t ssrc, uint16_t sequence) {
    *this = RtpReceiveStats{};
    started_ = true;
    ssrc_ = ssrc;
    baseSeq_ = sequence;
    maxSeq_ = sequence;
    badSeq_ = kSeqMod + 1;
    received_ = 1;
}

void RtpReceiveStats::update(uint16_t seq) {
    if (!started_)
        return;
    const uint16_t delta = uint16_t(seq - maxSeq_);
    if (delta < kMaxDropout) {
        if (seq < maxSeq_)
            cycles_ += kSeqMod;  // wrapped
        maxSeq_ = seq;
    } else if (delta <= kSeqMod - kMaxMisorder) {
        // A big jump: a restarted sender if the next packet follows on from it.
        if (seq == badSeq_) {
            const uint32_t ssrc = ssrc_;
            const uint64_t lsrArrival = lsrArrivalMs_;
            const uint32_t lsr = lsr_;
            start(ssrc, seq);
            lsr_ = lsr;
            lsrArrivalMs_ = lsrArrival;
            return;
        }
        badSeq_ = (uint32_t(seq) + 1) & (kSeqMod - 1);
        return;
    }
    // else a duplicate or reordered packet: counted, the maximum stays.
    ++received_;
}

void RtpReceiveStats::arrival(uint32_t timestamp, int64_t arrivalUs, int clockRate) {
    if (arrivalUs == 0 || clockRate <= 0)
        return;
    // Relative to the first arrival: absolute microseconds times the clock rate would overflow.
    if (!haveTransit_)
        firstArrivalUs_ = arrivalUs;
    const int64_t arrival = (arrivalUs - firstArrivalUs_) * clockRate / 1000000;
    const int64_t transit = arrival - int64_t(timestamp);
    if (haveTransit_) {
        // Differences taken modulo 2^32: the timestamp wraps.
        const int64_t d = std::llabs(int64_t(int32_t(uint32_t(transit - transit_))));
        jitter_ += (double(d) - jitter_) / 16.0;
    }
    transit_ = transit;
    haveTransit_ = true;
}

void RtpReceiveStats::senderReport(uint64_t ntp, uint64_t arrivalMs) {
    lsr_ = uint32_t(ntp >> 16);
    lsrArrivalMs_ = arrivalMs;
}

int64_t RtpReceiveStats::lost() const {
    const int64_t expected = int64_t(extendedMax()) - int64_t(baseSeq_) + 1;
    return expected - int64_t(received_);
}

RtcpReportBlock RtpReceiveStats::report(uint64_t nowMs) {
    RtcpReportBlock b;
    b.ssrc = ssrc_;
    const uint64_t expected = uint64_t(int64_t(extendedMax()) - int64_t(baseSeq_) + 1);
    const int64_t expectedInterval = int64_t(expected) - int64_t(expectedPrior_);
    const int64_t receivedInterval = int64_t(received_) - int64_t(receivedPrior_);
    expectedPrior_ = expected;
    receivedPrior_ = received_;
    const int64_t lostInterval = expectedInterval - receivedInterval;
    b.fractionLost = expectedInterval > 0 && lostInterval > 0
                         ? uint8_t(std::min<int64_t>(255, (lostInterval << 8) / expectedInterval))
                         : 0;
    b.cumulativeLost = int32_t(std::clamp<int64_t>(lost(), -0x800000, 0x7fffff));
    b.highestSequence = extendedMax();
    b.jitter = uint32_t(jitter_);
    if (lsrArrivalMs_ != 0 || lsr_ != 0) {
        b.lastSenderReport = lsr_;
        b.delaySinceLastSenderReport = uint32_t((nowMs - lsrArrivalMs_) * 65536 / 1000);
    }
    return b;
}

std::vector<uint8_t> buildRtcp(uint32_t ourSsrc, const std::optional<RtcpSenderInfo>& sender,
                               const std::optional<RtcpReportBlock>& block,
                               const std::string& cname, bool bye) {
    std::vector<uint8_t> out;
    out.reserve(128);
    const int blocks = block ? 1 : 0;
    size_t start = beginPacket(out, blocks, sender ? kSr : kRr);
    put32(out, ourSsrc);
    if (sender) {
        put32(out, uint32_t(sender->ntp >> 32));
        put32(out, uint32_t(sender->ntp));
        put32(out, sender->rtpTimestamp);
        put32(out, sender->packets);
        put32(out, sender->octets);
    }
    if (block)
        putBlock(out, *block);
    endPacket(out, start);

    start = beginPacket(out, 1, kSdes);
    put32(out, ourSsrc);
    const size_t length = std::min<size_t>(cname.size(), 255);
    out.push_back(1);  // CNAME
    out.push_back(uint8_t(length));
    out.insert(out.end(), cname.begin(), cname.begin() + ptrdiff_t(length));
    out.push_back(0);  // end of the item list; endPacket pads with more zeros
    endPacket(out, start);

    if (bye) {
        start = beginPacket(out, 1, kBye);
        put32(out, ourSsrc);
        endPacket(out, start);
    }
    return out;
}

bool looksLikeRtcp(std::span<const uint8_t> d) {
    // RTP payload types 64-95 are never used, so that RTCP types 192-223 stand out.
    return d.size() >= 8 && (d[0] >> 6) == 2 && d[1] >= 192 && d[1] <= 223;
}

std::optional<RtcpContent> parseRtcp(std::span<const uint8_t> d) {
    RtcpContent content;
    size_t pos = 0;
    bool first = true;
    while (pos + 4 <= d.size()) {
        const uint8_t* p = d.data() + pos;
        if ((p[0] >> 6) != 2)
            return std::nullopt;
        const size_t bytes = (size_t(get16(p + 2)) + 1) * 4;
        if (pos + bytes > d.size())
            return std::nullopt;
        const uint8_t type = p[1];
        // A compound packet starts with a report (RFC 3550 6.1).
        if (first && type != kSr && type != kRr)
            return std::nullopt;
        first = false;
        const int count = p[0] & 0x1f;
        if (type == kSr && bytes >= 28) {
            content.senderReport = RtcpContent::SenderReport{
                get32(p + 4), (uint64_t(get32(p + 8)) << 32) | get32(p + 12)};
        } else if (type == kBye) {
            for (int i = 0; i < count && size_t(8 + 4 * i) <= bytes; ++i)
                content.byes.push_back(get32(p + 4 + 4 * i));
        }
        pos += bytes;
    }
    if (first || pos != d.size())
        return std::nullopt;
    return content;
}

double rtcpIntervalSeconds(int members, int senders, double rtcpBytesPerSecond, bool weSent,
                           double averagePacketBytes, bool initial, double random01) {
    constexpr double kMinSeconds = 5.0;
    constexpr double kSenderShare = 0.25;
    constexpr double kCompensation = 2.71828 - 1.5;  // e - 3/2, RFC 3550 6.3.1
    double minimum = initial ? kMinSeconds / 2 : kMinSeconds;
    double bandwidth = rtcpBytesPerSecond;
    int n = members;
    if (senders <= members * kSenderShare) {
        if (weSent) {
            bandwidth *= kSenderShare;
            n = senders;
        } else {
            bandwidth *= 1.0 - kSenderShare;
            n -= senders;
        }
    }
    double t = bandwidth > 0 ? averagePacketBytes * n / bandwidth : minimum;
    t = std::max(t, minimum);
    return t * (random01 + 0.5) / kCompensation;
}

uint64_t ntpFromUnixUs(int64_t unixUs) {
    constexpr uint64_t kUnixToNtp = 2208988800ull;  // seconds from 1900 to 1970
    const uint64_t seconds = uint64_t(unixUs / 1000000) + kUnixToNtp;
    const uint64_t fraction = (uint64_t(unixUs % 1000000) << 32) / 1000000;
    return (seconds << 32) | fraction;
}

}  // namespace kallomir
