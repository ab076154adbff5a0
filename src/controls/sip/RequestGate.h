#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace kallomir {

// What a SIP line lets in before a request may ring: only allowed peers, at a bounded rate,
// and only requests a user agent server can answer properly (RFC 3261 8.2).

// Addresses and ranges ("192.168.1.0/24", "10.0.0.5", "::1") a line takes calls from.
class AddressFilter {
public:
    void clear() { ranges_.clear(); }
    // Adds one entry; false when it is neither an address nor a range.
    bool add(const QString& entry);
    void add(const QHostAddress& address, int prefixLength);
    bool allows(const QHostAddress& address) const;
    bool isEmpty() const { return ranges_.isEmpty(); }
    QStringList describe() const;

private:
    QList<QPair<QHostAddress, int>> ranges_;
};

// New calls accepted per source address: a bucket of kBurst that refills at the rate a
// minute allows. Remembers a bounded number of sources, so forged sources cannot grow it.
class InviteRateLimiter {
public:
    static constexpr int kBurst = 10;
    static constexpr int kMaxSources = 1024;

    explicit InviteRateLimiter(int perMinute = 30) : perMinute_(perMinute) {}
    // True when a new call from source may proceed now; false when it is over its rate.
    bool allow(const QHostAddress& source, uint64_t nowMs);
    int trackedSources() const { return int(buckets_.size()); }

private:
    struct Bucket {
        double tokens = kBurst;
        uint64_t lastMs = 0;
    };
    int perMinute_;
    QHash<QString, Bucket> buckets_;
};

// The parts of a request that decide whether it is acceptable.
struct RequestFacts {
    QByteArray method;
    bool hasVia = true;
    bool hasFrom = true;
    bool hasTo = true;
    bool hasCallId = true;
    bool hasCSeq = true;
    QByteArray cseqMethod;
    bool inDialog = false;  // the To header has a tag
    QByteArray uriScheme;   // "sip", "sips", "tel"...
    bool secureTransport = false;
    QList<QByteArray> require;  // option tags the request insists on
    bool hasBody = false;
    QByteArray contentType;      // without parameters, lower case
    QByteArray contentEncoding;  // lower case, empty when absent
};

struct RequestVerdict {
    enum class Action { Pass, Drop, Reply };
    Action action = Action::Pass;
    int status = 0;
    QByteArray reason;
    QByteArray headers;  // extra header lines, each ending in CRLF
    QString why;         // for the log
};

// The methods a line takes outside a dialog, for Allow headers.
extern const char* const kAllowedMethods;

// Pass, drop (nothing can be answered: no Via) or the error response to send.
RequestVerdict checkRequest(const RequestFacts& request);

}  // namespace kallomir
