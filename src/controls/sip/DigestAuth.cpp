#include "controls/sip/DigestAuth.h"

#include <QCryptographicHash>

namespace kallomir {

namespace {

QByteArray md5Hex(const QString& text) {
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex();
}

// A quoted-string: quotes and backslashes escaped, line breaks (which would end the
// header) left out.
QString quoted(const QString& value) {
    QString v = value;
    v.remove(u'\r').remove(u'\n');
    v.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + v + u'"';
}

}  // namespace

std::optional<QMap<QString, QString>> parseDigestParams(const QString& headerValue) {
    const QString text = headerValue.trimmed();
    if (!text.startsWith(u"Digest", Qt::CaseInsensitive))
        return std::nullopt;
    QMap<QString, QString> params;
    qsizetype i = 6;
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && (text[i] == u' ' || text[i] == u',' || text[i] == u'\t')) ++i;
        if (i >= n)
            break;
        const qsizetype eq = text.indexOf(u'=', i);
        if (eq < 0)
            return std::nullopt;
        const QString name = text.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        while (i < n && text[i] == u' ') ++i;
        QString value;
        if (i < n && text[i] == u'"') {
            ++i;
            while (i < n && text[i] != u'"') {
                if (text[i] == u'\\' && i + 1 < n)
                    ++i;
                value += text[i++];
            }
            if (i >= n)
                return std::nullopt;
            ++i;
        } else {
            const qsizetype comma = text.indexOf(u',', i);
            const qsizetype stop = comma < 0 ? n : comma;
            value = text.mid(i, stop - i).trimmed();
            i = stop;
        }
        if (name.isEmpty())
            return std::nullopt;
        params.insert(name, value);
    }
    return params;
}

std::optional<DigestChallenge> parseDigestChallenge(const QString& headerValue) {
    const auto params = parseDigestParams(headerValue);
    if (!params || !params->contains(QStringLiteral("realm")) ||
        !params->contains(QStringLiteral("nonce"))) {
        return std::nullopt;
    }
    DigestChallenge c;
    c.realm = params->value(QStringLiteral("realm"));
    c.nonce = params->value(QStringLiteral("nonce"));
    c.opaque = params->value(QStringLiteral("opaque"));
    c.algorithm = params->value(QStringLiteral("algorithm"), QStringLiteral("MD5"));
    if (c.algorithm.compare(u"MD5", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QStringList qops = params->value(QStringLiteral("qop")).split(u',', Qt::SkipEmptyParts);
    for (const QString& q : qops) {
        if (q.trimmed().compare(u"auth", Qt::CaseInsensitive) == 0)
            c.qopAuth = true;
    }
    c.stale = params->value(QStringLiteral("stale")).compare(u"true", Qt::CaseInsensitive) == 0;
    return c;
}

QByteArray digestResponse(const DigestChallenge& challenge, const DigestCredentials& cred,
                          const QString& method, const QString& uri, const QString& cnonce,
                          const QString& nonceCount) {
    const QByteArray ha1 = md5Hex(cred.user + u':' + challenge.realm + u':' + cred.password);
    const QByteArray ha2 = md5Hex(method + u':' + uri);
    if (challenge.qopAuth) {
        return md5Hex(QString::fromLatin1(ha1) + u':' + challenge.nonce + u':' + nonceCount + u':' +
                      cnonce + QStringLiteral(":auth:") + QString::fromLatin1(ha2));
    }
    return md5Hex(QString::fromLatin1(ha1) + u':' + challenge.nonce + u':' +
                  QString::fromLatin1(ha2));
}

QString digestAuthorization(const DigestChallenge& challenge, const DigestCredentials& cred,
                            const QString& method, const QString& uri, const QString& cnonce,
                            const QString& nonceCount) {
    QString out =
        QStringLiteral("Digest username=") + quoted(cred.user) + QStringLiteral(", realm=") +
        quoted(challenge.realm) + QStringLiteral(", nonce=") + quoted(challenge.nonce) +
        QStringLiteral(", uri=") + quoted(uri) + QStringLiteral(", response=\"") +
        QString::fromLatin1(digestResponse(challenge, cred, method, uri, cnonce, nonceCount)) +
        QStringLiteral("\", algorithm=MD5");
    if (challenge.qopAuth) {
        out += QStringLiteral(", qop=auth, nc=") + nonceCount + QStringLiteral(", cnonce=") +
               quoted(cnonce);
    }
    if (!challenge.opaque.isEmpty())
        out += QStringLiteral(", opaque=") + quoted(challenge.opaque);
    return out;
}

bool digestAuthorizationValid(const QString& authorizationValue, const QString& password,
                              const QString& method) {
    const auto p = parseDigestParams(authorizationValue);
    if (!p)
        return false;
    DigestChallenge c;
    c.realm = p->value(QStringLiteral("realm"));
    c.nonce = p->value(QStringLiteral("nonce"));
    c.qopAuth = p->value(QStringLiteral("qop")).compare(u"auth", Qt::CaseInsensitive) == 0;
    const QByteArray expected =
        digestResponse(c, {p->value(QStringLiteral("username")), password}, method,
                       p->value(QStringLiteral("uri")), p->value(QStringLiteral("cnonce")),
                       p->value(QStringLiteral("nc")));
    return !c.nonce.isEmpty() &&
           expected == p->value(QStringLiteral("response")).toLatin1().toLower();
}

}  // namespace kallomir
