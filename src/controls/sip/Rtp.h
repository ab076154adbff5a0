#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kallomir {

// The fields of one RTP packet a receiver uses; payload points into the datagram.
struct RtpPacket {
    int payloadType = 0;
    bool marker = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::span<const uint8_t> payload;
};

// Reads an RTP version 2 packet, skipping contributing sources, a header extension and
// padding; nullopt for anything else (a cut-short datagram, another protocol on the port).
std::optional<RtpPacket> parseRtp(std::span<const uint8_t> datagram);

constexpr size_t kRtpHeaderSize = 12;

// A header-only RTP packet: the keepalive of a stream we do not send on.
std::array<uint8_t, kRtpHeaderSize> rtpHeader(int payloadType, uint16_t sequence,
                                              uint32_t timestamp, uint32_t ssrc);

// A dynamic payload number the far end listed for nothing, so that it discards our
// keepalives unheard: the highest free number from 127 down to 96, or 127 when all are used.
int unusedDynamicPayloadType(const std::vector<int>& used);

// When to send a keepalive on a stream we only receive: at once when started (a far end
// behind NAT, or one that waits for our first packet before it sends, learns our address),
// then once per period so that the NAT bindings on the way stay open.
class RtpKeepalive {
public:
    explicit RtpKeepalive(uint64_t periodMs) : periodMs_(periodMs) {}
    void start(uint64_t nowMs) {
        running_ = true;
        next_ = nowMs;
    }
    void stop() { running_ = false; }
    // True when a keepalive is due now; the next one is then a period later.
    bool due(uint64_t nowMs);
    uint64_t periodMs() const { return periodMs_; }

private:
    uint64_t periodMs_;
    uint64_t next_ = 0;
    bool running_ = false;
};

}  // namespace kallomir
