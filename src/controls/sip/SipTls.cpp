// libre declares its OpenSSL accessor only for builds that say they use OpenSSL.
#define USE_OPENSSL 1

#include "controls/sip/SipTls.h"

#include "controls/sip/ReHeaders.h"

#include <QFile>
#include <QHostAddress>

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace kallomir {

namespace {

bool certificateNames(X509* cert, const QString& name) {
    const QByteArray n = name.toUtf8();
    if (!QHostAddress(name).isNull())
        return X509_check_ip_asc(cert, n.constData(), 0) == 1;
    return X509_check_host(cert, n.constData(), size_t(n.size()), 0, nullptr) == 1;
}

int verifyServer(int preverifyOk, X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (!ssl || SSL_is_server(ssl))
        return 1;  // a PBX connecting to us: the allow-list decides, not a certificate
    auto* state = static_cast<SipTls::State*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!state)
        return preverifyOk;
    const int error = X509_STORE_CTX_get_error(store);
    const auto refuse = [&](const QString& why) {
        std::lock_guard lock(state->mutex);
        state->lastRefusal = why;
        return 0;
    };
    if (!preverifyOk) {
        const bool selfSigned = error == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
                                error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN;
        if (!(selfSigned && state->policy.allowSelfSigned)) {
            return refuse(QStringLiteral("certificato del centralino non valido: %1")
                              .arg(QString::fromUtf8(X509_verify_cert_error_string(error))));
        }
    }
    if (X509_STORE_CTX_get_error_depth(store) != 0)
        return 1;
    X509* cert = X509_STORE_CTX_get_current_cert(store);
    for (const QString& name : state->policy.names) {
        if (certificateNames(cert, name))
            return 1;
    }
    return refuse(QStringLiteral("il certificato del centralino non è per %1")
                      .arg(state->policy.names.join(QStringLiteral(", "))));
}

}  // namespace

std::unique_ptr<SipTls> SipTls::make(const QString& certificateFile, const TlsPeerPolicy& policy,
                                     QString* why) {
    std::unique_ptr<SipTls> out(new SipTls);
    const QByteArray keyFile = QFile::encodeName(certificateFile);
    int err = tls_alloc(&out->tls_, TLS_METHOD_SSLV23,
                        certificateFile.isEmpty() ? nullptr : keyFile.constData(), nullptr);
    if (err != 0) {
        out->tls_ = nullptr;
        *why = certificateFile.isEmpty() ? QStringLiteral("TLS not available (%1)").arg(err)
                                         : QStringLiteral("cannot use the certificate %1 (%2)")
                                               .arg(certificateFile)
                                               .arg(err);
        return nullptr;
    }
    // libre 1.1's EC variant fails on OpenSSL 3; its RSA one works.
    if (certificateFile.isEmpty() && tls_set_selfsigned_rsa(out->tls_, "kallomir", 2048) != 0) {
        *why = QStringLiteral("cannot make a certificate for incoming TLS");
        return nullptr;
    }
    SSL_CTX* ctx = tls_openssl_context(out->tls_);
    if (!ctx) {
        *why = QStringLiteral("TLS context missing");
        return nullptr;
    }
    if (policy.caFile.isEmpty()) {
        if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
            *why = QStringLiteral("the system's trusted certificates cannot be read");
            return nullptr;
        }
    } else {
        // Only the configured authority: a private PBX's own CA, or its certificate itself.
        X509_STORE* store = X509_STORE_new();
        if (!store ||
            X509_STORE_load_file(store, QFile::encodeName(policy.caFile).constData()) != 1) {
            X509_STORE_free(store);
            *why = QStringLiteral("cannot read the certificates in %1").arg(policy.caFile);
            return nullptr;
        }
        SSL_CTX_set_cert_store(ctx, store);
    }
    out->state_ = std::make_unique<State>();
    out->state_->policy = policy;
    SSL_CTX_set_app_data(ctx, out->state_.get());
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &verifyServer);
    return out;
}

SipTls::~SipTls() {
    if (tls_) {
        if (SSL_CTX* ctx = tls_openssl_context(tls_))
            SSL_CTX_set_app_data(ctx, nullptr);
    }
    mem_deref(tls_);
}

QString SipTls::takeLastRefusal() {
    if (!state_)
        return {};
    std::lock_guard lock(state_->mutex);
    return std::exchange(state_->lastRefusal, QString());
}

}  // namespace kallomir
