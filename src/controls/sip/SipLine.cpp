#include "controls/sip/SipLine.h"

#include "controls/TelephonyControl.h"
#include "controls/sip/G711.h"
#include "controls/sip/ReHeaders.h"
#include "controls/sip/ReLoop.h"
#include "controls/sip/Rtp.h"
#include "controls/sip/RtpSocket.h"
#include "controls/sip/Sdp.h"
#include "core/RuntimeError.h"

#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <random>

namespace kallomir {

namespace {

Q_LOGGING_CATEGORY(lcSipLine, "kallomir.sip")

constexpr int kFrameSamples = 160;  // 20 ms at 8 kHz
// A connected call wakes the SIP thread once per tick, not once per packet: the tick reads
// every RTP packet queued since the last one and hands the audio due by the clock to the
// recorder in one piece, which wakes the recorder's writer once too. Each wake-up costs more
// than the work it does; a recording does not mind the audio arriving a tick late.
constexpr int kMediaTickMs = 200;
// Packets reach the jitter buffer a tick at a time, so it holds a tick more than the 40 ms
// that absorb the network's own jitter.
constexpr int kPreBufferSamples = 320 + kMediaTickMs * kG711SampleRate / 1000;
// We only receive; a header-only packet this often keeps NAT bindings open.
constexpr uint64_t kKeepaliveMs = 5000;
constexpr int kMaxProblems = 20;

QString plText(const pl& p) {
    return QString::fromUtf8(p.p, int(p.l));
}

QByteArray bodyOf(const sip_msg* msg) {
    if (!msg || !msg->mb)
        return {};
    return QByteArray(reinterpret_cast<const char*>(mbuf_buf(msg->mb)),
                      int(mbuf_get_left(msg->mb)));
}

mbuf* toMbuf(const QByteArray& bytes) {
    mbuf* mb = mbuf_alloc(size_t(bytes.size()));
    if (!mb)
        return nullptr;
    mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    mb->pos = 0;
    return mb;
}

// Printable text only: what reaches the recorder's notify event comes from the far end.
QString printable(QString text) {
    text.remove(u'"');
    for (QChar& c : text) {
        if (!c.isPrint())
            c = u' ';
    }
    return text.trimmed().left(64);
}

QString describeClose(int err, const sip_msg* msg) {
    if (err == ECONNRESET)
        return QStringLiteral("far end hung up");
    if (err)
        return QStringLiteral("ended: %1").arg(QString::fromLocal8Bit(std::strerror(err)));
    if (msg)
        return QStringLiteral("ended: %1 %2").arg(msg->scode).arg(plText(msg->reason));
    return QStringLiteral("ended");
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Everything below the public functions runs on the SIP thread.

struct SipLine::Call {
    Device* dev = nullptr;
    bool incoming = true;
    bool answered = false;
    bool established = false;
    sipsess* sess = nullptr;
    RtpSocket rtp;
    NegotiatedCodec codec;
    sa remote{};
    MediaDirection remoteDirection = MediaDirection::SendRecv;
    std::vector<int> remotePayloadTypes;
    tmr ringTimer{};
    tmr mediaTimer{};
    int rings = 0;
    JitterBuffer jitter{kPreBufferSamples};
    bool haveSsrc = false;
    uint32_t ssrc = 0;
    uint64_t audioStartMs = 0;
    uint64_t samplesOut = 0;
    std::vector<int16_t> farEnd, decoded;
    RtpKeepalive keepalive{kKeepaliveMs};
    uint32_t ourSsrc = 0;
    uint16_t keepaliveSeq = 0;

    explicit Call(Device* d) : dev(d) {
        tmr_init(&ringTimer);
        tmr_init(&mediaTimer);
        std::random_device random;
        ourSsrc = random();
        keepaliveSeq = uint16_t(random());
    }
    ~Call() {
        tmr_cancel(&ringTimer);
        tmr_cancel(&mediaTimer);
        sess = static_cast<sipsess*>(mem_deref(sess));  // BYE or CANCEL when still up
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    bool setRemote(const SdpAudio& sdp) {
        sa addr{};
        if (sa_set_str(&addr, sdp.address.toLatin1().constData(), uint16_t(sdp.port)) != 0) {
            return false;
        }
        remote = addr;
        remoteDirection = sdp.direction;
        remotePayloadTypes.clear();
        for (const SdpAudio::Format& f : sdp.formats) remotePayloadTypes.push_back(f.payloadType);
        return true;
    }

    static void onRing(void* arg);
    static void onMediaTick(void* arg);
    static int onOffer(mbuf** descp, const sip_msg* msg, void* arg);
    static int onAnswer(const sip_msg* msg, void* arg);
    static void onProgress(const sip_msg* msg, void* arg);
    static void onEstablished(const sip_msg* msg, void* arg);
    static void onClose(int err, const sip_msg* msg, void* arg);

    // Follows the far end's SDP if it still speaks one of our codecs; a logged refusal if not.
    bool takeRemoteSdp(const sip_msg* msg, const QString& refusal);
    void receiveMedia(bool keep);
    void takePacket(const sockaddr_storage& from, std::span<const uint8_t> datagram);
    void produceAudio();
    void flushAudio();
    void sendKeepaliveIfDue();
};

struct SipLine::Device {
    SipLine* line = nullptr;
    int index = 0;
    SipLineConfig cfg;
    std::atomic<bool> open{false};
    std::atomic<bool> connected{false};

    // SIP thread only.
    dnsc* dns = nullptr;
    sip* stack = nullptr;
    sipsess_sock* sock = nullptr;
    sip_lsnr* optionsListener = nullptr;
    sipreg* reg = nullptr;
    sa laddr{};
    QByteArray mediaAddress;
    QByteArray cuser;
    QByteArray aor;
    std::unique_ptr<Call> call;
    std::vector<std::unique_ptr<Call>> ended;  // released on the next loop turn
    tmr reaper{};
    uint64_t sessionId = 0;
    uint64_t sdpVersion = 0;
    Diagnostics diag;
    mutable std::mutex diagMutex;  // diag is read from the GUI thread

    Device() { tmr_init(&reaper); }

    void problem(const QString& text) {
        qCWarning(lcSipLine).noquote() << cfg.name << ':' << text;
        std::lock_guard lock(diagMutex);
        diag.problems << text;
        while (diag.problems.size() > kMaxProblems) diag.problems.removeFirst();
    }
    void info(const QString& text) const { qCInfo(lcSipLine).noquote() << cfg.name << ':' << text; }
    template <typename F>
    void updateDiag(F&& f) {
        std::lock_guard lock(diagMutex);
        f(diag);
    }

    void start();
    void stop();
    void endCall(bool report, const QString& why);
    int newRtpSocket(Call& c);
    QByteArray localSdp(const std::vector<NegotiatedCodec>& codecs, MediaDirection direction,
                        const Call& c);

    static void onInvite(const sip_msg* msg, void* arg);
    static bool onRequest(const sip_msg* msg, void* arg);
    static int onAuth(char** user, char** password, const char* realm, void* arg);
    static void onRegisterReply(int err, const sip_msg* msg, void* arg);
    static void onReap(void* arg);
};

void SipLine::Device::start() {
    if (stack)
        return;
    QByteArray listen = cfg.listenAddress.toLatin1();
    int err = sa_set_str(&laddr, listen.constData(), uint16_t(cfg.listenPort));
    if (err == 0 && sa_is_any(&laddr)) {
        // Our SIP address and SDP must name a reachable address, never 0.0.0.0.
        sa ip{};
        err = net_default_source_addr_get(sa_af(&laddr), &ip);
        if (err == 0) {
            sa_set_port(&ip, uint16_t(cfg.listenPort));
            laddr = ip;
        }
    }
    if (err != 0) {
        throw RuntimeError(kLineDeviceError,
                           QStringLiteral("%1: no usable listen address").arg(cfg.name));
    }
    char addrText[64] = {};
    sa_ntop(&laddr, addrText, sizeof addrText);
    mediaAddress =
        cfg.advertisedAddress.isEmpty() ? QByteArray(addrText) : cfg.advertisedAddress.toLatin1();
    cuser = cfg.user.toUtf8();

    // DNS is only needed for a registrar or dialled addresses given by name.
    sa nameServers[4];
    uint32_t nsCount = 4;
    if (dns_srv_get(nullptr, 0, nameServers, &nsCount) == 0 && nsCount > 0) {
        if (dnsc_alloc(&dns, nullptr, nameServers, nsCount) != 0)
            dns = nullptr;
    }
    err = sip_alloc(&stack, dns, 32, 32, 32, "Kallomir", nullptr, nullptr);
    if (err == 0)
        err = sip_transp_add(stack, SIP_TRANSP_UDP, &laddr);
    if (err == 0)
        err = sipsess_listen(&sock, stack, 32, &Device::onInvite, this);
    if (err == 0)
        err = sip_listen(&optionsListener, stack, true, &Device::onRequest, this);
    if (err != 0) {
        stop();
        throw RuntimeError(kLineDeviceError, QStringLiteral("%1: cannot listen on %2:%3 (%4)")
                                                 .arg(cfg.name, QString::fromLatin1(addrText))
                                                 .arg(cfg.listenPort)
                                                 .arg(QString::fromLocal8Bit(std::strerror(err))));
    }
    sessionId = std::random_device{}();
    updateDiag([&](Diagnostics& d) {
        d.listening = true;
        d.sipPort = sa_port(&laddr);
    });
    info(QStringLiteral("listening on %1:%2")
             .arg(QString::fromLatin1(addrText))
             .arg(cfg.listenPort));

    if (!cfg.registrar.isEmpty()) {
        QString host = cfg.domain;
        if (host.isEmpty())
            host = cfg.registrar.mid(4).section(u';', 0, 0);
        aor = (QStringLiteral("sip:") + cfg.user + u'@' + host).toUtf8();
        err = sipreg_register(&reg, stack, cfg.registrar.toUtf8().constData(), aor.constData(),
                              nullptr, aor.constData(), uint32_t(cfg.registerInterval),
                              cuser.constData(), nullptr, 0, 0, &Device::onAuth, this, false,
                              &Device::onRegisterReply, this, nullptr, nullptr);
        if (err != 0) {
            problem(QStringLiteral("registration with %1 not started (%2)")
                        .arg(cfg.registrar, QString::fromLocal8Bit(std::strerror(err))));
        }
    }
}

void SipLine::Device::stop() {
    call.reset();
    ended.clear();
    tmr_cancel(&reaper);
    reg = static_cast<sipreg*>(mem_deref(reg));
    optionsListener = static_cast<sip_lsnr*>(mem_deref(optionsListener));
    sock = static_cast<sipsess_sock*>(mem_deref(sock));
    if (stack)
        sip_close(stack, true);
    stack = static_cast<sip*>(mem_deref(stack));
    dns = static_cast<dnsc*>(mem_deref(dns));
    connected = false;
    updateDiag([](Diagnostics& d) { d.listening = false; });
}

void SipLine::Device::endCall(bool report, const QString& why) {
    if (!call)
        return;
    const bool wasConnected = call->established;
    info(why);
    tmr_cancel(&call->ringTimer);
    tmr_cancel(&call->mediaTimer);
    if (wasConnected)
        call->flushAudio();
    updateDiag([&](Diagnostics& d) { d.audio = call->jitter.stats(); });
    connected = false;
    // The session may be the one calling us: release it on the next loop turn.
    ended.push_back(std::move(call));
    tmr_start(&reaper, 0, &Device::onReap, this);
    if (report) {
        if (wasConnected)
            line->reportDisconnected(index);
        line->reportIdle(index);
    }
}

void SipLine::Device::onReap(void* arg) {
    static_cast<Device*>(arg)->ended.clear();
}

int SipLine::Device::newRtpSocket(Call& c) {
    return c.rtp.open(&laddr.u.sa, laddr.len, cfg.rtpPortMin, cfg.rtpPortMax);
}

QByteArray SipLine::Device::localSdp(const std::vector<NegotiatedCodec>& codecs,
                                     MediaDirection direction, const Call& c) {
    return buildSdp(QString::fromLatin1(mediaAddress), c.rtp.port(), codecs, direction, sessionId,
                    ++sdpVersion);
}

bool SipLine::Device::onRequest(const sip_msg* msg, void* arg) {
    auto* dev = static_cast<Device*>(arg);
    if (pl_strcmp(&msg->met, "OPTIONS") != 0)
        return false;
    sip_reply(dev->stack, msg, 200, "OK");
    return true;
}

void SipLine::Device::onInvite(const sip_msg* msg, void* arg) {
    auto* dev = static_cast<Device*>(arg);
    auto refuse = [&](uint16_t code, const char* reason, const QString& why) {
        dev->problem(QStringLiteral("call from %1 refused with %2: %3")
                         .arg(plText(msg->from.auri))
                         .arg(code)
                         .arg(why));
        dev->updateDiag([](Diagnostics& d) { ++d.refusedCalls; });
        sip_treply(nullptr, dev->stack, msg, code, reason);
    };
    if (!dev->open)
        return refuse(480, "Temporarily Unavailable", QStringLiteral("line closed"));
    if (dev->call)
        return refuse(486, "Busy Here", QStringLiteral("a call is already up"));

    const QByteArray body = bodyOf(msg);
    if (body.isEmpty()) {
        return refuse(488, "Not Acceptable Here", QStringLiteral("no session description"));
    }
    QString sdpProblem;
    const auto offer = parseSdp(body, &sdpProblem);
    if (!offer) {
        return refuse(488, "Not Acceptable Here", QStringLiteral("bad SDP: ") + sdpProblem);
    }
    const auto codec = negotiateAudio(*offer, dev->cfg.codecs);
    if (!codec)
        return refuse(488, "Not Acceptable Here", QStringLiteral("no common codec"));

    auto c = std::make_unique<Call>(dev);
    c->incoming = true;
    c->codec = *codec;
    if (!c->setRemote(*offer)) {
        return refuse(488, "Not Acceptable Here", QStringLiteral("bad media address"));
    }
    if (int err = dev->newRtpSocket(*c)) {
        return refuse(
            503, "Service Unavailable",
            QStringLiteral("no RTP port (%1)").arg(QString::fromLocal8Bit(std::strerror(err))));
    }
    const int err = sipsess_accept(&c->sess, dev->sock, msg, 180, "Ringing", dev->cuser.constData(),
                                   "application/sdp", nullptr, nullptr, nullptr, false,
                                   &Call::onOffer, &Call::onAnswer, &Call::onEstablished, nullptr,
                                   nullptr, &Call::onClose, c.get(), nullptr);
    if (err != 0) {
        c->sess = nullptr;
        return refuse(500, "Server Internal Error", QStringLiteral("session not accepted"));
    }
    dev->call = std::move(c);
    Call& call = *dev->call;

    const QString number = printable(plText(msg->from.uri.user));
    const QString name = printable(plText(msg->from.dname));
    dev->info(QStringLiteral("call from %1, %2")
                  .arg(plText(msg->from.auri), call.codec.law == G711Law::MuLaw ? "PCMU" : "PCMA"));
    QString callerId =
        QStringLiteral("CALLERID ") + (number.isEmpty() ? QStringLiteral("-") : number);
    if (!name.isEmpty())
        callerId += QStringLiteral(" \"") + name + u'"';
    dev->line->reportNotify(dev->index, callerId);
    call.rings = 1;
    dev->line->reportRing(dev->index, 1);
    // A receiver that answers (or drops) inside the ring event has already moved on.
    if (dev->call.get() == &call && !call.answered) {
        tmr_start(&call.ringTimer, uint64_t(dev->cfg.ringPeriodMs), &Call::onRing, &call);
    }
}

int SipLine::Device::onAuth(char** user, char** password, const char* realm, void* arg) {
    auto* dev = static_cast<Device*>(arg);
    const QByteArray u = (dev->cfg.authUser.isEmpty() ? dev->cfg.user : dev->cfg.authUser).toUtf8();
    const QByteArray p = dev->cfg.password.toUtf8();
    dev->info(QStringLiteral("authenticating for realm %1").arg(QString::fromUtf8(realm)));
    int err = str_dup(user, u.constData());
    if (err == 0)
        err = str_dup(password, p.constData());
    return err;
}

void SipLine::Device::onRegisterReply(int err, const sip_msg* msg, void* arg) {
    auto* dev = static_cast<Device*>(arg);
    if (err != 0) {
        dev->problem(QStringLiteral("registration failed: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(err))));
        dev->updateDiag([](Diagnostics& d) { d.registered = false; });
        return;
    }
    if (msg->scode >= 200 && msg->scode < 300) {
        dev->info(QStringLiteral("registered with %1").arg(dev->cfg.registrar));
        dev->updateDiag([](Diagnostics& d) { d.registered = true; });
    } else if (msg->scode >= 300) {
        dev->problem(
            QStringLiteral("registration refused: %1 %2").arg(msg->scode).arg(plText(msg->reason)));
        dev->updateDiag([](Diagnostics& d) { d.registered = false; });
    }
}

void SipLine::Call::onRing(void* arg) {
    auto* c = static_cast<Call*>(arg);
    Device* dev = c->dev;
    ++c->rings;
    tmr_start(&c->ringTimer, uint64_t(dev->cfg.ringPeriodMs), &Call::onRing, c);
    dev->line->reportRing(dev->index, c->rings);
}

void SipLine::Call::receiveMedia(bool keep) {
    // Bounded, so that a flood cannot hold the SIP thread: 50 packets a second of audio
    // leave the socket in one or two reads.
    for (int batch = 0; batch < 64; ++batch) {
        for (const RtpSocket::Datagram& d : rtp.receive()) {
            if (keep)
                takePacket(*d.from, d.bytes);
        }
        if (!rtp.more())
            break;
    }
}

void SipLine::Call::takePacket(const sockaddr_storage& from, std::span<const uint8_t> datagram) {
    sa src{};
    sa_set_sa(&src, reinterpret_cast<const sockaddr*>(&from));
    if (!sa_cmp(&src, &remote, SA_ADDR)) {
        uint64_t n = 0;
        dev->updateDiag([&](Diagnostics& d) { n = ++d.foreignPackets; });
        if (n == 1 || n % 500 == 0) {
            char text[64] = {};
            re_snprintf(text, sizeof text, "%J", &src);
            dev->problem(QStringLiteral("RTP from unexpected source %1 ignored (%2 so far)")
                             .arg(QString::fromLatin1(text))
                             .arg(n));
        }
        return;
    }
    const auto packet = parseRtp(datagram);
    if (!packet)
        return;  // not RTP: a STUN check or noise
    if (packet->payloadType != codec.payloadType) {
        uint64_t n = 0;
        dev->updateDiag([&](Diagnostics& d) { n = ++d.otherPayloads; });
        if (n == 1)
            dev->info(QStringLiteral("ignoring RTP payload type %1").arg(packet->payloadType));
        return;
    }
    if (!haveSsrc || packet->ssrc != ssrc) {
        if (haveSsrc)
            dev->info(QStringLiteral("far end restarted its stream"));
        jitter.reset();
        ssrc = packet->ssrc;
        haveSsrc = true;
    }
    decoded.clear();
    decodeG711(codec.law, packet->payload, decoded);
    jitter.push(packet->timestamp, decoded);
}

void SipLine::Call::produceAudio() {
    // Paced by the monotonic clock, not by timer ticks, which drift and bunch up.
    const uint64_t due = (tmr_jiffies() - audioStartMs) * kG711SampleRate / 1000;
    if (samplesOut + kFrameSamples > due)
        return;
    const uint64_t count = (due - samplesOut) / kFrameSamples * kFrameSamples;
    farEnd.clear();
    jitter.pull(int(count), farEnd);
    dev->line->deliverAudio(dev->index, farEnd, kG711SampleRate);
    samplesOut += count;
}

void SipLine::Call::flushAudio() {
    // The far end's last words: what came since the last tick and what the jitter buffer
    // still holds.
    receiveMedia(true);
    produceAudio();
    farEnd.clear();
    jitter.drain(farEnd);
    if (!farEnd.empty())
        dev->line->deliverAudio(dev->index, farEnd, kG711SampleRate);
    // Handed out ahead of time: the ticks wait until the clock has caught up, while the
    // buffer fills again, so a call that goes on continues without a gap or a repeat.
    samplesOut += farEnd.size();
}

void SipLine::Call::sendKeepaliveIfDue() {
    if (!keepalive.due(tmr_jiffies()))
        return;
    // A payload number the far end did not list, with no payload: discarded unheard.
    std::vector<int> used = remotePayloadTypes;
    used.push_back(codec.payloadType);
    const uint32_t timestamp = uint32_t((tmr_jiffies() - audioStartMs) * kG711SampleRate / 1000);
    const auto packet =
        rtpHeader(unusedDynamicPayloadType(used), keepaliveSeq++, timestamp, ourSsrc);
    if (const int err = rtp.sendTo(&remote.u.sa, remote.len, packet)) {
        uint64_t n = 0;
        dev->updateDiag([&](Diagnostics& d) { n = ++d.keepalivesFailed; });
        if (n == 1) {
            dev->problem(QStringLiteral("RTP keepalive not sent (%1)")
                             .arg(QString::fromLocal8Bit(std::strerror(err))));
        }
    }
}

void SipLine::Call::onMediaTick(void* arg) {
    auto* c = static_cast<Call*>(arg);
    c->receiveMedia(true);
    c->produceAudio();
    c->sendKeepaliveIfDue();
    tmr_start(&c->mediaTimer, kMediaTickMs, &Call::onMediaTick, c);
}

int SipLine::Call::onOffer(mbuf** descp, const sip_msg* msg, void* arg) {
    // A re-INVITE (hold, address change): follow the far end if it still speaks G.711.
    auto* c = static_cast<Call*>(arg);
    if (!c->takeRemoteSdp(msg, QStringLiteral("new offer refused")))
        return EPROTO;
    *descp = toMbuf(c->dev->localSdp({c->codec}, answerDirection(c->remoteDirection), *c));
    return *descp ? 0 : ENOMEM;
}

int SipLine::Call::onAnswer(const sip_msg* msg, void* arg) {
    auto* c = static_cast<Call*>(arg);
    return c->takeRemoteSdp(msg, QStringLiteral("answer unusable")) ? 0 : EPROTO;
}

bool SipLine::Call::takeRemoteSdp(const sip_msg* msg, const QString& refusal) {
    QString why;
    const auto sdp = parseSdp(bodyOf(msg), &why);
    const auto chosen = sdp ? negotiateAudio(*sdp, dev->cfg.codecs) : std::nullopt;
    if (!sdp || !chosen || !setRemote(*sdp)) {
        dev->problem(
            QStringLiteral("%1: %2").arg(refusal, sdp ? QStringLiteral("no common codec") : why));
        return false;
    }
    codec = *chosen;
    return true;
}

void SipLine::Call::onProgress(const sip_msg* msg, void* arg) {
    auto* c = static_cast<Call*>(arg);
    c->dev->info(QStringLiteral("far end: %1 %2").arg(msg->scode).arg(plText(msg->reason)));
}

void SipLine::Call::onEstablished(const sip_msg* msg, void* arg) {
    (void)msg;
    auto* c = static_cast<Call*>(arg);
    Device* dev = c->dev;
    if (c->established)
        return;
    c->established = true;
    tmr_cancel(&c->ringTimer);
    c->receiveMedia(false);  // early media (ringback) is not the call
    c->audioStartMs = tmr_jiffies();
    c->samplesOut = 0;
    c->keepalive.start(c->audioStartMs);
    c->sendKeepaliveIfDue();
    tmr_start(&c->mediaTimer, kMediaTickMs, &Call::onMediaTick, c);
    dev->connected = true;
    dev->info(QStringLiteral("connected"));
    dev->line->reportConnected(dev->index);
}

void SipLine::Call::onClose(int err, const sip_msg* msg, void* arg) {
    auto* c = static_cast<Call*>(arg);
    Device* dev = c->dev;
    if (dev->call.get() != c)
        return;
    if (!c->established && !c->incoming && msg && msg->scode >= 300) {
        dev->line->reportNotify(
            dev->index,
            QStringLiteral("CALLSTATE %1 %2").arg(msg->scode).arg(printable(plText(msg->reason))));
    }
    dev->endCall(true, describeClose(err, msg));
}

// ---------------------------------------------------------------------------------------

QString SipLine::configPath(const QString& homeFolder) {
    return homeFolder + QStringLiteral("/lines.ini");
}

SipLine::SipLine(std::vector<SipLineConfig> lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        auto d = std::make_unique<Device>();
        d->line = this;
        d->index = int(i);
        d->cfg = std::move(lines[i]);
        devices_.push_back(std::move(d));
    }
    loop_ = std::make_unique<ReLoop>();
    loop_->setShutdown([this] {
        for (auto& d : devices_) d->stop();
    });
}

SipLine::~SipLine() {
    loop_.reset();  // stops every line on the SIP thread first
}

SipLine::Device& SipLine::device(int index) const {
    if (index < 0 || size_t(index) >= devices_.size()) {
        throw RuntimeError(kLineDeviceError, QStringLiteral("No line device %1").arg(index));
    }
    return *devices_[size_t(index)];
}

QList<LineDeviceInfo> SipLine::devices() const {
    QList<LineDeviceInfo> out;
    for (const auto& d : devices_) out.append({d->cfg.name, kApiVersion, kCapabilities});
    return out;
}

void SipLine::open(int index) {
    Device& d = device(index);
    loop_->run([&d] {
        d.start();
        d.open = true;
    });
}

void SipLine::close(int index) {
    Device& d = device(index);
    loop_->run([&d] {
        d.open = false;
        if (d.call)
            d.endCall(false, QStringLiteral("line closed: call ended"));
    });
}

void SipLine::answer(int index) {
    Device& d = device(index);
    loop_->run([&d] {
        Call* c = d.call.get();
        if (!c || !c->incoming || c->answered)
            return;
        const uint64_t started = tmr_jiffies();
        mbuf* desc = toMbuf(d.localSdp({c->codec}, answerDirection(c->remoteDirection), *c));
        const int err = desc ? sipsess_answer(c->sess, 200, "OK", desc, nullptr) : ENOMEM;
        mem_deref(desc);
        if (err != 0) {
            d.problem(QStringLiteral("answer failed (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(err))));
            d.endCall(true, QStringLiteral("call lost"));
            return;
        }
        c->answered = true;
        tmr_cancel(&c->ringTimer);
        const qint64 spent = qint64(tmr_jiffies() - started);
        d.updateDiag([&](Diagnostics& diag) { diag.lastAnswerMs = spent; });
        d.info(QStringLiteral("answered"));
    });
}

void SipLine::drop(int index) {
    Device& d = device(index);
    loop_->run([&d] {
        Call* c = d.call.get();
        if (!c)
            return;
        if (c->incoming && !c->answered)
            sipsess_reject(c->sess, 603, "Decline", nullptr);
        // Releasing the session sends BYE, or CANCEL for our own unanswered call. Our own
        // hang-up is not reported back: the recorder already stopped what it had to.
        d.endCall(false, QStringLiteral("hung up by us"));
    });
}

void SipLine::dial(int index, const QString& number) {
    Device& d = device(index);
    const QString target = sipTargetForDial(number, d.cfg.domain);
    if (target.isEmpty()) {
        throw RuntimeError(
            kLineDeviceError,
            QStringLiteral("Cannot dial \"%1\" on %2").arg(printable(number), d.cfg.name));
    }
    loop_->run([&d, target] {
        if (!d.open)
            throw RuntimeError(kLineDeviceError, QStringLiteral("The line is not open"));
        if (d.call)
            throw RuntimeError(kLineDeviceError, QStringLiteral("The line is busy"));
        auto c = std::make_unique<Call>(&d);
        c->incoming = false;
        if (int err = d.newRtpSocket(*c)) {
            throw RuntimeError(kLineDeviceError, QStringLiteral("No RTP port (%1)").arg(err));
        }
        mbuf* offer = toMbuf(d.localSdp(offerCodecs(d.cfg.codecs), MediaDirection::RecvOnly, *c));
        const QByteArray to = target.toUtf8();
        char from[160] = {};
        if (d.aor.isEmpty()) {
            re_snprintf(from, sizeof from, "sip:%s@%J", d.cuser.constData(), &d.laddr);
        } else {
            re_snprintf(from, sizeof from, "%s", d.aor.constData());
        }
        const int err = sipsess_connect(&c->sess, d.sock, to.constData(), nullptr, from,
                                        d.cuser.constData(), nullptr, 0, "application/sdp", offer,
                                        &Device::onAuth, &d, false, &Call::onOffer, &Call::onAnswer,
                                        &Call::onProgress, &Call::onEstablished, nullptr, nullptr,
                                        &Call::onClose, c.get(), nullptr);
        mem_deref(offer);
        if (err != 0) {
            c->sess = nullptr;
            throw RuntimeError(kLineDeviceError,
                               QStringLiteral("Cannot call %1 (%2)")
                                   .arg(target, QString::fromLocal8Bit(std::strerror(err))));
        }
        d.info(QStringLiteral("calling %1").arg(target));
        d.call = std::move(c);
    });
}

bool SipLine::isConnected(int index) const {
    return device(index).connected;
}

int SipLine::audioSampleRate(int index) const {
    device(index);
    return kG711SampleRate;
}

void SipLine::flushAudio(int index) {
    Device& d = device(index);
    loop_->run([&d] {
        if (d.call && d.call->established)
            d.call->flushAudio();
    });
}

SipLine::Diagnostics SipLine::diagnostics(int index) const {
    Device& d = device(index);
    Diagnostics out;
    loop_->run([&] {
        if (d.call)
            d.updateDiag([&](Diagnostics& diag) { diag.audio = d.call->jitter.stats(); });
    });
    std::lock_guard lock(d.diagMutex);
    out = d.diag;
    return out;
}

}  // namespace kallomir
