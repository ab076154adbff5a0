#include "controls/sip/SipRegistration.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

namespace kallomir {

namespace {

constexpr int kFirstRetrySeconds = 60;
constexpr int kLastRetrySeconds = 3600;

QString plText(const pl& p) {
    return QString::fromUtf8(p.p, int(p.l));
}

struct ChallengeSearch {
    std::optional<DigestChallenge> found;
};

bool takeChallenge(const sip_hdr* hdr, const sip_msg*, void* arg) {
    auto* search = static_cast<ChallengeSearch*>(arg);
    search->found = parseDigestChallenge(plText(hdr->val));
    return search->found.has_value();
}

struct ContactSearch {
    QByteArray ours;
    std::optional<int> expires;
};

bool ourContact(const sip_hdr* hdr, const sip_msg*, void* arg) {
    auto* search = static_cast<ContactSearch*>(arg);
    sip_addr addr{};
    if (sip_addr_decode(&addr, &hdr->val) != 0)
        return false;
    if (plText(addr.auri).compare(QString::fromUtf8(search->ours), Qt::CaseInsensitive) != 0)
        return false;
    pl value{};
    if (msg_param_decode(&addr.params, "expires", &value) == 0)
        search->expires = int(pl_u32(&value));
    return true;
}

}  // namespace

int registrationRetrySeconds(int failures) {
    const int doublings = std::clamp(failures - 1, 0, 10);
    return std::min(kLastRetrySeconds, kFirstRetrySeconds << doublings);
}

int registrationRefreshSeconds(int expires) {
    if (expires <= 0)
        return kFirstRetrySeconds;
    // Renew well before the binding runs out, with room for a challenge and a retransmission.
    return expires >= 120 ? expires * 85 / 100 : std::max(1, expires / 2);
}

SipRegistration::SipRegistration(::sip* stack, Settings settings, Changed changed, Log log,
                                 Heard heard, TransportProblem transportProblem)
    : stack_(stack),
      settings_(std::move(settings)),
      changed_(std::move(changed)),
      log_(std::move(log)),
      heard_(std::move(heard)),
      transportProblem_(std::move(transportProblem)) {
    tmr_init(&timer_);
    state_.state = LineRegistration::State::Registering;
}

SipRegistration::~SipRegistration() {
    tmr_cancel(&timer_);
    request_ = static_cast<struct ::sip_request*>(mem_deref(request_));
    dialog_ = static_cast<::sip_dialog*>(mem_deref(dialog_));
}

void SipRegistration::start() {
    const char* routes[] = {settings_.route.constData()};
    const int err = sip_dialog_alloc(&dialog_, settings_.registrarUri.constData(),
                                     settings_.aor.constData(), nullptr, settings_.aor.constData(),
                                     settings_.route.isEmpty() ? nullptr : routes,
                                     settings_.route.isEmpty() ? 0 : 1);
    if (err != 0) {
        failed(LineRegistration::State::Unreachable, 0,
               QStringLiteral("indirizzo non valido %1")
                   .arg(QString::fromUtf8(settings_.registrarUri)));
        return;
    }
    setState({LineRegistration::State::Registering, 0, {}});
    round();
}

void SipRegistration::onTimer(void* arg) {
    static_cast<SipRegistration*>(arg)->round();
}

void SipRegistration::round() {
    answeredThisRound_ = false;
    staleRetried_ = false;
    intervalRetried_ = false;
    expires_ = settings_.expires;
    if (const int err = send(expires_)) {
        failed(LineRegistration::State::Unreachable, 0, QString::fromLocal8Bit(std::strerror(err)));
    }
}

int SipRegistration::send(int expires) {
    if (!dialog_)
        return EINVAL;
    QByteArray auth;
    if (challenge_) {
        // Cached credentials: a registrar that keeps its nonce takes them without a challenge.
        ++nonceCount_;
        const QString nc = QStringLiteral("%1").arg(nonceCount_, 8, 16, QLatin1Char('0'));
        const QString cnonce = QString::number(QRandomGenerator::global()->generate64(), 16);
        const QString value = digestAuthorization(
            *challenge_, {settings_.authUser, settings_.password}, QStringLiteral("REGISTER"),
            QString::fromUtf8(settings_.registrarUri), cnonce, nc);
        auth = (proxyChallenge_ ? "Proxy-Authorization: " : "Authorization: ") + value.toUtf8() +
               "\r\n";
        answeredNonce_ = challenge_->nonce;
    }
    request_ = static_cast<struct ::sip_request*>(mem_deref(request_));
    return sip_drequestf(&request_, stack_, true, "REGISTER", dialog_, 0, nullptr, nullptr,
                         &SipRegistration::onResponse, this,
                         "Contact: <%s>\r\n"
                         "Expires: %d\r\n"
                         "%s"
                         "Content-Length: 0\r\n"
                         "\r\n",
                         settings_.contact.constData(), expires, auth.constData());
}

void SipRegistration::onResponse(int err, const ::sip_msg* msg, void* arg) {
    static_cast<SipRegistration*>(arg)->handle(err, msg);
}

void SipRegistration::handle(int err, const ::sip_msg* msg) {
    if (err == 0 && msg && msg->scode < 200)
        return;
    if (err == 0 && msg && heard_)
        heard_(QHostAddress(&msg->src.u.sa));
    if (unregistering_) {
        // Only a challenge is answered, once; anything else ends it.
        if (err == 0 && (msg->scode == 401 || msg->scode == 407) && !answeredThisRound_) {
            ChallengeSearch search;
            sip_msg_hdr_apply(
                msg, true,
                msg->scode == 401 ? SIP_HDR_WWW_AUTHENTICATE : SIP_HDR_PROXY_AUTHENTICATE,
                &takeChallenge, &search);
            if (search.found) {
                challenge_ = search.found;
                proxyChallenge_ = msg->scode == 407;
                nonceCount_ = 0;
                answeredThisRound_ = true;
                if (send(0) == 0)
                    return;
            }
        }
        log_(err ? QStringLiteral("unregistering: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(err)))
                 : QStringLiteral("unregistered: %1 %2").arg(msg->scode).arg(plText(msg->reason)),
             false);
        finishUnregister();
        return;
    }
    if (err != 0) {
        QString why = err == ETIMEDOUT ? QStringLiteral("nessuna risposta")
                                       : QString::fromLocal8Bit(std::strerror(err));
        const QString tls = transportProblem_ ? transportProblem_() : QString();
        if (!tls.isEmpty())
            why = tls;
        failed(LineRegistration::State::Unreachable, 0, why);
        return;
    }
    const int status = msg->scode;
    if (status < 300) {
        succeeded(msg);
        return;
    }
    if (status == 401 || status == 407) {
        ChallengeSearch search;
        sip_msg_hdr_apply(msg, true,
                          status == 401 ? SIP_HDR_WWW_AUTHENTICATE : SIP_HDR_PROXY_AUTHENTICATE,
                          &takeChallenge, &search);
        const bool answerable = search.found.has_value();
        const bool stale = answerable && search.found->stale;
        // Our credentials for this very challenge were refused: sending them again would
        // only look like an attack. A stale nonce is the registrar's, not our fault.
        const bool sameChallenge = answerable && search.found->nonce == answeredNonce_ && !stale;
        const bool mayAnswer =
            answerable && !sameChallenge && (!answeredThisRound_ || (stale && !staleRetried_));
        if (mayAnswer) {
            if (answeredThisRound_)
                staleRetried_ = true;
            answeredThisRound_ = true;
            challenge_ = search.found;
            proxyChallenge_ = status == 407;
            nonceCount_ = 0;
            log_(QStringLiteral("answering the registrar's challenge for realm %1")
                     .arg(challenge_->realm),
                 false);
            if (const int e = send(expires_)) {
                failed(LineRegistration::State::Unreachable, 0,
                       QString::fromLocal8Bit(std::strerror(e)));
            }
            return;
        }
        // The next round starts without the refused credentials.
        challenge_.reset();
        answeredNonce_.clear();
        failed(LineRegistration::State::Refused, status,
               answerable
                   ? plText(msg->reason)
                   : QStringLiteral("%1 (challenge not understood)").arg(plText(msg->reason)));
        return;
    }
    if (status == 423 && !intervalRetried_) {
        const sip_hdr* minimum = sip_msg_hdr(msg, SIP_HDR_MIN_EXPIRES);
        const int wanted = minimum ? int(pl_u32(&minimum->val)) : 0;
        if (wanted > expires_ && wanted <= 86400) {
            intervalRetried_ = true;
            expires_ = wanted;
            if (send(expires_) == 0)
                return;
        }
    }
    int retryAfter = 0;
    if (const sip_hdr* h = sip_msg_hdr(msg, SIP_HDR_RETRY_AFTER))
        retryAfter = int(pl_u32(&h->val));
    failed(LineRegistration::State::Refused, status, plText(msg->reason), retryAfter);
}

void SipRegistration::succeeded(const ::sip_msg* msg) {
    ContactSearch search{settings_.contact, std::nullopt};
    sip_msg_hdr_apply(msg, true, SIP_HDR_CONTACT, &ourContact, &search);
    int granted = expires_;
    if (search.expires)
        granted = *search.expires;
    else if (pl_isset(&msg->expires))
        granted = int(pl_u32(&msg->expires));
    if (granted <= 0)
        granted = expires_;
    failures_ = 0;
    registered_ = true;
    tmr_start(&timer_, uint64_t(registrationRefreshSeconds(granted)) * 1000,
              &SipRegistration::onTimer, this);
    if (state_.state != LineRegistration::State::Registered) {
        log_(QStringLiteral("registered with %1 for %2 s")
                 .arg(QString::fromUtf8(settings_.registrarUri))
                 .arg(granted),
             false);
    }
    setState({LineRegistration::State::Registered, 0, {}});
}

void SipRegistration::failed(LineRegistration::State state, int status, const QString& reason,
                             int retryAfter) {
    ++failures_;
    registered_ = false;
    const int wait = std::max(registrationRetrySeconds(failures_), std::min(retryAfter, 86400));
    log_(QStringLiteral("registration %1: %2%3; next attempt in %4 s")
             .arg(state == LineRegistration::State::Refused ? QStringLiteral("refused")
                                                            : QStringLiteral("failed"),
                  status ? QStringLiteral("%1 ").arg(status) : QString(), reason)
             .arg(wait),
         true);
    tmr_start(&timer_, uint64_t(wait) * 1000, &SipRegistration::onTimer, this);
    setState({state, status, reason});
}

void SipRegistration::setState(const LineRegistration& next) {
    if (next == state_)
        return;
    state_ = next;
    if (changed_)
        changed_(state_);
}

void SipRegistration::unregister(std::function<void()> done) {
    tmr_cancel(&timer_);
    if (!registered_ || !dialog_) {
        request_ = static_cast<struct ::sip_request*>(mem_deref(request_));
        if (done)
            done();
        return;
    }
    unregistering_ = true;
    unregistered_ = std::move(done);
    answeredThisRound_ = false;
    if (send(0) != 0)
        finishUnregister();
}

void SipRegistration::finishUnregister() {
    registered_ = false;
    unregistering_ = false;
    if (auto done = std::move(unregistered_)) {
        unregistered_ = nullptr;
        done();
    }
}

}  // namespace kallomir
