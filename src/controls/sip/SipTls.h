#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

struct tls;

namespace kallomir {

// How a line checks the PBX at the other end of its SIP-over-TLS connections.
struct TlsPeerPolicy {
    QStringList names;             // host names or addresses the certificate must name
    QString caFile;                // empty: the system's trusted certificates
    bool allowSelfSigned = false;  // a certificate that signs itself is taken (names still count)
};

// libre's TLS context for one line: our certificate (from a PEM file with the key, or a
// self-signed one made at start) and verification of every server we connect to against
// the policy. Connections the PBX opens to us are not asked for a certificate check (the
// line's allow-list decides who may call). Lives on the SIP thread.
class SipTls {
public:
    // nullptr and why when the context cannot be made.
    static std::unique_ptr<SipTls> make(const QString& certificateFile, const TlsPeerPolicy& policy,
                                        QString* why);
    ~SipTls();
    SipTls(const SipTls&) = delete;
    SipTls& operator=(const SipTls&) = delete;

    ::tls* context() const { return tls_; }
    // Why the last server certificate was refused, then forgets it; empty when none was.
    QString takeLastRefusal();

    // Used by the verification callback.
    struct State {
        TlsPeerPolicy policy;
        std::mutex mutex;
        QString lastRefusal;
    };

private:
    SipTls() = default;
    ::tls* tls_ = nullptr;
    std::unique_ptr<State> state_;
};

}  // namespace kallomir
