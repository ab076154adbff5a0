#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kallomir {

// RTCP (RFC 3550) as a receiver of one stream needs it: the reception statistics of the far
// end's stream, the compound packets we send (receiver or sender report with our name, and
// BYE at the end), what we read from the far end's packets, and the report interval.

// One report block: how our reception of a source went.
struct RtcpReportBlock {
    uint32_t ssrc = 0;
    uint8_t fractionLost = 0;                 // since the previous report, in 1/256
    int32_t cumulativeLost = 0;               // 24-bit signed on the wire
    uint32_t highestSequence = 0;             // extended: cycles in the upper 16 bits
    uint32_t jitter = 0;                      // interarrival jitter in timestamp units
    uint32_t lastSenderReport = 0;            // middle 32 bits of the NTP time of its last SR
    uint32_t delaySinceLastSenderReport = 0;  // in 1/65536 s
};

// Sequence and jitter statistics of the far end's stream (RFC 3550 A.1, A.3, A.8).
class RtpReceiveStats {
public:
    // A new stream (or the same one restarted): its first sequence number.
    void start(uint32_t ssrc, uint16_t sequence);
    bool started() const { return started_; }
    uint32_t ssrc() const { return ssrc_; }
    // Counts one packet. A jump of more than a few thousand is taken as a restart once the
    // next packet confirms it.
    void update(uint16_t sequence);
    // One packet's timestamp and arrival time, for the interarrival jitter.
    void arrival(uint32_t timestamp, int64_t arrivalUs, int clockRate);
    // The far end's latest sender report: when it was sent (NTP) and when it came (ms).
    void senderReport(uint64_t ntp, uint64_t arrivalMs);
    // The block for our next report; resets the counts of "since the previous report".
    RtcpReportBlock report(uint64_t nowMs);

    uint64_t received() const { return received_; }
    uint32_t extendedMax() const { return cycles_ + maxSeq_; }
    int64_t lost() const;
    double jitter() const { return jitter_; }

private:
    bool started_ = false;
    uint32_t ssrc_ = 0;
    uint16_t maxSeq_ = 0;
    uint32_t cycles_ = 0;
    uint32_t baseSeq_ = 0;
    uint32_t badSeq_ = 0;
    uint64_t received_ = 0;
    uint64_t expectedPrior_ = 0;
    uint64_t receivedPrior_ = 0;
    bool haveTransit_ = false;
    int64_t firstArrivalUs_ = 0;
    int64_t transit_ = 0;
    double jitter_ = 0;
    uint32_t lsr_ = 0;
    uint64_t lsrArrivalMs_ = 0;
};

// What we say about ourselves in a sender report.
struct RtcpSenderInfo {
    uint64_t ntp = 0;
    uint32_t rtpTimestamp = 0;
    uint32_t packets = 0;
    uint32_t octets = 0;
};

// A compound packet: a receiver report (or a sender report when sender is given) with at
// most one report block, our CNAME, and a BYE when bye is set.
std::vector<uint8_t> buildRtcp(uint32_t ourSsrc, const std::optional<RtcpSenderInfo>& sender,
                               const std::optional<RtcpReportBlock>& block,
                               const std::string& cname, bool bye);

// What we take from the far end's compound packet.
struct RtcpContent {
    struct SenderReport {
        uint32_t ssrc = 0;
        uint64_t ntp = 0;
    };
    std::optional<SenderReport> senderReport;
    std::vector<uint32_t> byes;  // sources that left
};
// nullopt when the datagram is not a valid compound RTCP packet.
std::optional<RtcpContent> parseRtcp(std::span<const uint8_t> datagram);

// True when a datagram on a port shared by RTP and RTCP is RTCP (RFC 5761).
bool looksLikeRtcp(std::span<const uint8_t> datagram);

// Seconds until our next report (RFC 3550 A.7), random01 in [0, 1): 5 s on average between
// two members, half that before the first report, spread from half to one and a half times.
double rtcpIntervalSeconds(int members, int senders, double rtcpBytesPerSecond, bool weSent,
                           double averagePacketBytes, bool initial, double random01);

// NTP time (seconds since 1900 in the upper 32 bits) of a realtime clock in microseconds.
uint64_t ntpFromUnixUs(int64_t unixUs);

}  // namespace kallomir
