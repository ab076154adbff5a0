#include "controls/sip/SipLine.h"

#include "controls/TelephonyControl.h"
#include "controls/sip/ReHeaders.h"
#include "controls/sip/ReLoop.h"
#include "controls/sip/RequestGate.h"
#include "controls/sip/Sdp.h"
#include "controls/sip/SipRegistration.h"
#include "controls/sip/SipTls.h"
#include "controls/sip/Srtp.h"
#include "core/RuntimeError.h"

#include <QHostAddress>
#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>

#include <ifaddrs.h>

namespace kallomir {

namespace {

Q_LOGGING_CATEGORY(lcSipLine, "kallomir.sip")

constexpr int kMaxProblems = 20;

QString plText(const pl& p) {
    return QString::fromUtf8(p.p, int(p.l));
}

QByteArray plBytes(const pl& p) {
    return QByteArray(p.p, int(p.l));
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

QString describeClose(int err, const sip_msg* msg, bool acknowledged) {
    if (err == ECONNRESET)
        return QStringLiteral("far end hung up");
    if (err == ETIMEDOUT && !acknowledged)
        return QStringLiteral("ended: the far end never acknowledged our answer (no ACK)");
    if (err)
        return QStringLiteral("ended: %1").arg(QString::fromLocal8Bit(std::strerror(err)));
    if (msg)
        return QStringLiteral("ended: %1 %2").arg(msg->scode).arg(plText(msg->reason));
    return QStringLiteral("ended");
}

// "sip:user@host:port;params" -> "host".
QString hostOfSipUri(const QString& uri) {
    QString rest = uri.section(u':', 1);  // after the scheme
    rest = rest.section(u';', 0, 0).section(u'?', 0, 0);
    if (rest.contains(u'@'))
        rest = rest.section(u'@', 1);
    if (rest.startsWith(u'['))
        return rest.mid(1, rest.indexOf(u']') - 1);
    return rest.section(u':', 0, 0);
}

sockaddr_storage toStorage(const sa& addr) {
    sockaddr_storage out{};
    std::memcpy(&out, &addr.u, std::min<size_t>(sizeof out, size_t(addr.len)));
    return out;
}

const char* transportParam(SipTransport t) {
    switch (t) {
        case SipTransport::Udp:
            break;
        case SipTransport::Tcp:
            return ";transport=tcp";
        case SipTransport::Tls:
            return ";transport=tls";
    }
    return "";
}

// The network of the interface that holds `address` (its own prefix), for the default
// allow-list of a line that does not register.
std::optional<std::pair<QHostAddress, int>> networkOf(const QHostAddress& address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<std::pair<QHostAddress, int>> found;
    for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || !i->ifa_netmask)
            continue;
        const int family = i->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        if (QHostAddress(i->ifa_addr) != address)
            continue;
        const QHostAddress mask(i->ifa_netmask);
        int prefix = 0;
        const Q_IPV6ADDR bytes = mask.toIPv6Address();
        if (family == AF_INET) {
            prefix = __builtin_popcount(mask.toIPv4Address());
        } else {
            for (int b = 0; b < 16; ++b) prefix += __builtin_popcount(bytes[b]);
        }
        found = std::make_pair(address, prefix);
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Everything below the public functions runs on the SIP thread.

struct SipLine::Call {
    Device* dev = nullptr;
    bool incoming = true;
    bool answered = false;
    bool established = false;  // connected: reported, media running
    bool acknowledged = false;
    sipsess* sess = nullptr;
    CallMedia media;
    CallMedia::Params params;
    std::optional<SdpAudio> offer;  // the latest offer we answer (its other streams are refused)
    MediaDirection direction = MediaDirection::RecvOnly;  // ours
    bool secure = false;
    bool secureProfile = false;
    std::vector<SdpCrypto> ourCrypto;  // the lines we send (an answer has one)
    std::vector<SrtpKey> ourKeys;      // their keys, by position
    tmr ringTimer{};
    tmr mediaTimer{};
    int rings = 0;

    Call(Device* d, std::string cname);
    ~Call() {
        tmr_cancel(&ringTimer);
        tmr_cancel(&mediaTimer);
        sess = static_cast<sipsess*>(mem_deref(sess));  // BYE or CANCEL when still up
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    static void onRing(void* arg);
    static void onMediaTick(void* arg);
    static int onOffer(mbuf** descp, const sip_msg* msg, void* arg);
    static int onAnswer(const sip_msg* msg, void* arg);
    static void onProgress(const sip_msg* msg, void* arg);
    static void onEstablished(const sip_msg* msg, void* arg);
    static void onClose(int err, const sip_msg* msg, void* arg);

    // Plans our answer to an offer: 0, or the status that refuses it (why says why).
    int planAnswer(const SdpAudio& offered, bool renewal, CallMedia::Params& next, QString& why);
    // Takes the far end's answer to our offer; false when it cannot be used.
    bool takeAnswer(const SdpAudio& answer, const sa& signalling, QString& why);
    QByteArray localSdp(bool asAnswer);
    void connect();
};

struct SipLine::Device {
    SipLine* line = nullptr;
    int index = 0;
    SipLineConfig cfg;
    std::atomic<bool> open{false};
    std::atomic<bool> connected{false};
    std::atomic<int> audioRate{8000};

    // SIP thread only.
    dnsc* dns = nullptr;
    sip* stack = nullptr;
    sipsess_sock* sock = nullptr;
    sip_lsnr* gate = nullptr;
    std::unique_ptr<SipTls> tls;
    std::unique_ptr<SipRegistration> reg;
    std::vector<dns_query*> lookups;
    sa laddr{};
    QByteArray mediaAddress;
    QByteArray cuser;
    QByteArray aor;
    std::vector<QByteArray> routeStrings;
    AddressFilter allowed;
    InviteRateLimiter limiter;
    std::unique_ptr<Call> call;
    std::vector<std::unique_ptr<Call>> ended;  // released on the next loop turn
    tmr reaper{};
    uint64_t sessionId = 0;
    uint64_t sdpVersion = 0;
    Diagnostics diag;
    LineRegistration registration;
    mutable std::mutex diagMutex;  // diag and registration are read from other threads

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
    void startTls();
    void setUpAllowList();
    void lookUp(const QString& host);
    void startRegistration();
    void stop();
    void endCall(bool report, const QString& why);
    bool lineIsIpv6() const { return sa_af(&laddr) == AF_INET6; }
    std::string cname() const { return (cuser + '@' + mediaAddress).toStdString(); }
    const char** routes(uint32_t* count) {
        static thread_local std::vector<const char*> pointers;
        pointers.clear();
        for (const QByteArray& r : routeStrings) pointers.push_back(r.constData());
        *count = uint32_t(pointers.size());
        return pointers.empty() ? nullptr : pointers.data();
    }

    static void onInvite(const sip_msg* msg, void* arg);
    static bool onRequest(const sip_msg* msg, void* arg);
    static int onAuth(char** user, char** password, const char* realm, void* arg);
    static void onReap(void* arg);
    static void onLookup(int err, const dnshdr* hdr, list* answers, list* authorities,
                         list* additional, void* arg);
};

SipLine::Call::Call(Device* d, std::string cname)
    : dev(d),
      media([d](std::span<const int16_t> samples,
                int rate) { d->line->deliverAudio(d->index, samples, rate); },
            [d](const QString& text) { d->problem(text); }, std::move(cname)) {
    tmr_init(&ringTimer);
    tmr_init(&mediaTimer);
}

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
    limiter = InviteRateLimiter(cfg.invitesPerMinute);
    routeStrings.clear();
    if (!cfg.proxy.isEmpty())
        routeStrings.push_back(cfg.withTransport(cfg.proxy).toUtf8() + ";lr");

    if (cfg.transport == SipTransport::Tls)
        startTls();

    // DNS is only needed for a registrar or dialled addresses given by name.
    sa nameServers[4];
    uint32_t nsCount = 4;
    if (dns_srv_get(nullptr, 0, nameServers, &nsCount) == 0 && nsCount > 0) {
        if (dnsc_alloc(&dns, nullptr, nameServers, nsCount) != 0)
            dns = nullptr;
    }
    err = sip_alloc(&stack, dns, 32, 32, 32, "Kallomir", nullptr, nullptr);
    if (err == 0) {
        switch (cfg.transport) {
            case SipTransport::Udp:
                err = sip_transp_add(stack, SIP_TRANSP_UDP, &laddr);
                break;
            case SipTransport::Tcp:
                err = sip_transp_add(stack, SIP_TRANSP_TCP, &laddr);
                break;
            case SipTransport::Tls:
                err = sip_transp_add(stack, SIP_TRANSP_TLS, &laddr, tls->context());
                break;
        }
    }
    // The gate sees every new request before the session layer does.
    if (err == 0)
        err = sip_listen(&gate, stack, true, &Device::onRequest, this);
    if (err == 0)
        err = sipsess_listen(&sock, stack, 32, &Device::onInvite, this);
    if (err != 0) {
        stop();
        throw RuntimeError(kLineDeviceError, QStringLiteral("%1: cannot listen on %2:%3 (%4)")
                                                 .arg(cfg.name, QString::fromLatin1(addrText))
                                                 .arg(cfg.listenPort)
                                                 .arg(QString::fromLocal8Bit(std::strerror(err))));
    }
    sessionId = std::random_device{}();
    setUpAllowList();
    updateDiag([&](Diagnostics& d) {
        d.listening = true;
        d.sipPort = sa_port(&laddr);
        d.allowedSources = allowed.describe();
    });
    info(QStringLiteral("listening on %1:%2%3, calls taken from %4")
             .arg(QString::fromLatin1(addrText))
             .arg(cfg.listenPort)
             .arg(QLatin1String(transportParam(cfg.transport)),
                  allowed.isEmpty() ? QStringLiteral("the registrar once it answers")
                                    : allowed.describe().join(QStringLiteral(", "))));
    if (!cfg.registrar.isEmpty())
        startRegistration();
}

void SipLine::Device::startTls() {
    TlsPeerPolicy policy;
    for (const QString& uri : {cfg.registrar, cfg.proxy}) {
        if (!uri.isEmpty())
            policy.names << hostOfSipUri(uri);
    }
    if (!cfg.domain.isEmpty())
        policy.names << cfg.domain;
    policy.names.removeDuplicates();
    policy.caFile = cfg.tlsCaFile;
    policy.allowSelfSigned = cfg.tlsAllowSelfSigned;
    QString why;
    tls = SipTls::make(cfg.tlsCertificate, policy, &why);
    if (!tls)
        throw RuntimeError(kLineDeviceError, QStringLiteral("%1: %2").arg(cfg.name, why));
}

void SipLine::Device::setUpAllowList() {
    allowed.clear();
    if (!cfg.allowFrom.isEmpty()) {
        for (const QString& entry : cfg.allowFrom) allowed.add(entry);
        return;
    }
    if (!cfg.registrar.isEmpty()) {
        // Calls come through the PBX: its addresses, and whatever address answers our
        // registrations (added as they come).
        for (const QString& uri : {cfg.registrar, cfg.proxy}) {
            if (uri.isEmpty())
                continue;
            const QString host = hostOfSipUri(uri);
            if (!allowed.add(host))
                lookUp(host);
        }
        return;
    }
    allowed.add(QHostAddress(QHostAddress::LocalHost), 8);
    allowed.add(QHostAddress(QHostAddress::LocalHostIPv6), 128);
    const QHostAddress own(&laddr.u.sa);
    if (const auto network = networkOf(own))
        allowed.add(network->first, network->second);
    else
        allowed.add(own, own.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
}

void SipLine::Device::lookUp(const QString& host) {
    if (!dns)
        return;
    const QByteArray name = host.toUtf8();
    for (uint16_t type : {uint16_t(DNS_TYPE_A), uint16_t(DNS_TYPE_AAAA)}) {
        dns_query* q = nullptr;
        if (dnsc_query(&q, dns, name.constData(), type, DNS_CLASS_IN, true, &Device::onLookup,
                       this) == 0) {
            lookups.push_back(q);
        }
    }
}

void SipLine::Device::onLookup(int err, const dnshdr*, list* answers, list*, list*, void* arg) {
    auto* dev = static_cast<Device*>(arg);
    if (err != 0 || !answers)
        return;
    for (le* e = list_head(answers); e; e = e->next) {
        const auto* rr = static_cast<const dnsrr*>(e->data);
        if (rr->type == DNS_TYPE_A) {
            dev->allowed.add(QHostAddress(rr->rdata.a.addr), 32);
        } else if (rr->type == DNS_TYPE_AAAA) {
            dev->allowed.add(QHostAddress(rr->rdata.aaaa.addr), 128);
        }
    }
    dev->updateDiag([dev](Diagnostics& d) { d.allowedSources = dev->allowed.describe(); });
}

void SipLine::Device::startRegistration() {
    QString host = cfg.domain;
    if (host.isEmpty())
        host = hostOfSipUri(cfg.registrar);
    aor = (QStringLiteral("sip:") + cfg.user + u'@' + host).toUtf8();
    SipRegistration::Settings s;
    s.registrarUri = cfg.withTransport(cfg.registrar).toUtf8();
    s.aor = aor;
    char contact[256] = {};
    re_snprintf(contact, sizeof contact, "sip:%s@%J%s", cuser.constData(), &laddr,
                transportParam(cfg.transport));
    s.contact = contact;
    if (!routeStrings.empty())
        s.route = routeStrings.front();
    s.authUser = cfg.authUser.isEmpty() ? cfg.user : cfg.authUser;
    s.password = cfg.password;
    s.expires = cfg.registerInterval;
    reg = std::make_unique<SipRegistration>(
        stack, s,
        [this](const LineRegistration& state) {
            {
                std::lock_guard lock(diagMutex);
                registration = state;
            }
            line->reportRegistration(index);
        },
        [this](const QString& text, bool isProblem) {
            if (isProblem)
                problem(text);
            else
                info(text);
        },
        [this](const QHostAddress& from) {
            if (cfg.allowFrom.isEmpty() && !allowed.allows(from)) {
                allowed.add(from, from.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
                updateDiag([this](Diagnostics& d) { d.allowedSources = allowed.describe(); });
            }
        },
        [this] { return tls ? tls->takeLastRefusal() : QString(); });
    {
        std::lock_guard lock(diagMutex);
        registration = reg->state();
    }
    line->reportRegistration(index);
    reg->start();
}

void SipLine::Device::stop() {
    call.reset();
    ended.clear();
    tmr_cancel(&reaper);
    reg.reset();
    for (dns_query*& q : lookups) q = static_cast<dns_query*>(mem_deref(q));
    lookups.clear();
    gate = static_cast<sip_lsnr*>(mem_deref(gate));
    sock = static_cast<sipsess_sock*>(mem_deref(sock));
    if (stack)
        sip_close(stack, true);
    stack = static_cast<sip*>(mem_deref(stack));
    tls.reset();
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
    call->media.stop(tmr_jiffies());  // the last audio, then our RTCP BYE
    updateDiag([&](Diagnostics& d) {
        d.audio = call->media.audioStats();
        d.media = call->media.counters();
        d.packetsLost = uint64_t(std::max<int64_t>(0, call->media.receiveStats().lost()));
    });
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

bool SipLine::Device::onRequest(const sip_msg* msg, void* arg) {
    auto* dev = static_cast<Device*>(arg);
    const QByteArray method = plBytes(msg->met);
    const QHostAddress source(&msg->src.u.sa);
    const bool inDialog = pl_isset(&msg->to.tag);
    const QString from =
        QStringLiteral("%1 from %2").arg(QString::fromLatin1(method), source.toString());

    RequestFacts facts;
    facts.method = method;
    facts.hasVia = pl_isset(&msg->via.sentby);
    facts.hasFrom = sip_msg_hdr(msg, SIP_HDR_FROM) != nullptr;
    facts.hasTo = sip_msg_hdr(msg, SIP_HDR_TO) != nullptr;
    facts.hasCallId = pl_isset(&msg->callid);
    facts.hasCSeq = sip_msg_hdr(msg, SIP_HDR_CSEQ) != nullptr;
    facts.cseqMethod = plBytes(msg->cseq.met);
    facts.inDialog = inDialog;
    facts.uriScheme = plBytes(msg->uri.scheme).toLower();
    facts.secureTransport = msg->tp == SIP_TRANSP_TLS;
    sip_msg_hdr_apply(
        msg, true, SIP_HDR_REQUIRE,
        [](const sip_hdr* hdr, const sip_msg*, void* list) {
            static_cast<QList<QByteArray>*>(list)->append(plBytes(hdr->val).trimmed());
            return false;
        },
        &facts.require);
    facts.hasBody = mbuf_get_left(msg->mb) > 0;
    if (const sip_hdr* ct = sip_msg_hdr(msg, SIP_HDR_CONTENT_TYPE))
        facts.contentType = plBytes(ct->val).split(';').value(0).trimmed().toLower();
    if (const sip_hdr* ce = sip_msg_hdr(msg, SIP_HDR_CONTENT_ENCODING))
        facts.contentEncoding = plBytes(ce->val).trimmed().toLower();

    // Without a Via nothing can be answered, not even a refusal.
    const RequestVerdict verdict = checkRequest(facts);
    if (verdict.action == RequestVerdict::Action::Drop) {
        dev->updateDiag([](Diagnostics& d) { ++d.droppedRequests; });
        dev->problem(from + QStringLiteral(" dropped: ") + verdict.why);
        return true;
    }
    if (method == "INVITE" && !inDialog && !dev->limiter.allow(source, tmr_jiffies())) {
        uint64_t n = 0;
        dev->updateDiag([&](Diagnostics& d) { n = ++d.rateLimitedInvites; });
        if (n == 1 || n % 100 == 0)
            dev->problem(from + QStringLiteral(" dropped: too many calls (%1 so far)").arg(n));
        return true;
    }
    if (!inDialog && !dev->allowed.allows(source)) {
        if (method == "ACK")
            return true;
        dev->updateDiag([](Diagnostics& d) { ++d.forbiddenRequests; });
        dev->problem(from + QStringLiteral(" refused with 403: not an allowed source"));
        sip_reply(dev->stack, msg, 403, "Forbidden");
        return true;
    }
    if (verdict.action == RequestVerdict::Action::Reply) {
        dev->updateDiag([](Diagnostics& d) { ++d.rejectedRequests; });
        dev->problem(from +
                     QStringLiteral(" refused with %1: %2").arg(verdict.status).arg(verdict.why));
        sip_replyf(dev->stack, msg, uint16_t(verdict.status), verdict.reason.constData(),
                   "%sContent-Length: 0\r\n\r\n", verdict.headers.constData());
        return true;
    }
    if (method == "ACK") {
        // An ACK for none of our sessions acknowledges one of the refusals above.
        const sip_dialog* dlg =
            dev->call && dev->call->sess ? sipsess_dialog(dev->call->sess) : nullptr;
        if (!dlg || plText(msg->callid) != QString::fromUtf8(sip_dialog_callid(dlg)))
            return true;
        return false;
    }
    if (!inDialog && method == "OPTIONS") {
        sip_replyf(dev->stack, msg, 200, "OK",
                   "Allow: %s\r\nAccept: application/sdp\r\nContent-Length: 0\r\n\r\n",
                   kAllowedMethods);
        return true;
    }
    if (!inDialog && method == "BYE") {
        sip_reply(dev->stack, msg, 481, "Call/Transaction Does Not Exist");
        return true;
    }
    return false;
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
    auto offer = parseSdp(body, &sdpProblem);
    if (!offer) {
        return refuse(488, "Not Acceptable Here", QStringLiteral("bad SDP: ") + sdpProblem);
    }

    auto c = std::make_unique<Call>(dev, dev->cname());
    c->incoming = true;
    if (int err = c->media.open(&dev->laddr.u.sa, dev->laddr.len, dev->cfg.rtpPortMin,
                                dev->cfg.rtpPortMax)) {
        return refuse(
            503, "Service Unavailable",
            QStringLiteral("no RTP port (%1)").arg(QString::fromLocal8Bit(std::strerror(err))));
    }
    QString why;
    CallMedia::Params params;
    params.signalling = toStorage(msg->src);
    const int status = c->planAnswer(*offer, false, params, why);
    if (status != 0)
        return refuse(uint16_t(status), "Not Acceptable Here", why);
    if (!c->media.configure(params))
        return refuse(488, "Not Acceptable Here", QStringLiteral("codec or keys unusable"));
    c->params = params;
    c->offer = std::move(offer);
    dev->audioRate = c->media.outputRate();

    const int err = sipsess_accept(&c->sess, dev->sock, msg, 180, "Ringing", dev->cuser.constData(),
                                   "application/sdp", nullptr, &Device::onAuth, dev, false,
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
    dev->info(QStringLiteral("call from %1, %2%3")
                  .arg(plText(msg->from.auri),
                       QLatin1String(codecInfo(call.params.codec.kind).name),
                       call.secure ? QStringLiteral(", SRTP") : QString()));
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

int SipLine::Call::planAnswer(const SdpAudio& o, bool renewal, CallMedia::Params& next,
                              QString& why) {
    const SipLineConfig& cfg = dev->cfg;
    const sockaddr_storage signalling = next.signalling;
    next = params;
    if (!renewal)
        next.signalling = signalling;
    if (o.port == 0) {
        why = QStringLiteral("audio stream refused by the far end");
        return 488;
    }
    const QString addressProblem = mediaAddressProblem(o.address, dev->lineIsIpv6());
    const QHostAddress offered(o.address);
    const bool holdAddress =
        renewal && (offered == QHostAddress::AnyIPv4 || offered == QHostAddress::AnyIPv6);
    if (!addressProblem.isEmpty() && !holdAddress) {
        why = addressProblem;
        return 488;
    }
    if (!holdAddress) {
        // An unspecified address in a new offer is the old way to hold: the stream stays.
        sa addr{};
        if (sa_set_str(&addr, o.address.toLatin1().constData(), uint16_t(o.port)) != 0) {
            why = QStringLiteral("bad media address");
            return 488;
        }
        next.remote = toStorage(addr);
    }
    // The codec in use stays while the far end still offers it.
    std::optional<NegotiatedCodec> codec;
    if (renewal) {
        for (const SdpAudio::Format& f : o.formats) {
            if (f.payloadType == params.codec.payloadType &&
                codecByName(f.encoding) == params.codec.kind) {
                codec = params.codec;
            }
        }
    }
    if (!codec)
        codec = negotiateAudio(o, cfg.codecs);
    if (!codec) {
        why = QStringLiteral("no common codec");
        return 488;
    }
    next.codec = *codec;
    next.remotePayloadTypes.clear();
    for (const SdpAudio::Format& f : o.formats) next.remotePayloadTypes.push_back(f.payloadType);
    next.rtcpMux = o.rtcpMux;
    next.remoteRtcpPort = o.rtcpPort;

    const auto chosen = chooseCrypto(o.crypto);
    bool useSrtp = false;
    switch (cfg.mediaEncryption) {
        case MediaEncryption::None:
            if (o.secureProfile()) {
                why = QStringLiteral("SRTP offered, the line has MediaEncryption=none");
                return 488;
            }
            break;
        case MediaEncryption::SrtpOptional:
            if (o.secureProfile() && !chosen) {
                why = QStringLiteral("no usable SRTP key offered");
                return 488;
            }
            useSrtp = chosen.has_value();
            break;
        case MediaEncryption::SrtpRequired:
            if (!chosen) {
                why = QStringLiteral("no usable SRTP key offered (MediaEncryption=srtp)");
                return 488;
            }
            useSrtp = true;
            break;
    }
    if (useSrtp) {
        next.receiveKey = chosen->key;
        // Our key stays for a renewal in the same suite; anything else gets a fresh one.
        SrtpKey ours = secure && !ourKeys.empty() && ourKeys.front().suite == chosen->key.suite
                           ? ourKeys.front()
                           : makeSrtpKey(chosen->key.suite);
        ours.unencryptedSrtcp = chosen->key.unencryptedSrtcp;
        next.sendKey = ours;
        ourKeys = {ours};
        ourCrypto = {cryptoLine(chosen->line.tag, ours)};
    } else {
        next.receiveKey.reset();
        next.sendKey.reset();
        ourKeys.clear();
        ourCrypto.clear();
    }
    secure = useSrtp;
    secureProfile = o.secureProfile();
    direction = answerDirection(o.direction, cfg.sendSilence);
    next.sendSilence = direction == MediaDirection::SendRecv;
    return 0;
}

bool SipLine::Call::takeAnswer(const SdpAudio& a, const sa& signalling, QString& why) {
    CallMedia::Params next = params;
    next.signalling = toStorage(signalling);
    const QString addressProblem = mediaAddressProblem(a.address, dev->lineIsIpv6());
    if (a.port == 0 || !addressProblem.isEmpty()) {
        why = a.port == 0 ? QStringLiteral("audio refused") : addressProblem;
        return false;
    }
    sa addr{};
    if (sa_set_str(&addr, a.address.toLatin1().constData(), uint16_t(a.port)) != 0) {
        why = QStringLiteral("bad media address");
        return false;
    }
    next.remote = toStorage(addr);
    // The answer's codec must be one we offered.
    const auto offered = offerCodecs(dev->cfg.codecs);
    std::optional<NegotiatedCodec> codec;
    for (const SdpAudio::Format& f : a.formats) {
        const auto kind = codecByName(f.encoding);
        for (const NegotiatedCodec& c : offered) {
            if (!codec && kind == c.kind && f.clockRate == codecInfo(c.kind).clockRate)
                codec = NegotiatedCodec{f.payloadType, c.kind};
        }
    }
    if (!codec) {
        why = QStringLiteral("no common codec");
        return false;
    }
    next.codec = *codec;
    next.remotePayloadTypes.clear();
    for (const SdpAudio::Format& f : a.formats) next.remotePayloadTypes.push_back(f.payloadType);
    next.rtcpMux = a.rtcpMux;
    next.remoteRtcpPort = a.rtcpPort;
    next.receiveKey.reset();
    next.sendKey.reset();
    bool useSrtp = false;
    for (const SdpCrypto& line : a.crypto) {
        for (size_t i = 0; i < ourCrypto.size() && !useSrtp; ++i) {
            const auto theirs = keyOfCrypto(line);
            if (line.tag == ourCrypto[i].tag && theirs && theirs->suite == ourKeys[i].suite) {
                next.receiveKey = theirs;
                next.sendKey = ourKeys[i];
                useSrtp = true;
            }
        }
    }
    if (!useSrtp && dev->cfg.mediaEncryption == MediaEncryption::SrtpRequired) {
        why = QStringLiteral("the far end answered without SRTP");
        return false;
    }
    secure = useSrtp;
    const MediaDirection theirs = a.direction;
    direction = theirs == MediaDirection::Inactive || theirs == MediaDirection::RecvOnly
                    ? MediaDirection::Inactive
                    : direction;
    next.sendSilence = direction == MediaDirection::SendRecv;
    if (!media.configure(next)) {
        why = QStringLiteral("codec or keys unusable");
        return false;
    }
    params = next;
    dev->audioRate = media.outputRate();
    return true;
}

QByteArray SipLine::Call::localSdp(bool asAnswer) {
    LocalSdp local;
    local.address = QString::fromLatin1(dev->mediaAddress);
    local.port = media.port();
    local.direction = direction;
    local.sessionId = dev->sessionId;
    local.version = ++dev->sdpVersion;
    local.crypto = ourCrypto;
    if (asAnswer && offer) {
        local.codecs = {params.codec};
        local.secureProfile = offer->secureProfile();
        local.rtcpMux = offer->rtcpMux;
        local.answering = &*offer;
    } else if (established || answered) {
        // A new offer of ours in a running call: the session as it is.
        local.codecs = {params.codec};
        local.secureProfile = secureProfile;
    } else {
        local.codecs = offerCodecs(dev->cfg.codecs);
        local.secureProfile = secureProfile;
    }
    return buildSdp(local);
}

void SipLine::Call::connect() {
    if (established)
        return;
    established = true;
    tmr_cancel(&ringTimer);
    const uint64_t now = tmr_jiffies();
    media.start(now);
    tmr_start(&mediaTimer, CallMedia::kTickMs, &Call::onMediaTick, this);
    dev->connected = true;
    dev->info(QStringLiteral("connected"));
    dev->line->reportConnected(dev->index);
}

void SipLine::Call::onRing(void* arg) {
    auto* c = static_cast<Call*>(arg);
    Device* dev = c->dev;
    ++c->rings;
    tmr_start(&c->ringTimer, uint64_t(dev->cfg.ringPeriodMs), &Call::onRing, c);
    dev->line->reportRing(dev->index, c->rings);
}

void SipLine::Call::onMediaTick(void* arg) {
    auto* c = static_cast<Call*>(arg);
    c->media.tick(tmr_jiffies());
    tmr_start(&c->mediaTimer, CallMedia::kTickMs, &Call::onMediaTick, c);
}

int SipLine::Call::onOffer(mbuf** descp, const sip_msg* msg, void* arg) {
    // A re-INVITE (hold, address change, new keys): follow the far end if we still can.
    auto* c = static_cast<Call*>(arg);
    const QByteArray body = bodyOf(msg);
    if (body.isEmpty()) {
        // An offer is asked of us (a session refresh): the session as it stands.
        *descp = toMbuf(c->localSdp(false));
        return *descp ? 0 : ENOMEM;
    }
    QString why;
    auto sdp = parseSdp(body, &why);
    CallMedia::Params next;
    const std::vector<SdpCrypto> keptCrypto = c->ourCrypto;
    const std::vector<SrtpKey> keptKeys = c->ourKeys;
    const bool keptSecure = c->secure;
    const MediaDirection keptDirection = c->direction;
    const int status = sdp ? c->planAnswer(*sdp, true, next, why) : 488;
    if (status != 0 || !c->media.configure(next)) {
        c->ourCrypto = keptCrypto;
        c->ourKeys = keptKeys;
        c->secure = keptSecure;
        c->direction = keptDirection;
        c->dev->problem(QStringLiteral("new offer refused: %1")
                            .arg(why.isEmpty() ? QStringLiteral("codec or keys unusable") : why));
        return EPROTO;
    }
    c->params = next;
    c->offer = std::move(sdp);
    *descp = toMbuf(c->localSdp(true));
    return *descp ? 0 : ENOMEM;
}

int SipLine::Call::onAnswer(const sip_msg* msg, void* arg) {
    auto* c = static_cast<Call*>(arg);
    QString why;
    const auto sdp = parseSdp(bodyOf(msg), &why);
    if (!sdp || !c->takeAnswer(*sdp, msg->src, why)) {
        c->dev->problem(QStringLiteral("answer unusable: %1").arg(why));
        return EPROTO;
    }
    return 0;
}

void SipLine::Call::onProgress(const sip_msg* msg, void* arg) {
    auto* c = static_cast<Call*>(arg);
    c->dev->info(QStringLiteral("far end: %1 %2").arg(msg->scode).arg(plText(msg->reason)));
}

void SipLine::Call::onEstablished(const sip_msg* msg, void* arg) {
    (void)msg;
    auto* c = static_cast<Call*>(arg);
    c->acknowledged = true;
    if (c->incoming) {
        c->dev->info(QStringLiteral("answer acknowledged"));
        return;
    }
    c->connect();
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
    dev->endCall(true, describeClose(err, msg, c->acknowledged || !c->incoming));
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
        for (const QString& w : d->cfg.warnings) qCWarning(lcSipLine).noquote() << "lines:" << w;
        devices_.push_back(std::move(d));
    }
    loop_ = std::make_unique<ReLoop>();
    loop_->setShutdown([this] {
        for (auto& d : devices_) d->stop();
    });
}

SipLine::~SipLine() {
    // A registration left behind sends the PBX's calls to a recorder that is gone.
    std::mutex mutex;
    std::condition_variable done;
    int pending = 0;
    try {
        loop_->run([&] {
            for (auto& d : devices_) {
                if (!d->reg)
                    continue;
                {
                    std::lock_guard lock(mutex);
                    ++pending;
                }
                d->reg->unregister([&] {
                    std::lock_guard lock(mutex);
                    --pending;
                    done.notify_all();
                });
            }
        });
        std::unique_lock lock(mutex);
        done.wait_for(lock, std::chrono::milliseconds(kUnregisterWaitMs),
                      [&] { return pending == 0; });
    } catch (const RuntimeError&) {
        // The stack has stopped already: nothing to remove.
    }
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

QStringList SipLine::warnings() const {
    QStringList out;
    for (const auto& d : devices_) {
        for (const QString& w : d->cfg.warnings) {
            if (!out.contains(w))
                out << w;
        }
    }
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
        mbuf* desc = toMbuf(c->localSdp(true));
        const int err = desc ? sipsess_answer(c->sess, 200, "OK", desc, nullptr) : ENOMEM;
        mem_deref(desc);
        if (err != 0) {
            d.problem(QStringLiteral("answer failed (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(err))));
            d.endCall(true, QStringLiteral("call lost"));
            return;
        }
        c->answered = true;
        const qint64 spent = qint64(tmr_jiffies() - started);
        d.updateDiag([&](Diagnostics& diag) { diag.lastAnswerMs = spent; });
        d.info(QStringLiteral("answered"));
        // The far end may talk as soon as it has our answer, ACK or not (a lost ACK is a
        // classic fault of address translators): the call is connected from here.
        c->connect();
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
        auto c = std::make_unique<Call>(&d, d.cname());
        c->incoming = false;
        if (int err =
                c->media.open(&d.laddr.u.sa, d.laddr.len, d.cfg.rtpPortMin, d.cfg.rtpPortMax)) {
            throw RuntimeError(kLineDeviceError, QStringLiteral("No RTP port (%1)").arg(err));
        }
        c->direction = d.cfg.sendSilence ? MediaDirection::SendRecv : MediaDirection::RecvOnly;
        if (d.cfg.mediaEncryption != MediaEncryption::None) {
            // Every suite we speak, each with its own key; the answer picks one.
            int tag = 1;
            for (const QString& suite : srtpSuites()) {
                c->ourKeys.push_back(makeSrtpKey(suite));
                c->ourCrypto.push_back(cryptoLine(tag++, c->ourKeys.back()));
            }
            c->secureProfile = d.cfg.mediaEncryption == MediaEncryption::SrtpRequired;
        }
        mbuf* offer = toMbuf(c->localSdp(false));
        const QByteArray to = d.cfg.withTransport(target).toUtf8();
        char from[256] = {};
        if (d.aor.isEmpty()) {
            re_snprintf(from, sizeof from, "sip:%s@%J", d.cuser.constData(), &d.laddr);
        } else {
            re_snprintf(from, sizeof from, "%s", d.aor.constData());
        }
        uint32_t routeCount = 0;
        const char** routes = d.routes(&routeCount);
        const int err = sipsess_connect(&c->sess, d.sock, to.constData(), nullptr, from,
                                        d.cuser.constData(), routes, routeCount, "application/sdp",
                                        offer, &Device::onAuth, &d, false, &Call::onOffer,
                                        &Call::onAnswer, &Call::onProgress, &Call::onEstablished,
                                        nullptr, nullptr, &Call::onClose, c.get(), nullptr);
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
    return device(index).audioRate;
}

void SipLine::flushAudio(int index) {
    Device& d = device(index);
    loop_->run([&d] {
        if (d.call && d.call->established)
            d.call->media.flush(tmr_jiffies());
    });
}

LineRegistration SipLine::registration(int index) const {
    Device& d = device(index);
    std::lock_guard lock(d.diagMutex);
    return d.registration;
}

SipLine::Diagnostics SipLine::diagnostics(int index) const {
    Device& d = device(index);
    loop_->run([&] {
        if (d.call) {
            d.updateDiag([&](Diagnostics& diag) {
                diag.audio = d.call->media.audioStats();
                diag.media = d.call->media.counters();
                diag.packetsLost =
                    uint64_t(std::max<int64_t>(0, d.call->media.receiveStats().lost()));
            });
        }
    });
    std::lock_guard lock(d.diagMutex);
    return d.diag;
}

}  // namespace kallomir
