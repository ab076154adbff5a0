#include "controls/sip/Rtp.h"

#include <algorithm>

namespace kallomir {

namespace {
uint16_t be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
void putBe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void putBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
}  // namespace

std::optional<RtpPacket> parseRtp(std::span<const uint8_t> d) {
    if (d.size() < kRtpHeaderSize || (d[0] >> 6) != 2)
        return std::nullopt;
    const bool padding = d[0] & 0x20;
    const bool extension = d[0] & 0x10;
    const size_t csrcCount = d[0] & 0x0f;
    size_t start = kRtpHeaderSize + 4 * csrcCount;
    if (extension) {
        if (d.size() < start + 4)
            return std::nullopt;
        start += 4 + 4 * size_t(be16(&d[start + 2]));
    }
    size_t end = d.size();
    if (start > end)
        return std::nullopt;
    if (padding) {
        const size_t pad = d[end - 1];
        if (pad == 0 || pad > end - start)
            return std::nullopt;
        end -= pad;
    }
    RtpPacket p;
    p.marker = d[1] & 0x80;
    p.payloadType = d[1] & 0x7f;
    p.sequence = be16(&d[2]);
    p.timestamp = be32(&d[4]);
    p.ssrc = be32(&d[8]);
    p.payload = d.subspan(start, end - start);
    return p;
}

std::array<uint8_t, kRtpHeaderSize> rtpHeader(int payloadType, uint16_t sequence,
                                              uint32_t timestamp, uint32_t ssrc) {
    std::array<uint8_t, kRtpHeaderSize> h{};
    h[0] = 0x80;
    h[1] = uint8_t(payloadType & 0x7f);
    putBe16(&h[2], sequence);
    putBe32(&h[4], timestamp);
    putBe32(&h[8], ssrc);
    return h;
}

int unusedDynamicPayloadType(const std::vector<int>& used) {
    for (int pt = 127; pt >= 96; --pt) {
        if (std::find(used.begin(), used.end(), pt) == used.end())
            return pt;
    }
    return 127;
}

bool RtpKeepalive::due(uint64_t nowMs) {
    if (!running_ || nowMs < next_)
        return false;
    // After a stall (a suspended machine) one keepalive, not a burst of missed ones.
    next_ += periodMs_;
    if (next_ <= nowMs)
        next_ = nowMs + periodMs_;
    return true;
}

}  // namespace kallomir
