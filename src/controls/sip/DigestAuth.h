#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace kallomir {

// HTTP digest authentication with MD5 as SIP registrars use it (RFC 2617, RFC 7616).
struct DigestChallenge {
    QString realm;
    QString nonce;
    QString opaque;
    QString algorithm = QStringLiteral("MD5");
    bool qopAuth = false;  // the server offers qop "auth"
    bool stale = false;
};

// Parameters of a "Digest k=v, k="v", ..." header value, names in lower case;
// nullopt when the scheme is not Digest or a quoted text is not closed.
std::optional<QMap<QString, QString>> parseDigestParams(const QString& headerValue);

// A challenge from WWW-Authenticate / Proxy-Authenticate; nullopt when it is not a digest
// challenge we can answer (no realm or nonce, or an algorithm other than MD5).
std::optional<DigestChallenge> parseDigestChallenge(const QString& headerValue);

struct DigestCredentials {
    QString user;
    QString password;
};

// The lower-case hex "response" value. With qop "auth" the client nonce and nonce count
// (eight hex digits) take part; without it they are ignored.
QByteArray digestResponse(const DigestChallenge& challenge, const DigestCredentials& cred,
                          const QString& method, const QString& uri, const QString& cnonce,
                          const QString& nonceCount);

// The whole Authorization header value answering the challenge.
QString digestAuthorization(const DigestChallenge& challenge, const DigestCredentials& cred,
                            const QString& method, const QString& uri, const QString& cnonce,
                            const QString& nonceCount);

// Checks an Authorization header value against the password: what a registrar does.
bool digestAuthorizationValid(const QString& authorizationValue, const QString& password,
                              const QString& method);

}  // namespace kallomir
