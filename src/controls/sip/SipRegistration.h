#pragma once

#include "controls/LineBackend.h"
#include "controls/sip/DigestAuth.h"
#include "controls/sip/ReHeaders.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <functional>
#include <optional>

namespace kallomir {

// Seconds to wait before the next round after `failures` failed rounds in a row: one
// minute, doubling, at most an hour. A registrar that refuses us is not hammered.
int registrationRetrySeconds(int failures);
// Seconds after a registration granted for `expires` seconds to renew it.
int registrationRefreshSeconds(int expires);

// The line's registration with its registrar, on libre's SIP stack (its thread only).
// A round is one REGISTER, and at most one more answering the registrar's challenge; a
// challenge we already answered with our credentials is a refusal (a wrong password is not
// sent again and again), and a refused or unanswered round is retried after a back-off.
class SipRegistration {
public:
    struct Settings {
        QByteArray registrarUri;  // request URI, transport included
        QByteArray aor;           // our address of record (To and From)
        QByteArray contact;       // our Contact URI
        QByteArray route;         // outbound proxy, empty for none
        QString authUser;
        QString password;
        int expires = 600;
    };
    using Changed = std::function<void(const LineRegistration&)>;
    using Log = std::function<void(const QString& text, bool problem)>;
    // The registrar answered from this address (it may send us calls from there).
    using Heard = std::function<void(const QHostAddress& from)>;
    // Why a TLS connection was refused, when one was: the transport error says only "failed".
    using TransportProblem = std::function<QString()>;

    SipRegistration(::sip* stack, Settings settings, Changed changed, Log log, Heard heard,
                    TransportProblem transportProblem);
    ~SipRegistration();
    SipRegistration(const SipRegistration&) = delete;
    SipRegistration& operator=(const SipRegistration&) = delete;

    void start();
    // Removes our binding (Expires: 0, challenge answered once); done() runs when the
    // registrar has answered or given up, at once when nothing is registered.
    void unregister(std::function<void()> done);

    const LineRegistration& state() const { return state_; }
    int failures() const { return failures_; }

private:
    static void onResponse(int err, const ::sip_msg* msg, void* arg);
    static void onTimer(void* arg);

    void round();
    int send(int expires);
    void handle(int err, const ::sip_msg* msg);
    void succeeded(const ::sip_msg* msg);
    void failed(LineRegistration::State state, int status, const QString& reason,
                int retryAfter = 0);
    void setState(const LineRegistration& next);
    void finishUnregister();

    ::sip* stack_;
    Settings settings_;
    Changed changed_;
    Log log_;
    Heard heard_;
    TransportProblem transportProblem_;
    ::sip_dialog* dialog_ = nullptr;
    struct ::sip_request* request_ = nullptr;
    ::tmr timer_{};
    LineRegistration state_;
    int failures_ = 0;
    int expires_ = 0;

    // The challenge we answer with, and what this round did with it.
    std::optional<DigestChallenge> challenge_;
    bool proxyChallenge_ = false;
    int nonceCount_ = 0;
    bool answeredThisRound_ = false;
    bool staleRetried_ = false;
    bool intervalRetried_ = false;
    QString answeredNonce_;

    bool registered_ = false;
    bool unregistering_ = false;
    std::function<void()> unregistered_;
};

}  // namespace kallomir
