#include "controls/sip/CallMedia.h"

#include <QHostAddress>

#include <chrono>
#include <cstring>
#include <random>

#include <netinet/in.h>

namespace kallomir {

namespace {

constexpr uint64_t kKeepaliveMs = 5000;
constexpr int kFrameMs = 20;
constexpr int kNetworkJitterMs = 40;
constexpr int kMaxSilenceBurst = 25;  // frames; after a stall the stream skips ahead
// 5 % of a voice call's 80 kbit/s (RFC 3550 6.2) in bytes per second.
constexpr double kRtcpBytesPerSecond = 80000.0 * 0.05 / 8;
constexpr double kUdpIpOverhead = 28;

int64_t unixMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

QString endpointText(const sockaddr_storage& a) {
    QHostAddress host(reinterpret_cast<const sockaddr*>(&a));
    const int port = a.ss_family == AF_INET6
                         ? ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port)
                         : ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    return QStringLiteral("%1:%2").arg(host.toString()).arg(port);
}

void setPort(sockaddr_storage& a, int port) {
    if (a.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(uint16_t(port));
    else
        reinterpret_cast<sockaddr_in&>(a).sin_port = htons(uint16_t(port));
}

int portOf(const sockaddr_storage& a) {
    return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port)
                                   : ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

socklen_t lengthOf(const sockaddr_storage& a) {
    return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// The header fields of an RTP packet whose payload may still be encrypted.
struct RtpHead {
    int payloadType;
    uint16_t sequence;
    uint32_t ssrc;
};
std::optional<RtpHead> peekRtp(std::span<const uint8_t> d) {
    if (d.size() < kRtpHeaderSize || (d[0] >> 6) != 2)
        return std::nullopt;
    return RtpHead{
        d[1] & 0x7f, uint16_t((d[2] << 8) | d[3]),
        (uint32_t(d[8]) << 24) | (uint32_t(d[9]) << 16) | (uint32_t(d[10]) << 8) | d[11]};
}

}  // namespace

CallMedia::CallMedia(AudioSink sink, ProblemSink problem, std::string cname)
    : sink_(std::move(sink)),
      problem_(std::move(problem)),
      cname_(std::move(cname)),
      keepalive_(kKeepaliveMs) {
    std::random_device random;
    ourSsrc_ = random();
    sequence_ = uint16_t(random());
    timestamp_ = random();
}

int CallMedia::open(const sockaddr* local, socklen_t length, int portMin, int portMax) {
    return openRtpPair(rtp_, rtcp_, local, length, portMin, portMax);
}

const JitterBuffer::Stats& CallMedia::audioStats() const {
    static const JitterBuffer::Stats none;
    return jitter_ ? jitter_->stats() : none;
}

bool CallMedia::configure(const Params& params) {
    const int rate = configured_ ? outputRate_ : codecInfo(params.codec.kind).audioRate;
    const bool newCodec = !configured_ || !(params.codec == params_.codec);
    std::unique_ptr<AudioDecoder> decoder;
    if (newCodec) {
        decoder = makeDecoder(params.codec.kind, rate);
        if (!decoder)
            return false;
    }
    std::unique_ptr<SrtpContext> receive, send;
    if (params.receiveKey || params.sendKey) {
        if (!params.receiveKey || !params.sendKey)
            return false;
        receive = SrtpContext::make(*params.receiveKey);
        send = SrtpContext::make(*params.sendKey);
        if (!receive || !send)
            return false;
    }
    const bool keysChanged =
        !configured_ || params.receiveKey.has_value() != params_.receiveKey.has_value() ||
        (params.receiveKey && (params.receiveKey->keySalt != params_.receiveKey->keySalt ||
                               params.sendKey->keySalt != params_.sendKey->keySalt));
    if (keysChanged) {
        receiveSrtp_ = std::move(receive);
        sendSrtp_ = std::move(send);
    }
    if (newCodec) {
        decoder_ = std::move(decoder);
        remap_ = true;  // another codec: its timestamps start a new mapping
        silence_ = makeSilenceFrame(params.codec.kind);
    }
    if (!configured_ || !sameEndpoint(params.remote, params_.remote)) {
        source_.expect(params.remote, params.signalling);
        rtcpLearnt_.reset();
    }
    if (!jitter_) {
        outputRate_ = rate;
        const int tickSamples = kTickMs * rate / 1000;
        jitter_ =
            std::make_unique<JitterBuffer>(kNetworkJitterMs * rate / 1000 + tickSamples, 2 * rate);
    }
    const bool startSilence = params.sendSilence && !params_.sendSilence;
    params_ = params;
    configured_ = true;
    if (started_ && startSilence) {
        silenceStartMs_ = 0;  // restarts on the next tick
    }
    return true;
}

void CallMedia::start(uint64_t nowMs) {
    if (started_ || !configured_)
        return;
    started_ = true;
    receive(nowMs, false);  // early media (ringback) is not the call
    audioStartMs_ = nowMs;
    samplesOut_ = 0;
    keepalive_.start(nowMs);
    silenceStartMs_ = 0;
    scheduleReport(nowMs, true);
    if (params_.sendSilence)
        sendSilence(nowMs);
    else
        sendKeepalive(nowMs);
}

void CallMedia::tick(uint64_t nowMs) {
    if (!started_)
        return;
    receive(nowMs, true);
    produceAudio(nowMs);
    if (params_.sendSilence)
        sendSilence(nowMs);
    else
        sendKeepalive(nowMs);
    if (nowMs >= nextReportMs_) {
        sendReport(nowMs, false);
        scheduleReport(nowMs, false);
    }
}

void CallMedia::flush(uint64_t nowMs) {
    if (!started_)
        return;
    // The far end's last words: what came since the last tick and what the jitter buffer
    // still holds.
    receive(nowMs, true);
    produceAudio(nowMs);
    out_.clear();
    jitter_->drain(out_);
    if (!out_.empty())
        sink_(out_, outputRate_);
    // Handed out ahead of time: the ticks wait until the clock has caught up, while the
    // buffer fills again, so a call that goes on continues without a gap or a repeat.
    samplesOut_ += out_.size();
}

void CallMedia::stop(uint64_t nowMs) {
    if (!started_)
        return;
    flush(nowMs);
    sendReport(nowMs, true);
    started_ = false;
}

void CallMedia::receive(uint64_t nowMs, bool keep) {
    // Bounded, so that a flood cannot hold the thread: 50 packets a second of audio leave
    // the socket in one or two reads.
    for (RtpSocket* socket : {&rtp_, &rtcp_}) {
        for (int batch = 0; batch < 64; ++batch) {
            for (const RtpSocket::Datagram& d : socket->receive()) {
                if (!keep)
                    continue;
                if (socket == &rtcp_ || (params_.rtcpMux && looksLikeRtcp(d.bytes)))
                    takeRtcp(d, nowMs);
                else
                    takeRtp(d, nowMs);
            }
            if (!socket->more())
                break;
        }
    }
}

void CallMedia::countForeign(uint64_t& counter, const sockaddr_storage& from, const char* what) {
    const uint64_t n = ++counter;
    if (n == 1 || n % 500 == 0) {
        problem_(QStringLiteral("%1 from unexpected source %2 ignored (%3 so far)")
                     .arg(QLatin1String(what), endpointText(from))
                     .arg(n));
    }
}

void CallMedia::takeRtp(const RtpSocket::Datagram& d, uint64_t nowMs) {
    const auto head = peekRtp(d.bytes);
    if (!head)
        return;  // not RTP: a STUN check or noise
    const SourceLatch::Verdict where = source_.check(*d.from);
    if (where == SourceLatch::Verdict::Foreign) {
        countForeign(counters_.foreignPackets, *d.from, "RTP");
        return;
    }
    if (head->payloadType != params_.codec.payloadType) {
        if (++counters_.otherPayloads == 1) {
            problem_(QStringLiteral("ignoring RTP payload type %1").arg(head->payloadType));
        }
        return;
    }
    if (ssrc_.check(head->ssrc, nowMs) == SsrcLatch::Verdict::Reject) {
        const uint64_t n = ++counters_.otherStreams;
        if (n == 1 || n % 500 == 0) {
            problem_(QStringLiteral("RTP of another stream (SSRC %1) ignored while the call's "
                                    "stream runs (%2 so far)")
                         .arg(head->ssrc, 8, 16, QLatin1Char('0'))
                         .arg(n));
        }
        return;
    }
    std::span<uint8_t> bytes = d.bytes;
    if (receiveSrtp_) {
        int err = receiveSrtp_->unprotectRtp(bytes);
        if (err == ENOSR || err == ENOMEM) {
            // libre keeps a few streams per context; forged SSRCs may have filled them.
            receiveSrtp_->restart();
            bytes = d.bytes;
            err = receiveSrtp_->unprotectRtp(bytes);
        }
        if (err != 0) {
            const uint64_t n = ++counters_.undecryptable;
            if (n == 1 || n % 500 == 0) {
                problem_(QStringLiteral("SRTP from %1 not authentic (%2 so far)")
                             .arg(endpointText(*d.from))
                             .arg(n));
            }
            return;
        }
    }
    const auto packet = parseRtp(bytes);
    if (!packet)
        return;
    // Genuine RTP of the call from here on.
    source_.confirm(*d.from, packet->ssrc, packet->sequence);
    if (source_.check(*d.from) != SourceLatch::Verdict::Accept)
        return;  // still learning where a translated far end sends from
    if (where == SourceLatch::Verdict::Learning && !counters_.learntSource) {
        counters_.learntSource = true;
        problem_(QStringLiteral("far end's audio comes from %1, not the address it gave")
                     .arg(endpointText(*d.from)));
    }
    bool switched = false;
    if (!ssrc_.confirm(packet->ssrc, packet->sequence, nowMs, &switched))
        return;
    if (switched) {
        if (stats_.started()) {
            problem_(QStringLiteral("far end restarted its stream"));
            remap_ = true;
        }
        stats_.start(packet->ssrc, packet->sequence);
    } else {
        stats_.update(packet->sequence);
    }
    const CodecInfo& info = codecInfo(params_.codec.kind);
    stats_.arrival(packet->timestamp, d.arrivalUs, info.clockRate);

    decoded_.clear();
    if (!decoder_->decode(packet->payload, decoded_)) {
        ++counters_.undecodable;
        return;
    }
    if (remap_) {
        // A new stream or codec: its timestamps carry on from where the old ones ended,
        // plus the time that passed.
        const uint32_t gap =
            uint32_t(lastPacketMs_ ? (nowMs - lastPacketMs_) * uint64_t(outputRate_) / 1000 : 0);
        positionBase_ = lastEndPosition_ + gap;
        lastTs_ = packet->timestamp;
        lastExt_ = 0;
        remap_ = false;
    }
    const uint32_t position = positionOf(packet->timestamp);
    jitter_->push(position, decoded_);
    const uint32_t end = position + uint32_t(decoded_.size());
    if (int32_t(end - lastEndPosition_) > 0 || lastPacketMs_ == 0)
        lastEndPosition_ = end;
    lastPacketMs_ = nowMs;
}

uint32_t CallMedia::positionOf(uint32_t timestamp) {
    const int64_t ext = lastExt_ + int32_t(timestamp - lastTs_);
    if (ext > lastExt_) {
        lastExt_ = ext;
        lastTs_ = timestamp;
    }
    const int clock = codecInfo(params_.codec.kind).clockRate;
    return positionBase_ + uint32_t(ext * outputRate_ / clock);
}

void CallMedia::takeRtcp(const RtpSocket::Datagram& d, uint64_t nowMs) {
    if (!sameHost(*d.from, source_.remote())) {
        countForeign(counters_.rtcpForeign, *d.from, "RTCP");
        return;
    }
    std::span<uint8_t> bytes = d.bytes;
    if (receiveSrtp_ && receiveSrtp_->unprotectRtcp(bytes) != 0) {
        ++counters_.undecryptable;
        return;
    }
    const auto content = parseRtcp(bytes);
    if (!content)
        return;
    ++counters_.rtcpReceived;
    // Behind address translation the far end's RTCP port is the one its reports come from.
    // Otherwise the described port stays: a forged report must not divert ours.
    if (source_.learnt())
        rtcpLearnt_ = *d.from;
    if (content->senderReport && (!ssrc_.has() || content->senderReport->ssrc == ssrc_.current())) {
        stats_.senderReport(content->senderReport->ntp, nowMs);
    }
    for (uint32_t gone : content->byes) ssrc_.ended(gone);
}

void CallMedia::produceAudio(uint64_t nowMs) {
    // Paced by the monotonic clock, not by timer ticks, which drift and bunch up.
    const int frame = kFrameMs * outputRate_ / 1000;
    const uint64_t due = (nowMs - audioStartMs_) * uint64_t(outputRate_) / 1000;
    if (samplesOut_ + uint64_t(frame) > due)
        return;
    const uint64_t count = (due - samplesOut_) / uint64_t(frame) * uint64_t(frame);
    out_.clear();
    jitter_->pull(int(count), out_);
    sink_(out_, outputRate_);
    samplesOut_ += count;
}

sockaddr_storage CallMedia::rtcpDestination() const {
    if (rtcpLearnt_)
        return *rtcpLearnt_;
    sockaddr_storage to = source_.remote();
    if (params_.rtcpMux)
        return to;
    if (params_.remoteRtcpPort > 0 && !source_.learnt())
        setPort(to, params_.remoteRtcpPort);
    else
        setPort(to, portOf(to) + 1);
    return to;
}

void CallMedia::scheduleReport(uint64_t nowMs, bool initial) {
    static thread_local std::mt19937 random{std::random_device{}()};
    const double r = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    const int senders = params_.sendSilence ? 2 : 1;
    const double seconds = rtcpIntervalSeconds(2, senders, kRtcpBytesPerSecond, params_.sendSilence,
                                               averageRtcpBytes_, initial, r);
    nextReportMs_ = nowMs + uint64_t(seconds * 1000);
}

void CallMedia::sendReport(uint64_t nowMs, bool bye) {
    std::optional<RtcpReportBlock> block;
    if (stats_.started())
        block = stats_.report(nowMs);
    std::optional<RtcpSenderInfo> sender;
    if (params_.sendSilence && packetsSent_ > 0) {
        sender = RtcpSenderInfo{ntpFromUnixUs(unixMicroseconds()), timestamp_, packetsSent_,
                                octetsSent_};
    }
    std::vector<uint8_t> packet = buildRtcp(ourSsrc_, sender, block, cname_, bye);
    averageRtcpBytes_ += (double(packet.size()) + kUdpIpOverhead - averageRtcpBytes_) / 16;
    send(params_.rtcpMux ? rtp_ : rtcp_, rtcpDestination(), packet, true);
    ++counters_.rtcpSent;
}

void CallMedia::sendSilence(uint64_t nowMs) {
    if (silence_.payload.empty())
        return;
    if (silenceStartMs_ == 0) {
        silenceStartMs_ = nowMs;
        silenceFrames_ = 0;
    }
    uint64_t due = (nowMs - silenceStartMs_) / kFrameMs + 1;
    if (due - silenceFrames_ > uint64_t(kMaxSilenceBurst)) {
        // After a stall, carry on from now rather than send a burst of the past.
        timestamp_ += uint32_t((due - silenceFrames_ - 1) * silence_.timestampStep);
        silenceFrames_ = due - 1;
    }
    std::vector<uint8_t> packet;
    for (; silenceFrames_ < due; ++silenceFrames_) {
        const auto header = rtpHeader(params_.codec.payloadType, sequence_++, timestamp_, ourSsrc_);
        packet.assign(header.begin(), header.end());
        if (silenceFrames_ == 0)
            packet[1] |= 0x80;  // marker: the start of our stream
        packet.insert(packet.end(), silence_.payload.begin(), silence_.payload.end());
        timestamp_ += silence_.timestampStep;
        send(rtp_, source_.remote(), packet, false);
        ++packetsSent_;
        octetsSent_ += uint32_t(silence_.payload.size());
        ++counters_.silenceSent;
    }
}

void CallMedia::sendKeepalive(uint64_t nowMs) {
    if (!keepalive_.due(nowMs))
        return;
    // A payload number the far end did not list, with no payload: discarded unheard.
    std::vector<int> used = params_.remotePayloadTypes;
    used.push_back(params_.codec.payloadType);
    const auto header = rtpHeader(unusedDynamicPayloadType(used), sequence_++,
                                  timestamp_ + uint32_t((nowMs - audioStartMs_) * 8), ourSsrc_);
    std::vector<uint8_t> packet(header.begin(), header.end());
    send(rtp_, source_.remote(), packet, false);
}

void CallMedia::send(RtpSocket& socket, const sockaddr_storage& to, std::vector<uint8_t>& packet,
                     bool rtcp) {
    if (sendSrtp_) {
        const int err = rtcp ? sendSrtp_->protectRtcp(packet) : sendSrtp_->protectRtp(packet);
        if (err != 0) {
            ++counters_.sendFailures;
            return;
        }
    }
    if (const int err =
            socket.sendTo(reinterpret_cast<const sockaddr*>(&to), lengthOf(to), packet)) {
        if (++counters_.sendFailures == 1) {
            problem_(QStringLiteral("%1 not sent to %2 (%3)")
                         .arg(rtcp ? QStringLiteral("RTCP") : QStringLiteral("RTP"),
                              endpointText(to), QString::fromLocal8Bit(std::strerror(err))));
        }
    }
}

}  // namespace kallomir
