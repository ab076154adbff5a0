#pragma once

#include "controls/sip/AudioCodec.h"
#include "controls/sip/JitterBuffer.h"
#include "controls/sip/MediaLatch.h"
#include "controls/sip/Rtcp.h"
#include "controls/sip/Rtp.h"
#include "controls/sip/RtpSocket.h"
#include "controls/sip/Sdp.h"
#include "controls/sip/Srtp.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kallomir {

// The audio side of one call: its RTP and RTCP ports, the far end's stream taken, checked,
// decrypted and decoded, placed by timestamp and handed out at the pace of the clock; our
// RTCP reports (and BYE at the end); and what we send to keep the far end and the address
// translators on the way satisfied (a header-only keepalive, or silence in the call's codec).
// Driven from one thread by tick(); it never waits.
class CallMedia {
public:
    // Ticks come this often; the jitter buffer holds one tick more than network jitter.
    static constexpr int kTickMs = 200;

    using AudioSink = std::function<void(std::span<const int16_t> samples, int rate)>;
    using ProblemSink = std::function<void(const QString& text)>;

    // What the far end's description fixed.
    struct Params {
        sockaddr_storage remote{};      // where its RTP comes from and ours goes
        sockaddr_storage signalling{};  // where its SIP came from (family 0: unknown)
        int remoteRtcpPort = 0;         // 0: the RTP port + 1
        bool rtcpMux = false;           // RTCP shares the RTP port
        NegotiatedCodec codec;
        std::vector<int> remotePayloadTypes;
        std::optional<SrtpKey> receiveKey;  // SRTP: the far end's key
        std::optional<SrtpKey> sendKey;     // and ours
        bool sendSilence = false;           // we say sendrecv and send silence in the codec
    };

    struct Counters {
        uint64_t foreignPackets = 0;  // RTP from neither the far end nor a learnt source
        uint64_t otherPayloads = 0;   // RTP with a payload type we did not agree on
        uint64_t otherStreams = 0;    // RTP of another SSRC while the call's stream runs
        uint64_t undecryptable = 0;   // SRTP or SRTCP that failed authentication
        uint64_t undecodable = 0;     // payloads the decoder refused
        uint64_t rtcpSent = 0;
        uint64_t rtcpReceived = 0;
        uint64_t rtcpForeign = 0;   // RTCP from an address that is not the far end's
        uint64_t silenceSent = 0;   // silence packets sent
        uint64_t sendFailures = 0;  // datagrams the system would not send
        bool learntSource = false;  // audio comes from a translated address
    };

    CallMedia(AudioSink sink, ProblemSink problem, std::string cname);
    CallMedia(const CallMedia&) = delete;
    CallMedia& operator=(const CallMedia&) = delete;

    // Binds the RTP/RTCP port pair; 0 or an errno value.
    int open(const sockaddr* local, socklen_t length, int portMin, int portMax);
    int port() const { return rtp_.port(); }

    // Takes the far end's description (again, after a new offer). The first one fixes the
    // rate of the call's audio (8 kHz, or 16 kHz for a wideband codec). False when the
    // codec or the keys cannot be used; nothing changes then.
    bool configure(const Params& params);
    int outputRate() const { return outputRate_; }

    // From now on what the far end sends is the call's: what came before (early media) is
    // dropped, the clock of the audio starts and RTCP begins.
    void start(uint64_t nowMs);
    bool started() const { return started_; }
    // Reads what came, hands out the audio due, sends RTCP, keepalives or silence when due.
    void tick(uint64_t nowMs);
    // Hands out at once everything received so far (the call goes on without a gap).
    void flush(uint64_t nowMs);
    // The end of the call: flush, then our last report with BYE.
    void stop(uint64_t nowMs);

    const Counters& counters() const { return counters_; }
    const JitterBuffer::Stats& audioStats() const;
    const RtpReceiveStats& receiveStats() const { return stats_; }
    uint32_t ourSsrc() const { return ourSsrc_; }

private:
    void receive(uint64_t nowMs, bool keep);
    void takeRtp(const RtpSocket::Datagram& d, uint64_t nowMs);
    void takeRtcp(const RtpSocket::Datagram& d, uint64_t nowMs);
    void produceAudio(uint64_t nowMs);
    void sendReport(uint64_t nowMs, bool bye);
    void scheduleReport(uint64_t nowMs, bool initial);
    void sendSilence(uint64_t nowMs);
    void sendKeepalive(uint64_t nowMs);
    void send(RtpSocket& socket, const sockaddr_storage& to, std::vector<uint8_t>& packet,
              bool rtcp);
    sockaddr_storage rtcpDestination() const;
    uint32_t positionOf(uint32_t timestamp);
    void countForeign(uint64_t& counter, const sockaddr_storage& from, const char* what);

    AudioSink sink_;
    ProblemSink problem_;
    std::string cname_;
    RtpSocket rtp_;
    RtpSocket rtcp_;
    Params params_;
    bool configured_ = false;
    bool started_ = false;
    int outputRate_ = 8000;
    std::unique_ptr<AudioDecoder> decoder_;
    std::unique_ptr<SrtpContext> receiveSrtp_;
    std::unique_ptr<SrtpContext> sendSrtp_;
    std::unique_ptr<JitterBuffer> jitter_;
    SourceLatch source_;
    SsrcLatch ssrc_;
    RtpReceiveStats stats_;
    std::optional<sockaddr_storage> rtcpLearnt_;
    std::vector<int16_t> decoded_, out_;

    // Audio clock and the mapping of the stream's timestamps onto it.
    uint64_t audioStartMs_ = 0;
    uint64_t samplesOut_ = 0;
    bool remap_ = true;
    uint32_t lastTs_ = 0;
    int64_t lastExt_ = 0;
    uint32_t positionBase_ = 0;
    uint32_t lastEndPosition_ = 0;
    uint64_t lastPacketMs_ = 0;

    // What we send.
    uint32_t ourSsrc_ = 0;
    uint16_t sequence_ = 0;
    uint32_t timestamp_ = 0;
    RtpKeepalive keepalive_;
    uint64_t silenceStartMs_ = 0;
    uint64_t silenceFrames_ = 0;
    SilenceFrame silence_;
    uint32_t packetsSent_ = 0;
    uint32_t octetsSent_ = 0;
    uint64_t nextReportMs_ = 0;
    double averageRtcpBytes_ = 100;
    Counters counters_;
};

}  // namespace kallomir
