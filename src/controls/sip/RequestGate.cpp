#include "controls/sip/RequestGate.h"

#include <algorithm>

namespace kallomir {

const char* const kAllowedMethods = "INVITE, ACK, CANCEL, BYE, OPTIONS";

namespace {

RequestVerdict reply(int status, const char* reason, const QString& why,
                     const QByteArray& headers = {}) {
    return {RequestVerdict::Action::Reply, status, reason, headers, why};
}

bool knownOutsideDialog(const QByteArray& method) {
    return method == "INVITE" || method == "ACK" || method == "CANCEL" || method == "BYE" ||
           method == "OPTIONS";
}

}  // namespace

bool AddressFilter::add(const QString& entry) {
    const QString e = entry.trimmed();
    if (e.contains(u'/')) {
        const auto subnet = QHostAddress::parseSubnet(e);
        if (subnet.first.isNull())
            return false;
        add(subnet.first, subnet.second);
        return true;
    }
    const QHostAddress a(e);
    if (a.isNull())
        return false;
    add(a, a.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
    return true;
}

void AddressFilter::add(const QHostAddress& address, int prefixLength) {
    const QPair<QHostAddress, int> range{address, prefixLength};
    if (!ranges_.contains(range))
        ranges_.append(range);
}

bool AddressFilter::allows(const QHostAddress& address) const {
    // An IPv4 peer may reach an IPv6 socket as ::ffff:a.b.c.d.
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QHostAddress plain = mapped ? QHostAddress(v4) : address;
    return std::any_of(ranges_.begin(), ranges_.end(), [&](const QPair<QHostAddress, int>& r) {
        return plain.isInSubnet(r.first, r.second);
    });
}

QStringList AddressFilter::describe() const {
    QStringList out;
    for (const auto& r : ranges_)
        out << QStringLiteral("%1/%2").arg(r.first.toString()).arg(r.second);
    return out;
}

bool InviteRateLimiter::allow(const QHostAddress& source, uint64_t nowMs) {
    if (perMinute_ <= 0)
        return true;
    const QString key = source.toString();
    auto it = buckets_.find(key);
    if (it == buckets_.end()) {
        if (buckets_.size() >= kMaxSources) {
            // Forget the source heard from longest ago.
            auto oldest = std::min_element(
                buckets_.begin(), buckets_.end(),
                [](const Bucket& a, const Bucket& b) { return a.lastMs < b.lastMs; });
            buckets_.erase(oldest);
        }
        it = buckets_.insert(key, Bucket{double(kBurst), nowMs});
    }
    Bucket& b = *it;
    b.tokens = std::min<double>(kBurst, b.tokens + double(nowMs - b.lastMs) * perMinute_ / 60000.0);
    b.lastMs = nowMs;
    if (b.tokens < 1.0)
        return false;
    b.tokens -= 1.0;
    return true;
}

RequestVerdict checkRequest(const RequestFacts& r) {
    if (!r.hasVia)
        return {RequestVerdict::Action::Drop, 0, {}, {}, QStringLiteral("no Via: cannot answer")};
    if (!r.hasFrom || !r.hasTo || !r.hasCallId || !r.hasCSeq) {
        QStringList missing;
        if (!r.hasFrom)
            missing << QStringLiteral("From");
        if (!r.hasTo)
            missing << QStringLiteral("To");
        if (!r.hasCallId)
            missing << QStringLiteral("Call-ID");
        if (!r.hasCSeq)
            missing << QStringLiteral("CSeq");
        return reply(400, "Bad Request", QStringLiteral("no ") + missing.join(u", "));
    }
    if (r.cseqMethod != r.method)
        return reply(400, "Bad Request", QStringLiteral("CSeq method does not match"));
    if (r.method == "ACK")
        return {};  // nothing else is checked on an ACK, and nothing is answered
    // RFC 3261 8.2.1: a method we do not take outside a dialog.
    if (!r.inDialog && !knownOutsideDialog(r.method)) {
        return reply(405, "Method Not Allowed", QStringLiteral("method not allowed"),
                     QByteArray("Allow: ") + kAllowedMethods + "\r\n");
    }
    // 8.2.2.1: SIPS needs TLS all the way; other schemes are not ours.
    if (r.uriScheme != "sip" && !(r.uriScheme == "sips" && r.secureTransport)) {
        return reply(416, "Unsupported URI Scheme",
                     QStringLiteral("request URI scheme %1 over %2")
                         .arg(QString::fromLatin1(r.uriScheme),
                              r.secureTransport ? QStringLiteral("TLS")
                                                : QStringLiteral("a plain transport")));
    }
    // 8.2.2.3: we implement no extension a request may require.
    if (r.method != "CANCEL" && !r.require.isEmpty()) {
        return reply(420, "Bad Extension", QStringLiteral("requires an extension"),
                     "Unsupported: " + r.require.join(", ") + "\r\n");
    }
    // 8.2.3: an offer must be a session description we read.
    if (r.method == "INVITE" && r.hasBody) {
        if (!r.contentEncoding.isEmpty() && r.contentEncoding != "identity") {
            return reply(415, "Unsupported Media Type", QStringLiteral("content encoding"),
                         "Accept-Encoding: identity\r\n");
        }
        if (r.contentType != "application/sdp") {
            return reply(415, "Unsupported Media Type",
                         QStringLiteral("body of type ") + QString::fromLatin1(r.contentType),
                         "Accept: application/sdp\r\n");
        }
    }
    return {};
}

}  // namespace kallomir
